#include "clock.h"
#include "reportengine.h"
#include "rowsources.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

using namespace lectoria;
using namespace lectoria::report;

namespace {

// The texts of a page, top to bottom, left to right, one string per line
// position ("a|b"), so a test reads the page as printed.
QStringList pageText(const Page &p)
{
    QMap<int, QMap<int, QString>> rows;
    for (const PageItem &i : p.items)
        if (!i.text.isEmpty())
            rows[i.y][i.x] += i.text;
    QStringList out;
    for (const auto &row : rows)
        out << QStringList(row.values()).join(QLatin1Char('|'));
    return out;
}

QStringList allText(const ReportDocument &doc)
{
    QStringList out;
    for (const Page &p : doc.pages)
        out << pageText(p);
    return out;
}

TableRowSource categories()
{
    return TableRowSource({QStringLiteral("cat"), QStringLiteral("title"), QStringLiteral("n")},
                          {{QStringLiteral("甲 "), QStringLiteral("a1"), 2},
                           {QStringLiteral("甲 "), QStringLiteral("a2"), 3},
                           {QStringLiteral("乙"), QStringLiteral("b1"), 5},
                           {QStringLiteral("丙"), QStringLiteral("c1"), 1},
                           {QStringLiteral("丙"), QStringLiteral("c2"), 1},
                           {QStringLiteral("丙"), QStringLiteral("c3"), 4}});
}

// A listing: page header with the page number, a group on "cat" with a
// caption child band, detail rows, a group footer with subtotals, a summary
// with grand totals, and a page footer.
struct Listing {
    Report r;
    Item *groupCount = nullptr;
    explicit Listing(int pageHeight = 2794)
    {
        PageSetup page = designedPage();
        page.height = pageHeight;
        r.setPageSetup(page);
        Band &ph = r.pageHeader();
        ph.setHeight(mm(10));
        ph.addLabel(QStringLiteral("目录"), {0, 0, mm(40), mm(5)});
        Group &g = r.addGroup({QStringLiteral("cat")});
        g.header().setHeight(mm(8));
        g.header().addLabel(QStringLiteral("类别："), {0, 0, mm(15), mm(5)});
        g.header().addField(QStringLiteral("cat"), {mm(15), 0, mm(40), mm(5)});
        g.header().addChild(mm(6)).addLabel(QStringLiteral("标题"), {0, 0, mm(20), mm(4)});
        r.detail().setHeight(mm(6));
        r.detail().addField(QStringLiteral("title"), {0, 0, mm(40), mm(4)});
        r.detail().addField(QStringLiteral("n"), {mm(100), 0, mm(20), mm(4)}, Align::Right);
        Band &gf = g.footer();
        gf.setHeight(mm(6));
        gf.setFrame(true, false);
        groupCount = gf.addAggregate(AggregateKind::Count, QString(), true, {mm(10), 0, mm(10), mm(4)});
        gf.addAggregate(AggregateKind::Sum, QStringLiteral("n"), true, {mm(100), 0, mm(20), mm(4)});
        Band &s = r.summary();
        s.setHeight(mm(6));
        s.addLabel(QStringLiteral("共计"), {0, 0, mm(10), mm(4)});
        s.addSystem(SystemValue::DetailCount, {mm(10), 0, mm(10), mm(4)}, Align::Right);
        s.addAggregate(AggregateKind::Sum, QStringLiteral("n"), false, {mm(100), 0, mm(20), mm(4)});
        Band &pf = r.pageFooter();
        pf.setHeight(mm(7));
        pf.addLabel(QStringLiteral("第"), {mm(150), mm(1), mm(5), mm(4)});
        pf.addSystem(SystemValue::PageNumber, {mm(155), mm(1), mm(5), mm(4)}, Align::Center);
    }
};

} // namespace

class TestReportFill : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { Clock::reset(); }

    void groupsAndRunningValues()
    {
        Listing l;
        TableRowSource rows = categories();
        l.r.setRowSource(&rows);
        const ReportDocument doc = l.r.fill();
        QCOMPARE(doc.pages.size(), size_t(1));
        // Fields are trimmed; footers show the group's own count and sum;
        // the summary runs over the whole report.
        const QStringList expected = {
            QStringLiteral("目录"),
            QStringLiteral("类别：|甲"), QStringLiteral("标题"), QStringLiteral("a1|2"), QStringLiteral("a2|3"),
            QStringLiteral("2|5"),
            QStringLiteral("类别：|乙"), QStringLiteral("标题"), QStringLiteral("b1|5"), QStringLiteral("1|5"),
            QStringLiteral("类别：|丙"), QStringLiteral("标题"), QStringLiteral("c1|1"), QStringLiteral("c2|1"),
            QStringLiteral("c3|4"), QStringLiteral("3|6"),
            QStringLiteral("共计|6|16"),
            QStringLiteral("第|1"),
        };
        QCOMPARE(pageText(doc.pages[0]), expected);
        // A group footer's frame line sits on its top edge.
        QCOMPARE(doc.pages[0].lines.size(), 3);

        // A second run starts again from zero (totals and page numbers).
        const ReportDocument again = l.r.fill();
        QCOMPARE(allText(again), allText(doc));
    }

    void nestedGroupsCloseInnerFirst()
    {
        Report r;
        TableRowSource rows({QStringLiteral("a"), QStringLiteral("b")},
                            {{1, 1}, {1, 1}, {1, 2}, {2, 2}});
        r.setRowSource(&rows);
        Group &outer = r.addGroup({QStringLiteral("a")});
        Group &inner = r.addGroup({QStringLiteral("b")});
        outer.header().setHeight(mm(5));
        outer.header().addField(QStringLiteral("a"), {0, 0, mm(10), mm(4)}, Align::Left)->setFont({QStringLiteral("黑体"), 9});
        inner.header().setHeight(mm(5));
        inner.header().addField(QStringLiteral("b"), {mm(20), 0, mm(10), mm(4)});
        inner.footer().setHeight(mm(5));
        inner.footer().addAggregate(AggregateKind::Count, QString(), true, {mm(40), 0, mm(10), mm(4)});
        outer.footer().setHeight(mm(5));
        outer.footer().addAggregate(AggregateKind::Count, QString(), true, {mm(60), 0, mm(10), mm(4)});
        // A group on (1,2) after (1,1): only the inner group changes. On
        // (2,2) the outer changes, so the inner restarts though b is the same.
        QCOMPARE(pageText(r.fill().pages[0]),
                 QStringList({"1", "1", "2", "2", "1", "3", "2", "2", "1", "1"}));
    }

    void hooksChangeHideAndSkip()
    {
        Report r;
        TableRowSource rows = categories();
        r.setRowSource(&rows);
        Group &g = r.addGroup({QStringLiteral("cat")});
        g.header().setHeight(mm(5));
        Item *name = g.header().addField(QStringLiteral("cat"), {0, 0, mm(20), mm(4)});
        g.header().addChild(mm(5)).addLabel(QStringLiteral("标题"), {0, 0, mm(20), mm(4)});
        r.detail().setHeight(mm(5));
        Item *title = r.detail().addField(QStringLiteral("title"), {0, 0, mm(20), mm(4)});
        Item *n = r.detail().addField(QStringLiteral("n"), {mm(50), 0, mm(20), mm(4)});
        Item *total = g.footer().addLabel(QString(), {0, 0, mm(20), mm(4)}, Align::Left, QStringLiteral("qrlbTotal"));
        g.footer().setHeight(mm(5));
        QCOMPARE(r.item(QStringLiteral("qrlbTotal")), total);

        // The group counter of the listings: reset after the header, counted
        // after each printed detail, written before the footer.
        int counter = -1;
        QStringList afterPrinted;
        g.header().setBeforePrint([&](BandContext &c) {
            name->setText(QStringLiteral("<%1>").arg(name->text()));
            c.setPrint(c.row().text(QStringLiteral("cat")) != QStringLiteral("乙")); // header and its child skipped
        });
        g.header().setAfterPrint([&](BandContext &c) {
            afterPrinted << QStringLiteral("%1:%2").arg(c.row().text(QStringLiteral("cat"))).arg(c.printed());
            counter = 0;
        });
        r.detail().setBeforePrint([&](BandContext &c) {
            n->setVisible(c.value(QStringLiteral("n")).toInt() > 1);
            title->setText(title->text().toUpper());
        });
        r.detail().setAfterPrint([&](BandContext &) { ++counter; });
        QStringList footerRows;
        g.footer().setBeforePrint([&](BandContext &c) {
            total->setText(QString::number(counter));
            footerRows << c.row().text(QStringLiteral("title")); // the group's last row
        });

        QCOMPARE(pageText(r.fill().pages[0]),
                 QStringList({"<甲>", "标题", "A1|2", "A2|3", "2", "B1|5", "1", "<丙>", "标题", "C1", "C2", "C3|4", "3"}));
        QCOMPARE(afterPrinted, QStringList({"甲:1", "乙:0", "丙:1"}));
        QCOMPARE(footerRows, QStringList({"a2", "b1", "c3"}));
    }

    void switchedOffBandsLeaveDetailOnly()
    {
        Listing l;
        TableRowSource rows = categories();
        l.r.setRowSource(&rows);
        for (Band *b : {&l.r.pageHeader(), &l.r.group(0).header(), &l.r.group(0).footer(), &l.r.summary(),
                        &l.r.pageFooter()})
            b->setEnabled(false);
        int hooked = 0;
        l.r.summary().setBeforePrint([&](BandContext &) { ++hooked; });
        const ReportDocument doc = l.r.fill();
        QCOMPARE(allText(doc), QStringList({"a1|2", "a2|3", "b1|5", "c1|1", "c2|1", "c3|4"}));
        QCOMPARE(hooked, 0);
        QVERIFY(doc.pages[0].lines.isEmpty());
    }

    void pageBreaks_data()
    {
        QTest::addColumn<bool>("repeatGroupHeader");
        QTest::newRow("group header once") << false;
        QTest::newRow("group header on every page") << true;
    }
    void pageBreaks()
    {
        QFETCH(bool, repeatGroupHeader);
        // 30 rows of 6 mm on a page of 150 mm: 113 mm between header and footer.
        Listing l(mm(150));
        l.r.group(0).setRepeatHeaderOnNewPage(repeatGroupHeader);
        QVector<QVariantList> data;
        for (int i = 0; i < 30; ++i)
            data.append({QStringLiteral("甲"), QStringLiteral("t%1").arg(i), 1});
        TableRowSource rows({QStringLiteral("cat"), QStringLiteral("title"), QStringLiteral("n")}, data);
        l.r.setRowSource(&rows);
        const ReportDocument doc = l.r.fill();
        QVERIFY(doc.pages.size() >= 2);

        const PageSetup &page = doc.info.page;
        const int footerTop = page.bodyBottom() - mm(7);
        QStringList titles;
        for (size_t p = 0; p < doc.pages.size(); ++p) {
            const QStringList text = pageText(doc.pages[p]);
            QCOMPARE(text.first(), QStringLiteral("目录"));                       // page header on every page
            QCOMPARE(text.last(), QStringLiteral("第|%1").arg(p + 1));            // footer, the last page included
            QCOMPARE(text.contains(QStringLiteral("类别：|甲")), p == 0 || repeatGroupHeader);
            for (const PageItem &i : doc.pages[p].items) {
                if (i.y < footerTop)
                    QVERIFY2(i.y + i.height <= footerTop, qPrintable(i.text)); // nothing runs into the footer
                if (i.text.startsWith(QLatin1Char('t')))
                    titles << i.text;
            }
        }
        QCOMPARE(titles.size(), 30); // every row once, in order
        QCOMPARE(titles.first(), QStringLiteral("t0"));
        QCOMPARE(titles.last(), QStringLiteral("t29"));
        QCOMPARE(pageText(doc.pages.back()).at(pageText(doc.pages.back()).size() - 2), QStringLiteral("共计|30|30"));
    }

    void emptySourceGivesOnePage()
    {
        Listing l;
        TableRowSource rows({QStringLiteral("cat"), QStringLiteral("title"), QStringLiteral("n")}, {});
        l.r.setRowSource(&rows);
        const ReportDocument doc = l.r.fill();
        QCOMPARE(doc.pages.size(), size_t(1));
        QCOMPARE(pageText(doc.pages[0]), QStringList({"目录", "共计|0|0", "第|1"}));
    }

    void memoGrowsWithItsBand()
    {
        Report r;
        TableRowSource rows({QStringLiteral("lines")}, {{2}, {0}, {1}});
        r.setRowSource(&rows);
        Band &d = r.detail();
        d.setHeight(mm(12));
        d.addLabel(QStringLiteral("提要："), {0, mm(5), mm(10), mm(4)});
        Item *memo = d.addMemo({mm(12), mm(5), mm(100), mm(4)});
        memo->setLineHeight(mm(4));
        d.addLabel(QStringLiteral("below"), {0, mm(9), mm(10), mm(3)});
        d.setBeforePrint([&](BandContext &c) {
            QStringList lines;
            for (int i = 0; i < c.value(QStringLiteral("lines")).toInt(); ++i)
                lines << QStringLiteral("line%1").arg(i);
            memo->setLines(lines);
        });
        const Page page = r.fill().pages[0];
        auto yOf = [&](const QString &text) {
            QVector<int> ys;
            for (const PageItem &i : page.items)
                if (i.text == text)
                    ys << i.y;
            return ys;
        };
        const int top = mm(10);
        // Row 1: two lines, the band grows by one line (4 mm) and "below" moves down.
        // Row 2: no lines, the designed height. Row 3: one line, no growth.
        QCOMPARE(yOf(QStringLiteral("line0")), QVector<int>({top + mm(5), top + mm(16 + 5 + 12)}));
        QCOMPARE(yOf(QStringLiteral("line1")), QVector<int>({top + mm(9)}));
        QCOMPARE(yOf(QStringLiteral("below")), QVector<int>({top + mm(13), top + mm(16 + 9), top + mm(16 + 12 + 9)}));
    }

    void growingItemsUpToTheLimitAllGrow()
    {
        // Every memo the band may hold moves what lies below it; one more is
        // refused while the layout is made, not ignored while it is filled.
        Report r;
        TableRowSource rows({QStringLiteral("x")}, {{1}});
        r.setRowSource(&rows);
        Band &d = r.detail();
        d.setHeight(Band::MaxGrowingItems * mm(4));
        for (int k = 0; k < Band::MaxGrowingItems; ++k) {
            Item *memo = d.addMemo({0, k * mm(4), mm(50), mm(4)});
            memo->setLineHeight(mm(4));
            memo->setLines({QStringLiteral("m%1a").arg(k), QStringLiteral("m%1b").arg(k)});
        }
        d.addLabel(QStringLiteral("below"), {0, Band::MaxGrowingItems * mm(4), mm(10), mm(4)});
        QVERIFY_THROWS_EXCEPTION(std::length_error, d.addMemo({0, 0, mm(50), mm(4)}));
        QVERIFY_THROWS_EXCEPTION(std::length_error, d.addChart({0, 0, mm(50), mm(4)}));
        const Page page = r.fill().pages[0];
        for (const PageItem &i : page.items)
            if (i.text == QLatin1String("below"))
                QCOMPARE(i.y, mm(10) + 2 * Band::MaxGrowingItems * mm(4));
    }

    void memoSplitsAtLineBoundaries_data()
    {
        QTest::addColumn<int>("firstLines");  // memo lines of the record before the long one
        QTest::addColumn<int>("startPage");   // where the long record's heading prints
        QTest::addColumn<int>("linesThere");  // its memo lines on that page
        QTest::addColumn<int>("pages");
        // The first record takes 20 mm; heading and 3 lines (20 mm) fit in
        // the 80 mm left, so the record starts there with 15 lines.
        QTest::newRow("starts where it is") << 3 << 0 << 15 << 6;
        // The first record takes 85 mm; 15 mm do not hold heading and 3 lines.
        QTest::newRow("too little room: a fresh page") << 16 << 1 << 19 << 7;
    }
    void memoSplitsAtLineBoundaries()
    {
        QFETCH(int, firstLines);
        QFETCH(int, startPage);
        QFETCH(int, linesThere);
        QFETCH(int, pages);
        // A memo of 100 lines of 5 mm cannot fit on a page whose body is 100 mm.
        Report r;
        PageSetup page = designedPage();
        page.height = mm(120 + 7);
        r.setPageSetup(page);
        r.pageHeader().setHeight(mm(7));
        r.pageHeader().addLabel(QStringLiteral("H"), {0, 0, mm(5), mm(5)});
        TableRowSource rows({QStringLiteral("n")}, {{firstLines}, {100}, {2}});
        r.setRowSource(&rows);
        Band &d = r.detail();
        d.setHeight(mm(10));
        d.setFrame(true, false);
        Item *head = d.addField(QStringLiteral("n"), {0, 0, mm(20), mm(5)});
        Item *memo = d.addMemo({mm(10), mm(5), mm(100), mm(5)});
        memo->setLineHeight(mm(5));
        d.setBeforePrint([&](BandContext &c) {
            QStringList lines;
            for (int i = 0; i < c.value(QStringLiteral("n")).toInt(); ++i)
                lines << QStringLiteral("%1-%2").arg(c.value(QStringLiteral("n")).toInt()).arg(i);
            memo->setLines(lines);
        });
        Q_UNUSED(head);
        const ReportDocument doc = r.fill();
        const int limit = page.bodyBottom();
        QStringList seen;
        for (const Page &p : doc.pages) {
            QCOMPARE(pageText(p).first(), QStringLiteral("H"));
            int lastY = -1;
            for (const PageItem &i : p.items) {
                QVERIFY(i.y + i.height <= limit);
                QVERIFY(i.y >= lastY); // in order down the page
                lastY = i.y;
                if (i.text.contains(QLatin1Char('-')))
                    seen << i.text;
            }
        }
        // Every line once, in order, across pages; the long memo fills each
        // page after its first with whole lines (100 mm / 5 mm).
        QStringList expected;
        for (int n : {firstLines, 100, 2})
            for (int i = 0; i < n; ++i)
                expected << QStringLiteral("%1-%2").arg(n).arg(i);
        QCOMPARE(seen, expected);
        QCOMPARE(doc.pages.size(), size_t(pages));
        const QStringList there = pageText(doc.pages[size_t(startPage)]);
        const int heading = int(there.indexOf(QStringLiteral("100")));
        QVERIFY(heading > 0);
        QCOMPARE(there.size() - heading - 1, linesThere);
        QCOMPARE(pageText(doc.pages[size_t(startPage + 1)]).size(), 1 + 20);
    }

    void systemValuesAndStartHook()
    {
        Clock::set(QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)));
        Report r;
        TableRowSource rows({QStringLiteral("d")},
                            {{QStringLiteral("2024-03-01 08:00:00")}, {QDateTime(QDate(2024, 2, 29), QTime(23, 59))}});
        r.setRowSource(&rows);
        r.detail().setHeight(mm(5));
        r.detail().addField(QStringLiteral("d"), {0, 0, mm(20), mm(4)})->setFormat(QStringLiteral("yyyy-MM-dd"));
        r.detail().addSystem(SystemValue::DetailCount, {mm(30), 0, mm(20), mm(4)});
        r.summary().setHeight(mm(5));
        r.summary().addSystem(SystemValue::DateTime, {0, 0, mm(40), mm(4)});
        r.summary().addSystem(SystemValue::Date, {mm(50), 0, mm(40), mm(4)})->setFormat(QStringLiteral("yyyy年M月d日"));
        int starts = 0;
        r.setStartHook([&](Report &) { ++starts; });
        const QStringList expected = {"2024-03-01|1", "2024-02-29|2", "2024-03-05 14:07:09|2024年3月5日"};
        QCOMPARE(allText(r.fill()), expected);
        QCOMPARE(allText(r.fill()), expected);
        QCOMPARE(starts, 2);
    }

    // The pages a document keeps (packed) read back as the fill made them:
    // every field of every item and line, Latin-1, Chinese and characters
    // beyond the basic plane alike.
    void keptPagesReadBackWhole()
    {
        struct Copies : PageSink {
            std::vector<Page> pages;
            void page(const Page &p, const DocumentInfo &) override { pages.push_back(p); }
        };
        Listing l(mm(60));
        TableRowSource rows({QStringLiteral("cat"), QStringLiteral("title"), QStringLiteral("n")},
                            {{QStringLiteral("甲"), QStringLiteral("café"), 1},
                             {QStringLiteral("甲"), QStringLiteral("文学😀"), -7},
                             {QStringLiteral("乙"), QString(), 300000},
                             {QStringLiteral("乙"), QStringLiteral("x"), 2}});
        l.r.setRowSource(&rows);
        l.r.detail().addLine(0, mm(1), mm(50), mm(1), 3);
        Item *title = l.r.detail().items().front().get();
        title->setClip(true);
        title->setColor(0xffcc0000);
        Copies made;
        l.r.run(made);
        const ReportDocument kept = l.r.fill();
        QCOMPARE(kept.pages.size(), made.pages.size());
        QVERIFY(made.pages.size() > 1);
        size_t i = 0;
        for (const Page &p : kept.pages) {
            const Page &m = made.pages[i++];
            QCOMPARE(p.number, m.number);
            QCOMPARE(p.items.size(), m.items.size());
            for (int k = 0; k < p.items.size(); ++k) {
                const PageItem &a = p.items[k], &b = m.items[k];
                QCOMPARE(QList<int>({a.x, a.y, a.width, a.height, a.font, int(a.align), a.clip, int(a.color)}),
                         QList<int>({b.x, b.y, b.width, b.height, b.font, int(b.align), b.clip, int(b.color)}));
                QCOMPARE(a.text, b.text);
            }
            QCOMPARE(p.lines.size(), m.lines.size());
            for (int k = 0; k < p.lines.size(); ++k)
                QCOMPARE(QList<int>({p.lines[k].x1, p.lines[k].y1, p.lines[k].x2, p.lines[k].y2, p.lines[k].penWidth}),
                         QList<int>({m.lines[k].x1, m.lines[k].y1, m.lines[k].x2, m.lines[k].y2, m.lines[k].penWidth}));
        }
        QVERIFY(allText(kept).join(QString()).contains(QStringLiteral("文学😀")));
        QVERIFY(allText(kept).join(QString()).contains(QStringLiteral("café")));
    }

    void sqlRowSourceRunsTheQueryAgain()
    {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
            db.setDatabaseName(QStringLiteral(":memory:"));
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("create table t (lt_notice char(8), iC int)")));
            QVERIFY(q.exec(QStringLiteral("insert into t values ('文学    ', 3), ('历史', 4)")));
            QSqlQuery sel(db);
            sel.setForwardOnly(true);
            QVERIFY(sel.exec(QStringLiteral("select lt_notice, iC from t order by iC")));

            Report r;
            SqlRowSource rows{std::move(sel)};
            r.setRowSource(&rows);
            r.detail().setHeight(mm(5));
            r.detail().addField(QStringLiteral("LT_NOTICE"), {0, 0, mm(20), mm(4)}); // names ignore case
            r.detail().addField(QStringLiteral("iC"), {mm(30), 0, mm(20), mm(4)});
            r.summary().setHeight(mm(5));
            r.summary().addAggregate(AggregateKind::Sum, QStringLiteral("iC"), false, {0, 0, mm(20), mm(4)});
            QCOMPARE(allText(r.fill()), QStringList({"文学|3", "历史|4", "7"}));
            // The second run reads the data as they are now.
            QVERIFY(q.exec(QStringLiteral("insert into t values ('艺术', 5)")));
            QCOMPARE(allText(r.fill()), QStringList({"文学|3", "历史|4", "艺术|5", "12"}));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    }
};

QTEST_GUILESS_MAIN(TestReportFill)
#include "tst_reportfill.moc"
