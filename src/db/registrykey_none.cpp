#include "registrykey.h"

// No registry here: the settings file is the key.
namespace lectoria::registrykey {

bool inUse() { return false; }
QString location() { return QString(); }
bool keyExists() { return false; }
QMap<QString, QString> readAll(QString *error)
{
    if (error) error->clear();
    return {};
}
QString createKeys() { return QString(); }
bool write(const QMap<QString, QString> &) { return false; }

} // namespace lectoria::registrykey
