// Times the e-book listing of a large catalogue, one measurement per
// process so that the peak memory belongs to it alone:
//   bench_listings DATABASE file csv|txt|htm   the finished file (best of
//       three runs below 200,000 records); for CSV also the sqlite3 shell
//       writing the same query
//   bench_listings DATABASE preview            the first painted page of the
//       preview, the whole preview filled, the memory holding its pages
// Prints one figure per line.
#include "dialect.h"
#include "errors.h"
#include "libdb.h"
#include "listinglayouts.h"
#include "listingreports.h"
#include "listingstatements.h"
#include "listingkinds.h"
#include "pagesetup.h"
#include "prompt.h"
#include "reportpreview.h"
#include "streamingpreview.h"
#include "unglobal.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QWidget>

#include <sys/resource.h>

#include <cstdio>

using namespace lectoria;

namespace {

long peakMb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024;
}

// No printer: the designed page, as on a machine without one.
class NoPrinter : public report::Printers {
public:
    report::PrinterPaper defaultPaper() const override { return {}; }
};

// Notes the first paint of the preview's page, then waits for the last page
// (printing is offered again) and closes the preview.
class PreviewWatch : public QObject {
public:
    explicit PreviewWatch(QElapsedTimer &clock) : m_clock(clock)
    {
        connect(&m_poll, &QTimer::timeout, this, [this] {
            QWidget *w = QApplication::activeModalWidget();
            auto *print = w ? w->findChild<QToolButton *>(QStringLiteral("btPrint")) : nullptr;
            if (firstMs >= 0 && print && print->isEnabled()) {
                lastMs = m_clock.elapsed();
                pages = static_cast<report::ReportPreview *>(w)->pageCount();
                w->close();
            }
        });
        m_poll.start(10);
    }
    qint64 firstMs = -1;
    qint64 lastMs = -1;
    int pages = 0;
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Paint && firstMs < 0 && o->objectName() == QLatin1String("pageView"))
            // Read the clock once the paint itself is over.
            QTimer::singleShot(0, this, [this] { firstMs = m_clock.elapsed(); });
        return false;
    }

private:
    QElapsedTimer &m_clock;
    QTimer m_poll;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString mode = argc >= 3 ? QString::fromLatin1(argv[2]) : QString();
    const QString format = argc >= 4 ? QString::fromLatin1(argv[3]) : QString();
    ReportOutput output = ReportOutput::Csv;
    if (!((mode == QLatin1String("file") && reportOutputFromName(format, &output) && output != ReportOutput::Pdf)
          || mode == QLatin1String("preview"))) {
        std::fprintf(stderr, "usage: bench_listings DATABASE file csv|txt|htm\n"
                             "       bench_listings DATABASE preview\n");
        return 2;
    }
    const QString db = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    StreamPrompt quiet;
    installPrompt(&quiet);
    NoPrinter noPrinter;
    report::installPrinters(&noPrinter);

    ConnectionParams p;
    p.odbcName = QStringLiteral("sqlite:") + db;
    QString error;
    if (!LibDB::open(p, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 3;
    }
    Session &s = unGlobal();
    s.SchoolName = QStringLiteral("砚山实验中学");
    ReportRequest request; // e-books, every date and category
    request.kind = Kind::Dzts;
    const qint64 records = LibDB::scalar(QStringLiteral("select count(*) from www_lineread")).toLongLong();
    const long startMb = peakMb();

    QTemporaryDir out;
    QElapsedTimer t;
    try {
        if (mode == QLatin1String("file")) {
            const QString path = out.filePath(QStringLiteral("listing.") + format);
            const int runs = records < 200000 ? 3 : 1; // the machine is shared: best of three where it is quick
            double best = 1e9;
            for (int run = 0; run < runs; ++run) {
                t.start();
                request.output = output;
                produceListingReport(request, ListingReport::Listing, path);
                best = qMin(best, t.nsecsElapsed() / 1e9);
            }
            std::printf("%lld records, listing %s: %.2f s, %.1f MB, peak %ld MB (at start %ld MB)\n", records,
                        qPrintable(format), best, QFileInfo(path).size() / 1048576.0, peakMb(), startMb);
            if (output != ReportOutput::Csv)
                return 0;

            // The same statement through the sqlite3 shell, CSV to a file.
            const QStringList lines = listingStatement(Kind::Dzts, listingFacts(Kind::Dzts).layoutSelect, QDate(),
                                                       QDate(), QString(), Dialect::Sqlite);
            const QString sql = adaptStatement(lines.join(QLatin1Char('\n')), Dialect::Sqlite) + QLatin1Char(';');
            double shellSeconds = 1e9;
            for (int run = 0; run < runs; ++run) {
                QProcess shell;
                shell.setStandardOutputFile(out.filePath(QStringLiteral("shell.csv")));
                t.start();
                shell.start(QStringLiteral("sqlite3"), {QStringLiteral("-csv"), db, sql});
                if (!shell.waitForFinished(600000) || shell.exitCode() != 0) {
                    std::fprintf(stderr, "sqlite3 failed: %s\n", shell.readAllStandardError().constData());
                    return 4;
                }
                shellSeconds = qMin(shellSeconds, t.nsecsElapsed() / 1e9);
            }
            std::printf("%lld records, sqlite3 shell csv: %.2f s, %.1f MB; ratio listing / sqlite3 %.2f (target <= 3)\n",
                        records, shellSeconds, QFileInfo(out.filePath(QStringLiteral("shell.csv"))).size() / 1048576.0,
                        best / shellSeconds);
            return 0;
        }

        // Preview: from the print command's layout to the first painted page.
        PreviewWatch watch(t);
        app.installEventFilter(&watch);
        t.start();
        {
            request.output = ReportOutput::Preview;
            ListingLayout layout(request);
            previewLayout(layout, nullptr);
        }
        app.removeEventFilter(&watch);
        std::printf("%lld records, first preview page painted: %.2f s (target < 1 s)\n", records,
                    watch.firstMs / 1000.0);
        std::printf("%lld records, whole preview filled: %.2f s, %d pages, peak %ld MB (target < 300 MB)\n", records,
                    watch.lastMs / 1000.0, watch.pages, peakMb());
    } catch (const Error &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 5;
    }
    return 0;
}
