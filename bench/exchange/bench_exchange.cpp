// Export of the e-book records of a database to an exchange file, import of
// that file into an empty database (one statement per record, each taking
// effect as it runs), and as reference the sqlite3 shell's .import of the
// same records as CSV.
#include "catalogueexchange.h"
#include "demodata.h"
#include "errors.h"
#include "libdb.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>

#include <cstdio>
#include <sys/resource.h>

using namespace lectoria;

namespace {

void openLibDB(const QString &path)
{
    ConnectionParams p;
    p.odbcName = QStringLiteral("sqlite:") + path;
    QString error;
    if (!LibDB::open(p, &error))
        throw DbError(error);
}

void emptyDatabase(const QString &path)
{
    QFile::remove(path);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-schema"));
        db.setDatabaseName(path);
        if (!db.open())
            throw DbError(path);
        QSqlQuery(db).exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        demo::createSchema(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-schema"));
}

QString csvField(const QString &v)
{
    if (!v.contains(QLatin1Char('"')) && !v.contains(QLatin1Char(',')) && !v.contains(QLatin1Char('\n'))
        && !v.contains(QLatin1Char('\r')))
        return v;
    QString q = v;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

QString sqlText(const QString &v)
{
    QString q = v;
    q.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + q + QLatin1Char('\'');
}

// The rows the import inserted, twice: as CSV for the full www_lineread
// table (id and entry time given, since .import fills every column), and as
// one INSERT statement per record for the shell.
int writeReferenceFiles(const QString &exchangePath, const QString &csvPath, const QString &sqlPath)
{
    QFile in(exchangePath), csv(csvPath), sql(sqlPath);
    if (!in.open(QIODevice::ReadOnly) || !csv.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || !sql.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw FileError(csvPath);
    sql.write("PRAGMA journal_mode=WAL;\nPRAGMA synchronous=NORMAL;\n");
    const ExchangeKind &k = exchangeKind(Kind::Dzts);
    ExchangeReader reader(in, int(k.fields.size()));
    QStringList raw;
    QVariantList v;
    int n = 0;
    const QString now = QStringLiteral("2024-05-10 12:00:00");
    QByteArray csvBuffer, sqlBuffer;
    auto flush = [&](bool always) {
        if (always || csvBuffer.size() > (1 << 20)) {
            csv.write(csvBuffer);
            sql.write(sqlBuffer);
            csvBuffer.clear();
            sqlBuffer.clear();
        }
    };
    while (reader.next(raw) == ExchangeReader::Step::Record) {
        if (!importValues(k, raw, v))
            continue;
        // v: title, number, typeid, format, tools, url, content
        const QStringList row = {QString::number(++n), csvField(v[0].toString()), v[2].toString(), now,
                                 csvField(v[6].toString()), csvField(v[3].toString()), csvField(v[4].toString()),
                                 csvField(v[5].toString()), v[1].toString()};
        csvBuffer += row.join(QLatin1Char(',')).toUtf8();
        csvBuffer += '\n';
        sqlBuffer += QStringLiteral("insert into www_lineread (li_title,li_number,li_typeid,li_format,li_tools,li_url,"
                                    "li_content) values (%1,%2,%3,%4,%5,%6,%7);\n")
                         .arg(sqlText(v[0].toString()), v[1].toString(), v[2].toString(), sqlText(v[3].toString()),
                              sqlText(v[4].toString()), sqlText(v[5].toString()), sqlText(v[6].toString()))
                         .toUtf8();
        flush(false);
    }
    flush(true);
    return n;
}

// Runs the sqlite3 shell on a database with the given input; the time taken in ms.
qint64 runShell(const QString &shell, const QString &database, const QByteArray &input)
{
    QProcess sqlite;
    sqlite.setProgram(shell);
    sqlite.setArguments({database});
    QElapsedTimer t;
    t.start();
    sqlite.start();
    sqlite.write(input);
    sqlite.closeWriteChannel();
    sqlite.waitForFinished(-1);
    const qint64 ms = t.elapsed();
    const QByteArray err = sqlite.readAllStandardError();
    if (!err.isEmpty())
        std::fprintf(stderr, "%s", err.constData());
    return ms;
}

double rate(int n, qint64 ms) { return ms > 0 ? n * 1000.0 / ms : 0; }

// Processor time of this process in ms; the machine is shared, so the wall
// time alone may say more about the neighbours than about the code.
qint64 cpuMs()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_exchange WORKDIR (holding source.db)\n");
        return 2;
    }
    const QDir work(QString::fromLocal8Bit(argv[1]));
    const QString source = work.filePath(QStringLiteral("source.db"));
    const QString file = work.filePath(QStringLiteral("ebooks.dat"));
    const QString target = work.filePath(QStringLiteral("target.db"));
    const QString reference = work.filePath(QStringLiteral("reference.db"));
    const QString csv = work.filePath(QStringLiteral("ebooks.csv"));
    try {
        openLibDB(source);
        // Three runs: the first meets the database file cold, the best shows
        // the code rather than the neighbours on a shared machine.
        QElapsedTimer t;
        qint64 cpu = 0;
        ExportResult ex;
        qint64 exportMs = -1, exportCpu = 0, firstMs = 0;
        for (int run = 0; run < 3; ++run) {
            t.start();
            cpu = cpuMs();
            ex = exportCatalogue({Kind::Dzts, QDate(2000, 1, 1), QDate(2100, 1, 1), file}, [](int) {});
            const qint64 ms = t.elapsed();
            if (run == 0)
                firstMs = ms;
            if (exportMs < 0 || ms < exportMs) {
                exportMs = ms;
                exportCpu = cpuMs() - cpu;
            }
        }

        // The same query with every value fetched and nothing written: what
        // the database and its driver take, the ceiling for the export.
        t.restart();
        cpu = cpuMs();
        int fetched = 0;
        {
            LibBulkRun bulk;
            QSqlQuery rows = LibDB::exec(exportQuery(Kind::Dzts, QDate(2000, 1, 1), QDate(2100, 1, 1)));
            const int columns = rows.record().count();
            while (rows.next()) {
                for (int c = 0; c < columns; ++c)
                    rows.value(c);
                ++fetched;
            }
        }
        const qint64 readMs = t.elapsed();
        const qint64 readCpu = cpuMs() - cpu;
        LibDB::close();
        std::printf("export: %d records, %.1f MB, best of 3 runs %.3f s = %.0f records/s (target >= 200000); "
                    "processor time %.3f s; first run %.3f s = %.0f records/s\n",
                    ex.records, QFileInfo(file).size() / 1e6, exportMs / 1000.0, rate(ex.records, exportMs),
                    exportCpu / 1000.0, firstMs / 1000.0, rate(ex.records, firstMs));
        std::printf("  of which reading: the query alone, every value fetched, %d rows in %.3f s = %.0f records/s; "
                    "processor time %.3f s\n",
                    fetched, readMs / 1000.0, rate(fetched, readMs), readCpu / 1000.0);

        emptyDatabase(target);
        openLibDB(target);
        t.restart();
        cpu = cpuMs();
        const ImportResult im = importCatalogue(Kind::Dzts, file, [](int) {});
        const qint64 importMs = t.elapsed();
        const qint64 importCpu = cpuMs() - cpu;
        LibDB::close();
        std::printf("import: %d records (%d failed) in %.3f s = %.0f records/s (target >= 20000); processor time %.3f s; "
                    "one INSERT per record, no enclosing transaction, WAL with synchronous=NORMAL\n",
                    im.inserted(), im.failed, importMs / 1000.0, rate(im.inserted(), importMs), importCpu / 1000.0);

        const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
        if (shell.isEmpty()) {
            std::printf("sqlite3 .import: sqlite3 shell not found, no reference\n");
            return im.failed == 0 ? 0 : 1;
        }
        const QString sql = work.filePath(QStringLiteral("ebooks.sql"));
        const int rows = writeReferenceFiles(file, csv, sql);
        emptyDatabase(reference);
        const qint64 shellMs = runShell(shell, reference, QStringLiteral("PRAGMA journal_mode=WAL;\nPRAGMA synchronous=NORMAL;\n"
                                                                         ".import --csv %1 www_lineread\n")
                                                              .arg(csv)
                                                              .toUtf8());
        std::printf("sqlite3 .import --csv of the same %d rows (the shell's one transaction): %.3f s = %.0f records/s\n",
                    rows, shellMs / 1000.0, rate(rows, shellMs));
        std::printf("ratio import / sqlite3 .import: %.2f (sqlite3 .import is %.1f times faster)\n",
                    rate(im.inserted(), importMs) / rate(rows, shellMs), double(importMs) / qMax<qint64>(1, shellMs));

        // What the engine itself does with one statement per record, each
        // committed by itself: the floor under any import of this kind.
        emptyDatabase(reference);
        const qint64 autoMs = runShell(shell, reference, QByteArray(".read ") + QFile::encodeName(sql) + '\n');
        std::printf("sqlite3 shell, the same %d rows as one INSERT each (autocommit, WAL, synchronous=NORMAL): %.3f s = "
                    "%.0f records/s; ratio import / this: %.2f\n",
                    rows, autoMs / 1000.0, rate(rows, autoMs), rate(im.inserted(), importMs) / rate(rows, autoMs));
        return im.failed == 0 ? 0 : 1;
    } catch (const Error &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 3;
    }
}
