// Times the e-book listing of a large catalogue: saved as CSV, text and HTML
// (finished files), the first painted page of its preview, and the sqlite3
// shell writing the same query as CSV. Prints one figure per line.
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
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_listings DATABASE\n");
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
    std::printf("records: %lld\n", records);

    QTemporaryDir out;
    QElapsedTimer t;
    double csvSeconds = 0;
    try {
        const struct {
            ReportOutput format;
            const char *name;
        } formats[] = {{ReportOutput::Csv, "csv"}, {ReportOutput::Text, "txt"}, {ReportOutput::Html, "htm"}};
        // Each file the best of three runs: the machine is shared.
        for (const auto &f : formats) {
            const QString path = out.filePath(QStringLiteral("listing.") + QLatin1String(f.name));
            double best = 1e9;
            for (int run = 0; run < 3; ++run) {
                t.start();
                request.output = f.format;
                produceListingReport(request, ListingReport::Listing, path);
                best = qMin(best, t.nsecsElapsed() / 1e9);
            }
            if (f.format == ReportOutput::Csv)
                csvSeconds = best;
            std::printf("listing %s: %.2f s, %.1f MB, peak %ld MB\n", f.name, best,
                        QFileInfo(path).size() / 1048576.0, peakMb());
        }

        // The same statement through the sqlite3 shell, CSV to a file.
        const QStringList lines = listingStatement(Kind::Dzts, listingFacts(Kind::Dzts).layoutSelect, QDate(), QDate(),
                                                   QString());
        const QString sql = adaptStatement(lines.join(QLatin1Char('\n')), Dialect::Sqlite) + QLatin1Char(';');
        double shellSeconds = 1e9;
        for (int run = 0; run < 3; ++run) {
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
        std::printf("sqlite3 shell csv: %.2f s, %.1f MB\n", shellSeconds,
                    QFileInfo(out.filePath(QStringLiteral("shell.csv"))).size() / 1048576.0);
        std::printf("csv ratio (listing / sqlite3): %.2f (target <= 3)\n", csvSeconds / shellSeconds);

        // Preview: from the print command's layout to the first painted page.
        PreviewWatch watch(t);
        app.installEventFilter(&watch);
        t.start();
        {
            request.output = ReportOutput::Preview;
            ListingLayout layout(request);
            layout.preview(nullptr);
        }
        app.removeEventFilter(&watch);
        std::printf("first preview page painted: %.2f s (target < 1 s)\n", watch.firstMs / 1000.0);
        std::printf("whole preview filled: %.2f s, %d pages\n", watch.lastMs / 1000.0, watch.pages);
        std::printf("peak memory: %ld MB (target < 300 MB)\n", peakMb());
    } catch (const Error &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 5;
    }
    return 0;
}
