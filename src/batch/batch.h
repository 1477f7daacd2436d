#pragma once
#include <QDate>
#include <QString>
#include <QStringList>

namespace lectoria::batch {

// Exit status of a run.
// NotAllImported: an import ran to its end, but not every record of a whole
// file went in (records refused, a file that ended early, no record found).
enum Status { Ok = 0, Usage = 1, Refused = 2, DatabaseFailed = 3, FileFailed = 4, NotAllImported = 5 };

// One parsed command line.
struct Request {
    QString command;     // report, export, import, backup
    QString kind;        // lower-case kind code
    QString report;      // stats, stats-sub, listing, book
    QString period = QStringLiteral("today");
    QString category;    // category id, as typed
    QString subcategory; // sub-category id, as typed
    bool chart = false;  // stats, stats-sub: a bar chart after the table (pdf, htm; txt and csv have none)
    QString format;      // txt, csv, htm, pdf
    QString output;
    QString input;       // import: the exchange file
    bool skipExisting = false; // import: pass over records already stored
    QString directory;   // backup
    QDate from, to;      // export
    QString operatorCode;
};

QString usageText();

// Parses the arguments (without the program name). False with *error set
// when they are wrong.
bool parse(const QStringList &args, Request *request, QString *error);

// A report period from today|month|all|YYYY-MM-DD..YYYY-MM-DD: the bounds
// (null for "all"), or false with *error naming what is wrong (the shape, a
// date that does not exist, a begin after the end).
bool parsePeriod(const QString &text, const QDate &today, QDate *begin, QDate *end, QString *error);

// Connects, runs the start-up steps, logs the operator in and runs the command.
int run(const Request &request, const QString &password);

} // namespace lectoria::batch
