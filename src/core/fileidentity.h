#pragma once
#include <QString>
#include <QtGlobal>

namespace lectoria {

// Which file a path reaches, whatever name or link it is reached by: the
// device and inode on Linux, the volume serial number and file index on
// Windows.
struct FileIdentity {
    quint64 volume = 0;
    quint64 index = 0;
    bool operator==(const FileIdentity &o) const { return volume == o.volume && index == o.index; }
};

// False when the path reaches nothing (or cannot be looked at). Otherwise the
// file's identity, and in *regular whether it is an ordinary file (not a
// folder, device, pipe or socket); a link is followed.
bool identifyFile(const QString &path, FileIdentity *id, bool *regular = nullptr);

// How file names compare on the platform's file systems.
#ifdef Q_OS_WIN
constexpr Qt::CaseSensitivity fileNameCase = Qt::CaseInsensitive;
#else
constexpr Qt::CaseSensitivity fileNameCase = Qt::CaseSensitive;
#endif

// Whether this process may write the existing file.
bool mayWriteFile(const QString &path);

} // namespace lectoria
