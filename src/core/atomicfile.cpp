#include "atomicfile.h"
#include "errors.h"
#include "gbk.h"

#include <QFile>
#include <QDir>

#include <cstring>

namespace lectoria {
namespace {
QString describe(const QString &path, const QString &why)
{
    return QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), why);
}
} // namespace

namespace {
// Bytes gathered before they go to the file; the buffer holds twice as many
// so that most pieces are encoded straight into it.
constexpr qsizetype flushAt = 1 << 16;
} // namespace

GbkFileWriter::GbkFileWriter(const QString &path) : m_path(path), m_file(path)
{
    // Writing straight to the target when the folder forbids a temporary file
    // would risk a half-written target; refuse instead.
    m_file.setDirectWriteFallback(false);
    if (!m_file.open(QIODevice::WriteOnly))
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
    if (m_file.write(m_buffer.constData(), m_used) != m_used)
        throw FileError(describe(m_path, m_file.errorString()));
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
    if (!m_file.commit())
        throw FileError(describe(m_path, m_file.errorString()));
}

QByteArray readWholeFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw FileError(describe(path, f.errorString()));
    return f.readAll();
}

} // namespace lectoria
