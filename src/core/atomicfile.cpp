#include "atomicfile.h"
#include "errors.h"
#include "fileidentity.h"
#include "gbk.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

namespace lectoria {
namespace {
QString describe(const QString &path, const QString &why)
{
    return QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), why);
}

// A write that failed, in the operator's words first: a full disk and a
// file-size limit (the runner ignores SIGXFSZ, so the write fails with
// EFBIG) say the same to whoever has to free space; the system's text after.
QString writeFailure(int err, const QString &systemText)
{
    if (err == ENOSPC || err == EDQUOT || err == EFBIG)
        return QStringLiteral("磁盘已满或文件超过了允许的大小，文件没有写成（%1）。").arg(systemText);
    return systemText;
}
} // namespace

namespace {
// Bytes gathered before they go to the file; the buffer holds twice as many
// so that most pieces are encoded straight into it.
constexpr qsizetype flushAt = 1 << 16;
} // namespace

namespace {

using FileId = FileIdentity;

bool identify(const QString &path, FileId *id, bool *regular = nullptr) { return identifyFile(path, id, regular); }

// A path by its folder's identity and its own name, for a file that may not exist.
struct PlaceId {
    FileId folder;
    QString name;
    bool operator==(const PlaceId &o) const
    {
        return folder == o.folder && name.compare(o.name, fileNameCase) == 0;
    }
};

bool place(const QString &path, PlaceId *id)
{
    const QFileInfo info(path);
    id->name = info.fileName();
    return identify(info.absolutePath(), &id->folder);
}

QStringList &guardedFiles()
{
    static QStringList paths;
    return paths;
}

} // namespace

void setGuardedFiles(const QStringList &paths) { guardedFiles() = paths; }

void checkOutputTarget(const QString &path)
{
    FileId target;
    bool regular = false;
    const bool exists = identify(path, &target, &regular);
    if (exists && !regular)
        throw FileError(describe(path, QStringLiteral("不是普通文件（而是设备、管道、文件夹等），不能用作输出文件。")));
    PlaceId where;
    const bool placed = !exists && place(path, &where);
    for (const QString &guarded : guardedFiles()) {
        FileId id;
        PlaceId at;
        const bool same = exists ? identify(guarded, &id) && id == target
                                 : placed && !QFileInfo::exists(guarded) && place(guarded, &at) && at == where;
        if (same)
            throw FileError(describe(path, QStringLiteral("是正在使用的数据库文件（或其附属文件），不能用作输出文件。")));
    }
}

GbkFileWriter::GbkFileWriter(const QString &path) : m_path(path), m_file(path)
{
    checkOutputTarget(path);
    // Writing straight to the target when the folder forbids a temporary file
    // would risk a half-written target; refuse instead.
    m_file.setDirectWriteFallback(false);
    // Unbuffered: the writer gathers its own chunks, and each write reaches
    // the system at once, so that its failure comes with the system's reason.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw FileError(describe(path, m_file.errorString()));
    m_buffer.resize(2 * flushAt);
}

GbkFileWriter::~GbkFileWriter()
{
    if (m_file.isOpen())
        m_file.cancelWriting();
}

void GbkFileWriter::flushBuffer()
{
    if (m_used == 0)
        return;
    // A disk that fills up takes part of a write without a complaint; only
    // the next write fails, with the system's reason.
    for (qsizetype done = 0; done < m_used;) {
        errno = 0;
        const qint64 wrote = m_file.write(m_buffer.constData() + done, m_used - done);
        if (wrote <= 0) {
            const int err = errno;
            throw FileError(describe(m_path, writeFailure(err, m_file.errorString())));
        }
        done += wrote;
    }
    m_used = 0;
}

// Room for size more bytes after the m_used waiting ones.
char *GbkFileWriter::room(qsizetype size)
{
    if (m_used + size > m_buffer.size()) {
        flushBuffer();
        if (size > m_buffer.size())
            m_buffer.resize(size);
    }
    return m_buffer.data() + m_used;
}

void GbkFileWriter::writeRaw(const QByteArray &bytes)
{
    std::memcpy(room(bytes.size()), bytes.constData(), size_t(bytes.size()));
    m_used += bytes.size();
    if (m_used >= flushAt)
        flushBuffer();
}

void GbkFileWriter::write(QStringView text)
{
    // Encoded straight into the buffer: no byte array per piece written.
    char *const at = room(text.size() * 2);
    m_used += Gbk::encodeInto(text, at, &m_unmappable) - at;
    if (m_used >= flushAt)
        flushBuffer();
}

void GbkFileWriter::write(const QString &text) { write(QStringView(text)); }

void GbkFileWriter::writeLine(const QString &line)
{
    write(line);
    writeRaw(QByteArrayLiteral("\r\n"));
}

void GbkFileWriter::commit()
{
    flushBuffer();
    errno = 0;
    if (!m_file.commit()) {
        const int err = errno;
        throw FileError(describe(m_path, writeFailure(err, m_file.errorString())));
    }
}

QByteArray readWholeFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw FileError(describe(path, f.errorString()));
    return f.readAll();
}

} // namespace lectoria
