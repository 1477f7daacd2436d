// The same work on the embedded SQLite engine and over SQL Server's wire
// (unixODBC, FreeTDS and Qt's ODBC driver to the TDS test server on
// loopback, which answers from a copy of the same database):
//   - the e-book listing of every record as a CSV file (best of three), and
//     whether the two files are byte for byte the same;
//   - the import of an exchange file of those records into an empty
//     database, and over the wire the requests the server received per
//     imported record.
//   bench_sqlserver DATABASE WORKDIR
// Prints one figure per line.
#include "catalogueexchange.h"
#include "errors.h"
#include "libdb.h"
#include "listingreports.h"
#include "pagesetup.h"
#include "prompt.h"
#include "tdstestserver.h"
#include "testsupport.h"
#include "unglobal.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

using namespace lectoria;

namespace {

class NoPrinter : public report::Printers {
public:
    report::PrinterPaper defaultPaper() const override { return {}; }
};

void openSqlite(const QString &path)
{
    ConnectionParams p;
    p.odbcName = QStringLiteral("sqlite:") + path;
    QString error;
    if (!LibDB::open(p, &error))
        throw DbError(error);
}

void copyDatabase(const QString &from, const QString &to)
{
    QFile::remove(to);
    openSqlite(from);
    LibDB::exec(QStringLiteral("VACUUM INTO '%1'").arg(to));
    LibDB::close();
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The listing's file; the best of three runs in seconds.
double listing(const QString &path)
{
    ReportRequest request; // e-books, every date and category
    request.kind = Kind::Dzts;
    request.output = ReportOutput::Csv;
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer t;
        t.start();
        produceListingReport(request, ListingReport::Listing, path);
        best = qMin(best, t.nsecsElapsed() / 1e9);
    }
    return best;
}

double import(const QString &file, ImportResult *r)
{
    QElapsedTimer t;
    t.start();
    *r = importCatalogue(Kind::Dzts, file);
    return t.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_sqlserver DATABASE WORKDIR\n");
        return 2;
    }
    const QString source = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    const QDir work(QString::fromLocal8Bit(argv[2]));
    if (!test::TdsTestServer::unavailable().isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(test::TdsTestServer::unavailable()));
        return 3;
    }
    StreamPrompt quiet;
    installPrompt(&quiet);
    NoPrinter noPrinter;
    report::installPrinters(&noPrinter);
    unGlobal().SchoolName = QStringLiteral("砚山实验中学");

    try {
        // Listing.
        openSqlite(source);
        const qint64 records = LibDB::scalar(QStringLiteral("select count(*) from www_lineread")).toLongLong();
        const double sqliteListing = listing(work.filePath(QStringLiteral("sqlite.csv")));
        const QString exchange = work.filePath(QStringLiteral("records.dat"));
        exportCatalogue({Kind::Dzts, QDate(1900, 1, 1), QDate(2099, 12, 31), exchange});
        LibDB::close();

        const QString served = work.filePath(QStringLiteral("served.db"));
        copyDatabase(source, served);
        double wireListing = 0;
        {
            test::TdsTestServer server(served);
            if (!server.started())
                throw DbError(server.error());
            server.openAsLibDB();
            wireListing = listing(work.filePath(QStringLiteral("wire.csv")));
            LibDB::close();
        }
        const bool same = readAll(work.filePath(QStringLiteral("sqlite.csv")))
            == readAll(work.filePath(QStringLiteral("wire.csv")));
        std::printf("%lld records, listing csv: SQLite %.2f s, FreeTDS to the TDS test server %.2f s (%.1fx); "
                    "files identical: %s\n",
                    records, sqliteListing, wireListing, wireListing / sqliteListing, same ? "yes" : "NO");

        // Import.
        // Empty databases of the site's schema, as the tests make them.
        test::TestDatabase::Options empty;
        empty.categories = false;
        empty.operators = false;
        empty.open = false;
        test::TestDatabase sqliteTarget(empty), wireTarget(empty);
        openSqlite(sqliteTarget.path());
        ImportResult r;
        const double sqliteImport = import(exchange, &r);
        LibDB::close();
        const int sqliteIn = r.inserted();

        double wireImport = 0;
        int requests = 0;
        {
            test::TdsTestServer server(wireTarget.path());
            if (!server.started())
                throw DbError(server.error());
            server.openAsLibDB();
            server.clearRequests();
            wireImport = import(exchange, &r);
            requests = int(server.requests().size());
            LibDB::close();
        }
        std::printf("%d records, import: SQLite %.2f s (%.0f records/s), FreeTDS to the TDS test server %.2f s "
                    "(%.0f records/s, %d inserted)\n",
                    sqliteIn, sqliteImport, sqliteIn / sqliteImport, wireImport, r.inserted() / wireImport,
                    r.inserted());
        std::printf("requests to the server per imported record: %.4f (%d requests; target: <= 0.01)\n",
                    double(requests) / qMax(1, r.inserted()), requests);
    } catch (const Error &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 5;
    }
    return 0;
}
