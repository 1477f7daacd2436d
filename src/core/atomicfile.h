#pragma once
#include <QSaveFile>
#include <QString>

namespace lectoria {

// A text file written in GBK with CR LF line ends, through a temporary file
// beside the target that replaces it only when commit() succeeds. A failure
// at any point leaves the target as it was and throws FileError with the
// system's text.
class GbkFileWriter {
public:
    explicit GbkFileWriter(const QString &path);
    ~GbkFileWriter(); // without commit(), the temporary file is discarded

    void writeLine(const QString &line); // the line, then CR LF
    void write(const QString &text);     // as it is, no line end added
    void write(QStringView text);
    void writeRaw(const QByteArray &bytes);
    void commit();
    int unmappable() const { return m_unmappable; }
    const QString &path() const { return m_path; }

private:
    void flushBuffer();
    char *room(qsizetype size);
    QString m_path;
    QSaveFile m_file;
    QByteArray m_buffer; // its first m_used bytes are waiting to be written
    qsizetype m_used = 0;
    int m_unmappable = 0;
};

// Reads a whole file; throws FileError with the system's text.
QByteArray readWholeFile(const QString &path);

} // namespace lectoria
