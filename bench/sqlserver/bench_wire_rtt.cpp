// The import of an exchange file over SQL Server's wire (FreeTDS to the TDS
// test server) with one record per request and in batches, directly on
// loopback and through a relay that holds every piece of data for a while
// in each direction (a round-trip time where the kernel gives none):
//   bench_wire_rtt SOURCE.db WORKDIR [ONE_WAY_MS [LABEL]]
// ONE_WAY_MS 0: directly, LABEL saying what delay the loopback has. rtt.sh
// runs it in a network namespace of its own. Prints per run the
// records per second and the round trips (requests the server logged) per
// record, and the round-trip time measured.
#include "catalogueexchange.h"
#include "errors.h"
#include "insertgroups.h"
#include "libdb.h"
#include "tdstestserver.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>

#include <cstdio>
#include <memory>

using namespace lectoria;

namespace {

// The relay (delayrelay.py beside this source) to a port; its own port.
class Relay {
public:
    Relay(int target, double oneWayMs)
    {
        m_process.start(QStringLiteral("python3"),
                        {QStringLiteral(LECTORIA_BENCH_RELAY), QString::number(target), QString::number(oneWayMs)});
        if (m_process.waitForReadyRead(10000)) {
            const QByteArray line = m_process.readLine().trimmed();
            if (line.startsWith("PORT "))
                m_port = line.mid(5).toInt();
        }
        if (m_port <= 0)
            throw Error(QStringLiteral("the delaying relay did not start"));
    }
    ~Relay()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(1000);
    }
    int port() const { return m_port; }

private:
    QProcess m_process;
    int m_port = 0;
};

void openSqlite(const QString &path)
{
    ConnectionParams p;
    p.odbcName = QStringLiteral("sqlite:") + path;
    QString error;
    if (!LibDB::open(p, &error))
        throw DbError(error);
}

struct Run {
    int inserted = 0;
    double seconds = 0;
    int requests = 0;
    double rttMs = 0;
};

// Imports the file into an empty database served by a new test server,
// reached directly or through a relay holding data oneWayMs each way.
Run importOnce(const QString &file, int perBatch, double oneWayMs)
{
    test::TestDatabase::Options empty;
    empty.categories = false;
    empty.operators = false;
    empty.open = false;
    test::TestDatabase target(empty);
    test::TdsTestServer server(target.path());
    if (!server.started())
        throw DbError(server.error());
    std::unique_ptr<Relay> relay;
    ConnectionParams p = server.params();
    if (oneWayMs > 0) {
        relay = std::make_unique<Relay>(server.port(), oneWayMs);
        p.odbcName.replace(QStringLiteral("PORT=%1").arg(server.port()), QStringLiteral("PORT=%1").arg(relay->port()));
    }
    QString why;
    if (!LibDB::open(p, &why))
        throw DbError(why);
    Run run;
    // The round trip as the import meets it: the median of simple requests.
    QVector<qint64> trips;
    for (int i = 0; i < 101; ++i) {
        QElapsedTimer t;
        t.start();
        LibDB::scalar(QStringLiteral("select 1"));
        trips << t.nsecsElapsed();
    }
    std::sort(trips.begin(), trips.end());
    run.rttMs = trips.at(trips.size() / 2) / 1e6;

    LibInsertGroups::setBatchLimit(perBatch);
    server.clearRequests();
    QElapsedTimer t;
    t.start();
    const ImportResult r = importCatalogue(Kind::Dzts, file);
    run.seconds = t.nsecsElapsed() / 1e9;
    run.requests = int(server.requests().size());
    run.inserted = r.inserted();
    LibInsertGroups::setBatchLimit(0);
    LibDB::close();
    if (r.stopped())
        throw DbError(r.stoppedBy);
    return run;
}

void print(const char *how, const char *where, const Run &r)
{
    std::printf("  %-24s %-34s %6d records in %7.2f s = %6.0f records/s; %.4f round trips per record "
                "(%d requests); round trip %.2f ms\n",
                how, where, r.inserted, r.seconds, r.inserted / r.seconds, double(r.requests) / qMax(1, r.inserted),
                r.requests, r.rttMs);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_wire_rtt SOURCE.db WORKDIR [ONE_WAY_MS]\n");
        return 2;
    }
    if (!test::TdsTestServer::unavailable().isEmpty()) {
        std::printf("import over the wire: %s\n", qPrintable(test::TdsTestServer::unavailable()));
        return 0;
    }
    const QString source = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    const QDir work(QString::fromLocal8Bit(argv[2]));
    const double relayMs = argc > 3 ? QString::fromLocal8Bit(argv[3]).toDouble() : 0;
    try {
        openSqlite(source);
        const QString file = work.filePath(QStringLiteral("records.dat"));
        exportCatalogue({Kind::Dzts, QDate(1900, 1, 1), QDate(2099, 12, 31), file});
        LibDB::close();

        const char *where = relayMs > 0 ? "through the delaying relay" : argc > 4 ? argv[4] : "on loopback";
        const Run one = importOnce(file, 1, relayMs);
        print("one record per request", where, one);
        const Run batches = importOnce(file, 0, relayMs);
        print("batches", where, batches);
        std::printf("  batches: %.1fx the records/s of one record per request\n",
                    (batches.inserted / batches.seconds) / (one.inserted / one.seconds));
    } catch (const Error &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 5;
    }
    return 0;
}
