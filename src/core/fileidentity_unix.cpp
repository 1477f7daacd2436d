#include "fileidentity.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace lectoria {

bool identifyFile(const QString &path, FileIdentity *id, bool *regular)
{
    struct stat s {};
    if (::stat(QFile::encodeName(path).constData(), &s) != 0)
        return false;
    *id = {quint64(s.st_dev), quint64(s.st_ino)};
    if (regular)
        *regular = S_ISREG(s.st_mode);
    return true;
}

bool mayWriteFile(const QString &path) { return ::access(QFile::encodeName(path).constData(), W_OK) == 0; }

} // namespace lectoria
