#pragma once
#include <QSaveFile>
#include <QString>
#include <QStringList>

namespace lectoria {

// A text file written in GBK with CR LF line ends, through a temporary file
// beside the target that replaces it only when commit() succeeds. A target
// that checkOutputTarget() refuses is never opened. A failure at any point
// leaves the target as it was and throws FileError with the system's text.
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

// Files no output may replace, whatever name reaches them: the open
// database and its companion files (kept here by the database layer while
// the database is open). Each is compared by the file it is, or for one that
// does not exist yet, by its folder and name.
void setGuardedFiles(const QStringList &paths);

// Throws FileError, before anything is written, unless a written file may
// replace path: a path that names nothing yet or a regular file (a link is
// followed), and none of the guarded files. A device, a FIFO, a folder or a
// socket is never replaced.
void checkOutputTarget(const QString &path);

// Reads a whole file; throws FileError with the system's text.
QByteArray readWholeFile(const QString &path);

} // namespace lectoria
