#include "atomicfile.h"
#include "errors.h"
#include "gbk.h"

#include <QFile>
#include <QDir>

namespace lectoria {
namespace {
QString describe(const QString &path, const QString &why)
{
    return QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), why);
}
} // namespace

GbkFileWriter::GbkFileWriter(const QString &path) : m_path(path), m_file(path)
{
    // Writing straight to the target when the folder forbids a temporary file
    // would risk a half-written target; refuse instead.
    m_file.setDirectWriteFallback(false);
    if (!m_file.open(QIODevice::WriteOnly))
        throw FileError(describe(path, m_file.errorString()));
    m_buffer.reserve(1 << 16);
}

GbkFileWriter::~GbkFileWriter()
{
    if (m_file.isOpen())
        m_file.cancelWriting();
}

void GbkFileWriter::flushBuffer()
{
    if (m_buffer.isEmpty())
        return;
    if (m_file.write(m_buffer) != m_buffer.size())
        throw FileError(describe(m_path, m_file.errorString()));
    // Keeps its capacity: releasing and regrowing the buffer on every flush
    // makes the allocator hand memory back to the system each time.
    m_buffer.resize(0);
}

void GbkFileWriter::writeRaw(const QByteArray &bytes)
{
    m_buffer += bytes;
    if (m_buffer.size() >= (1 << 16))
        flushBuffer();
}

void GbkFileWriter::write(const QString &text)
{
    int bad = 0;
    writeRaw(Gbk::encode(text, &bad));
    m_unmappable += bad;
}

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
