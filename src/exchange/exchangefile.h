#pragma once
#include "exchangeinput.h"
#include "exchangekinds.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

class QIODevice;

namespace lectoria {

class GbkFileWriter;

// The exchange file: GBK text with CR LF line ends, a begin line, one block
// per record (a marker line, one "@@value @!" line per field, a marker line)
// and an end line. It carries no mark of its kind: the reader takes the lines
// as fields of the kind the operator names.
namespace ExchangeMarks {
inline const QString FileBegin = QStringLiteral("@@FILE_BEGIN@@");
inline const QString FileEnd = QStringLiteral("@@FILE_END@@");
inline const QString RecordBegin = QStringLiteral("@@RECORD_BEGIN@@");
inline const QString RecordEnd = QStringLiteral("@@RECORD_END@@");
inline const QString VolumeMark = QStringLiteral("(册数");
} // namespace ExchangeMarks

// One record's block as the writer produces it, CR LF after every line. The
// values are the kind's fields in file order (for the e-book title field, the
// title); volumes is the e-book's li_number. Each value is trimmed. A value the
// format cannot carry is altered so that the file stays readable, and
// *altered, when given, receives how many were: a line break in a one-line
// field becomes one blank, and "@!" that would end li_content before its last
// line gets a blank between "@" and "!".
QString formatRecord(const ExchangeKind &kind, const QVariantList &values, const QVariant &volumes = QVariant(),
                     int *altered = nullptr);

// Writes an exchange file: begin(), record() per record, end(); the caller
// commits the file writer.
class ExchangeWriter {
public:
    explicit ExchangeWriter(GbkFileWriter &out) : m_out(out) {}
    void begin();
    void record(const ExchangeKind &kind, const QVariantList &values, const QVariant &volumes = QVariant());
    void end();
    // Values altered so that the file stays readable (see formatRecord).
    int alteredValues() const { return m_altered; }

private:
    GbkFileWriter &m_out;
    int m_altered = 0;
};

// A value from its raw field text: the first two and the last two characters
// dropped, so "@@abc @!" gives "abc " (the blank before "@!" stays) and a
// text of four characters or fewer gives the empty value.
QString extractValue(const QString &raw);

// The e-book title field taken apart: the title before the first "(册数" and
// the count after it (its last character dropped when it holds ")"), the
// count "1" when there is none or it is empty. Both trimmed of nothing more.
struct VolumeTitle {
    QString title;
    QString count;
};
VolumeTitle splitVolumeTitle(const QString &raw);

// The values to bind for one record read from a file, in the statement's
// column order: text values as extracted (one trailing blank), numbers by the
// leading-zero rule, the e-book title split into title (one blank added) and
// volume count. False, with the reason, when a number field holds no number.
bool importValues(const ExchangeKind &kind, const QStringList &rawFields, QVariantList &values, QString *why = nullptr);

// The number that "0" followed by the value gives: an empty value gives 0,
// "12 " gives 12, "-5 " gives -5; anything else, or a number beyond the range
// of an integer column, gives false.
bool leadingZeroNumber(const QString &value, int *number);

// Reads an exchange file record by record for a kind of fieldCount fields.
// A line ends at LF; a CR is dropped wherever it stands; bytes that are not
// GBK become U+FFFD. Marker lines in the places of the record markers are
// not examined, so a file of another kind is read out of step, never with a
// crash. A file that ends early ends the reading with a step that says where.
//
// A line longer than MaxLineBytes, or a last field whose lines together are,
// is not kept: its bytes are passed over up to the next line end, so that
// memory stays bounded whatever the file holds (a file of one endless line
// included), the record it belongs to is delivered with that field empty and
// overlongLine() names the line. No value the site keeps comes near the cap:
// its fixed columns hold at most 128 characters, and a record's text is a
// web page's body of some kilobytes.
class ExchangeReader {
public:
    static constexpr qsizetype MaxLineBytes = 8 * 1024 * 1024;

    enum class Step {
        Record,           // the next record's raw field texts
        FileEnd,          // the end line came
        NoBeginLine,      // the file ended before its begin line
        EndedInRecord,    // the file ended inside a record, which is not delivered
        EndedBeforeEnd,   // the file ended after a record, before the end line
    };

    // With TextEncoding::Utf8 the lines are read as UTF-8 and a byte-order
    // mark at the start is dropped.
    ExchangeReader(QIODevice &in, int fieldCount, TextEncoding encoding = TextEncoding::Gbk);
    // The next step; once the reading has ended, the same step again. Throws
    // FileError when the device cannot be read.
    Step next(QStringList &rawFields);
    // Lines read so far (the line where the file ended, after an early end).
    qint64 linesRead() const { return m_lines; }
    // The first line of the record last delivered that went over the cap
    // (counted as linesRead() counts), or 0 when none did.
    qint64 overlongLine() const { return m_overlongLine; }

private:
    bool readLine(QString &line);
    QString decode(const char *data, qsizetype size);
    bool fill();
    bool passOverLine();
    void overlong(QString &line);
    void markOverlong();

    QIODevice &m_in;
    int m_fieldCount;
    TextEncoding m_encoding;
    QByteArray m_buffer;
    QByteArray m_stripped; // a line's bytes without its CRs, reused
    qsizetype m_pos = 0;
    qsizetype m_scan = 0; // no LF before this position
    bool m_atEnd = false;
    bool m_begun = false;
    Step m_final = Step::Record; // Record while reading goes on
    qint64 m_lines = 0;
    qint64 m_overlongLine = 0;
    qsizetype m_lastLineBytes = 0; // bytes of the line last read, without its line end
};

} // namespace lectoria
