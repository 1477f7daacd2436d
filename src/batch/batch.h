#pragma once
#include "catalogueexchange.h"
#include "listingreports.h"
#include "reportrequest.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>

namespace lectoria::batch {

// Exit status of a run.
// NotAllImported: an import ran to its end, but not every record of a whole
// file went in (records refused, a file that ended early, no record found).
enum Status { Ok = 0, Usage = 1, Refused = 2, DatabaseFailed = 3, FileFailed = 4, NotAllImported = 5 };

// One parsed command line: the requests the console's own libraries take,
// each rule of the arguments checked once, here.
struct Request {
    enum class Command { Report, Export, Import, Backup };
    Command command = Command::Report;
    QString operatorCode;

    // report: everything but the period's bounds, which periodFor gives when
    // the report runs (today is the day it runs on).
    ReportRequest report;
    std::optional<ListingReport> listing; // none: the statistics ("stats")
    PeriodChoice period = PeriodChoice::Today;
    QDate from, to;                        // PeriodChoice::Range
    // report, export: a path or "-" (standard output)
    QString output;

    // export: kind and dates (its path is the output's when it runs)
    ExportRequest exported;

    // import
    Kind importKind = Kind::Dzts;
    QString input; // the exchange file
    ExistingRecords existing = ExistingRecords::Insert;
    TextEncoding encoding = TextEncoding::Gbk; // --encoding

    // backup
    QString directory;
};

QString usageText();

// Parses the arguments (without the program name). False with *error set
// when they are wrong.
bool parse(const QStringList &args, Request *request, QString *error);

// Connects, runs the start-up steps, logs the operator in and runs the command.
int run(const Request &request, const QString &password);

} // namespace lectoria::batch
