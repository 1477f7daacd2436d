#include "fileidentity.h"

#include <QDir>

#include <windows.h>

namespace lectoria {
namespace {

std::wstring native(const QString &path) { return QDir::toNativeSeparators(path).toStdWString(); }

} // namespace

bool identifyFile(const QString &path, FileIdentity *id, bool *regular)
{
    // No access asked for: a file another program holds open (the database)
    // can still be looked at. Backup semantics let a folder be opened too.
    HANDLE h = CreateFileW(native(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(h, &info) != 0;
    const DWORD type = GetFileType(h);
    CloseHandle(h);
    if (!known) {
        // A device (NUL, CON, a pipe) has no file index: it is never an output file.
        if (type == FILE_TYPE_DISK)
            return false;
        *id = {};
        if (regular)
            *regular = false;
        return true;
    }
    *id = {quint64(info.dwVolumeSerialNumber), quint64(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
    if (regular)
        *regular = type == FILE_TYPE_DISK && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    return true;
}

bool mayWriteFile(const QString &path)
{
    const DWORD attributes = GetFileAttributesW(native(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_READONLY)
           && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace lectoria
