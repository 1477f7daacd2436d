#pragma once
#include "dialect.h"
#include "exchangefile.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>

namespace lectoria {

// Export and import of catalogue records without windows: the dialogs and
// the command-line runner call these and show the results through the prompt
// service. Both run on the calling thread and call progress(done) after every
// record written or read; done counts from 1.
using ExchangeProgress = std::function<void(int done)>;

struct ExportRequest {
    Kind kind = Kind::Dzts;
    QDate first; // entry dates from this day
    QDate last;  // to this day, both included
    QString path;
};

struct ExportResult {
    int records = 0;    // record blocks written
    int altered = 0;    // values altered so that the file stays readable
    int unmappable = 0; // characters GBK cannot carry, written as "?"
};

// The query of an export, as its lines.
QStringList exportQuery(Kind kind, const QDate &first, const QDate &last, const Dialect &dialect);

// Writes the records of one kind entered within the days to the file (trimmed
// path), reading the rows as it writes them; records with an empty title are
// left out. The file replaces the target only when complete. Throws DbError
// (before the file is touched when the query fails) or FileError; the target
// is then left as it was.
ExportResult exportCatalogue(const ExportRequest &request, const ExchangeProgress &progress = {});

// "数据导出成功，共[n]条记录!", and what was altered on the way.
QString exportMessage(const ExportResult &result);

// What an import does with a record that is already stored.
enum class ExistingRecords {
    Insert, // insert it again: every record of the file is inserted
    Skip,   // pass it over and count it (see StoredRecords)
};

struct ImportResult {
    int read = 0;    // records read from the file and dealt with
    int failed = 0;  // records refused (a value the column does not take, a conversion)
    int skipped = 0; // records passed over as already stored
    QString firstFailure;
    ExchangeReader::Step ending = ExchangeReader::Step::FileEnd;
    qint64 endLine = 0; // lines read when the reading ended
    // The database's text when a failure of the database itself (not of a
    // record) stopped the import at record read + 1, which did not go in.
    QString stoppedBy;
    // Groups committed and the longest time one stayed open (ms): how long
    // the import kept its new rows locked from the site's readers.
    int groups = 0;
    qint64 longestGroupMs = 0;
    int inserted() const { return read - failed - skipped; }
    bool stopped() const { return !stoppedBy.isEmpty(); }
    // Every record of a whole file went in or was already stored.
    bool complete() const { return !stopped() && failed == 0 && ending == ExchangeReader::Step::FileEnd; }
};

// "您确定要导入[电子图书]数据码？"
QString importQuestion(Kind kind);

// Asked when the file of an import looks like UTF-8: "文件似乎是UTF-8编码…",
// Yes reads it as UTF-8.
QString utf8Question();

// The INSERT statement of a kind as its lines: the header lines, then one
// placeholder line per value ("?," and the last "?)").
QStringList importStatement(Kind kind);

// Reads the file (trimmed path) as records of the kind and inserts them,
// committed in groups (LibInsertGroups: up to 1,000 records or 200 ms each,
// a savepoint per record): on SQLite each as it is read, on SQL Server in
// batches of up to 200 records per request. With
// ExistingRecords::Skip a record equal to one the table held before the
// import (StoredRecords) is counted as skipped instead. A record that cannot
// be converted or whose values the database refuses is counted and the
// import goes on; the rest of its group stays. A failure of the database
// itself (a lock held too long, a read-only or full database, a lost
// connection) stops the import at that record, after committing what its
// group had inserted before it (when the database rolled the group back, the
// import counts as stopped at the group's first record); a file that ends
// early ends it there; either way the records inserted stay. Throws
// FileError when the file cannot be opened or read, is no regular file or
// pipe, or is not text in the encoding (LooksUtf8Error: GBK asked for, the
// bytes are UTF-8); nothing is stored then.
ImportResult importCatalogue(Kind kind, const QString &path, const ExchangeProgress &progress = {},
                             ExistingRecords existing = ExistingRecords::Insert,
                             TextEncoding encoding = TextEncoding::Gbk);

// "数据导入成功，共[n]条记录，请检查分类是否正确!", with the failures, the
// records skipped as already stored and where the file ended when it ended
// early; for a stopped import, where it stopped, why, and how many records
// went in.
QString importMessage(const ImportResult &result);

} // namespace lectoria
