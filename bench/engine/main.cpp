// Report engine benchmark: a synthetic listing of N detail rows, a group
// every 50 rows, filled and written as one format. Prints rows per second
// and the process's peak memory. One format per process, so that the peak
// belongs to that format alone.
#include "reportengine.h"
#include "reportwriters.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>
#include <cstring>

using namespace lectoria::report;

namespace {

// Rows made as they are read, so the source itself holds no memory. Dates
// come as text, as SQLite gives them.
class SyntheticRows : public RowSource {
public:
    explicit SyntheticRows(int n) : m_n(n)
    {
        for (int d = 0; d < 365; ++d)
            m_dates << QDate(2024, 1, 1).addDays(d).toString(QStringLiteral("yyyy-MM-dd 08:30:00"));
    }
    void restart() override { m_i = 0; }
    QStringList columns() const override
    {
        return {QStringLiteral("li_title"), QStringLiteral("lt_notice"), QStringLiteral("li_number"),
                QStringLiteral("li_logtime")};
    }
    bool next(QVector<QVariant> &row) override
    {
        if (m_i >= m_n)
            return false;
        const int i = m_i++;
        row.resize(4);
        row[0] = QStringLiteral("电子图书标题 ") + QString::number(i) + QStringLiteral(" Digital Library Title");
        row[1] = QStringLiteral("类别") + QString::number(i / 50) + QStringLiteral("    ");
        row[2] = i % 7 + 1;
        row[3] = m_dates[i % 365];
        return true;
    }

private:
    int m_n;
    int m_i = 0;
    QStringList m_dates;
};

// A listing layout like the catalogue listings: page header, group header
// with a caption child, detail, group footer with subtotals, summary, page
// footer with the page number. Grid files (CSV, HTML) keep the detail only.
void buildListing(Report &r, bool gridFile)
{
    r.setFont(FontSpec{QStringLiteral("宋体"), 9});
    Band &ph = r.pageHeader();
    ph.setHeight(mm(12));
    ph.addLabel(QStringLiteral("砚池中学"), {0, mm(2), mm(96), mm(6)}, Align::Right)->setFont({QStringLiteral("宋体"), 14});
    ph.addLabel(QStringLiteral("图书馆电子图书目录"), {mm(97), mm(2), mm(90), mm(6)})->setFont({QStringLiteral("黑体"), 14});
    ph.addLabel(QStringLiteral("加入日期：2024-01-01到2024-12-31"), {mm(100), mm(8), mm(83), mm(4)}, Align::Right);

    Group &g = r.addGroup({QStringLiteral("lt_notice")});
    g.header().setHeight(mm(8));
    g.header().addLabel(QStringLiteral("类别："), {0, mm(2), mm(15), mm(5)})->setFont({QStringLiteral("黑体"), 12, true});
    g.header().addField(QStringLiteral("lt_notice"), {mm(15), mm(2), mm(80), mm(5)})->setFont({QStringLiteral("黑体"), 12, true});
    Band &captions = g.header().addChild(mm(6));
    captions.setFrame(false, true);
    captions.addLabel(QStringLiteral("标题"), {mm(2), mm(1), mm(20), mm(4)});
    captions.addLabel(QStringLiteral("册数"), {mm(140), mm(1), mm(15), mm(4)});
    captions.addLabel(QStringLiteral("加入日期"), {mm(160), mm(1), mm(25), mm(4)});

    Band &d = r.detail();
    d.setHeight(mm(5));
    d.addField(QStringLiteral("li_title"), {mm(2), mm(0.5), mm(110), mm(4)})->setClip(true);
    if (gridFile)
        d.addField(QStringLiteral("lt_notice"), {mm(114), mm(0.5), mm(24), mm(4)});
    d.addField(QStringLiteral("li_number"), {mm(140), mm(0.5), mm(15), mm(4)}, Align::Right);
    d.addField(QStringLiteral("li_logtime"), {mm(160), mm(0.5), mm(25), mm(4)})->setFormat(QStringLiteral("yyyy-MM-dd"));

    Band &gf = g.footer();
    gf.setHeight(mm(6));
    gf.setFrame(true, false);
    gf.addAggregate(AggregateKind::Count, QString(), true, {mm(2), mm(1), mm(15), mm(4)});
    gf.addLabel(QStringLiteral("条"), {mm(18), mm(1), mm(5), mm(4)});
    gf.addAggregate(AggregateKind::Sum, QStringLiteral("li_number"), true, {mm(140), mm(1), mm(15), mm(4)});

    Band &s = r.summary();
    s.setHeight(mm(6));
    s.addLabel(QStringLiteral("共计"), {mm(2), mm(1), mm(10), mm(4)});
    s.addSystem(SystemValue::DetailCount, {mm(12), mm(1), mm(20), mm(4)}, Align::Right);
    s.addAggregate(AggregateKind::Sum, QStringLiteral("li_number"), false, {mm(140), mm(1), mm(15), mm(4)});

    Band &pf = r.pageFooter();
    pf.setHeight(mm(7));
    pf.setFrame(true, false);
    pf.addLabel(QStringLiteral("打印时间："), {mm(2), mm(1.5), mm(17), mm(4)});
    pf.addSystem(SystemValue::DateTime, {mm(19), mm(1.5), mm(40), mm(4)});
    pf.addLabel(QStringLiteral("砚禾数字图书馆管理系统2007版"), {mm(82), mm(1.5), mm(60), mm(4)});
    pf.addLabel(QStringLiteral("第"), {mm(170), mm(1.5), mm(5), mm(4)});
    pf.addSystem(SystemValue::PageNumber, {mm(175), mm(1.5), mm(8), mm(4)}, Align::Center);
    pf.addLabel(QStringLiteral("页"), {mm(184), mm(1.5), mm(5), mm(4)});

    if (gridFile)
        for (Band *b : {&ph, &g.header(), &gf, &s, &pf})
            b->setEnabled(false);
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

long peakKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

class CountingSink : public PageSink {
public:
    void page(const Page &, const DocumentInfo &) override { ++pages; }
    int pages = 0;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString what = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("csv");
    const int rows = argc > 2 ? std::atoi(argv[2]) : 100000;

    Report r;
    const bool grid = what == QLatin1String("csv") || what == QLatin1String("html");
    buildListing(r, grid);
    SyntheticRows source(rows);
    r.setRowSource(&source);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("report.out"));
    const long before = peakKb();
    const double cpu0 = cpuSeconds();
    QElapsedTimer t;
    t.start();
    qint64 pages = 0;
    qint64 bytes = 0;
    if (what == QLatin1String("fill")) {
        CountingSink sink; // the fill pass alone, pages dropped as they come
        r.run(sink);
        pages = sink.pages;
    } else if (what == QLatin1String("document")) {
        const ReportDocument doc = r.fill(); // every page kept, as for the preview
        pages = qint64(doc.pages.size());
    } else {
        const lectoria::ReportOutput format = what == QLatin1String("text") ? lectoria::ReportOutput::Text
                                : what == QLatin1String("html") ? lectoria::ReportOutput::Html
                                                                 : lectoria::ReportOutput::Csv;
        writeReportFile(r, format, path);
        bytes = QFileInfo(path).size();
    }
    const double secs = t.nsecsElapsed() / 1e9;
    const double cpu = cpuSeconds() - cpu0;
    // Wall time counts other processes on a shared machine; CPU time is this
    // process's own work (user + system).
    std::printf("%-9s rows=%d  wall %.3f s = %.0f rows/s  cpu %.3f s = %.0f rows/s  pages=%lld  file=%lld bytes"
                "  peak=%.1f MB (%.1f MB before the run)\n",
                qPrintable(what), rows, secs, rows / secs, cpu, rows / cpu, static_cast<long long>(pages),
                static_cast<long long>(bytes), peakKb() / 1024.0, before / 1024.0);
    return 0;
}
