#include "booktext.h"
#include "clock.h"
#include "gbk.h"
#include "listingkinds.h"
#include "listinglayouts.h"
#include "listingtestkit.h"
#include "reportwriters.h"
#include "unglobal.h"

using namespace lectoria;
using namespace lectoria::test;
using namespace listingtest;

Q_DECLARE_METATYPE(QVector<QStringList>)

namespace {

QString times(const QString &s, int n) { return s.repeated(n); }

QString fileName() { return "images/2024/" + times("0123456789/", 6) + "a123456789.jpg"; }

} // namespace

class TestBookStyle : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { m_fixed.begin(); }
    void cleanup() { m_fixed.end(); }

    // The descriptive text as printed lines.
    void textLines_data()
    {
        QTest::addColumn<QVariant>("text");
        QTest::addColumn<QStringList>("lines");
        const QString zhong = QStringLiteral("中"); // both bytes above 120
        QTest::newRow("300 Chinese characters: five lines of 108 bytes, one of 60")
            << QVariant(times(zhong, 300))
            << QStringList{times(zhong, 54), times(zhong, 54), times(zhong, 54), times(zhong, 54), times(zhong, 54),
                           times(zhong, 30)};
        QTest::newRow("120 ASCII characters: 108 and 12")
            << QVariant(times("a", 120)) << QStringList{times("a", 108), times("a", 12)};
        QTest::newRow("a z among the first 108 bytes: 107 and 13")
            << QVariant(times("a", 50) + "z" + times("a", 69)) << QStringList{times("a", 50) + "z" + times("a", 56),
                                                                        times("a", 13)};
        QTest::newRow("a z after the first 108 bytes changes nothing")
            << QVariant(times("a", 110) + "z" + times("a", 9)) << QStringList{times("a", 108), "aaz" + times("a", 9)};
        // 丂 has a second byte below 120, so the count alone would cut 中 in two.
        QTest::newRow("a cut never halves a character")
            << QVariant("丂" + times("a", 105) + zhong) << QStringList{"丂" + times("a", 105), zhong};
        QTest::newRow("<br> in any letter case") << QVariant("甲<br>乙<BR>丙<bR>丁")
                                                  << QStringList{"甲", "乙", "丙", "丁"};
        QTest::newRow("doubled <br> gives no blank line") << QVariant("甲<br><br>乙") << QStringList{"甲", "乙"};
        QTest::newRow("CR LF pairs break") << QVariant("甲\r\n乙\r\n") << QStringList{"甲", "乙"};
        QTest::newRow("line feeds alone are removed") << QVariant("甲\n乙\n丙") << QStringList{"甲乙丙"};
        QTest::newRow("leading &nbsp; become blanks") << QVariant("&nbsp;&NBSP;甲&nbsp;乙")
                                                      << QStringList{"  甲 乙"};
        QTest::newRow("other markup stays") << QVariant("<p>甲</p><br/>") << QStringList{"<p>甲</p><br/>"};
        QTest::newRow("blanks and breaks only") << QVariant(" <br><br>\r\n ") << QStringList();
        QTest::newRow("empty text") << QVariant(QString()) << QStringList();
        QTest::newRow("NULL") << QVariant(QMetaType(QMetaType::QString)) << QStringList();
    }
    void textLines()
    {
        QFETCH(QVariant, text);
        QFETCH(QStringList, lines);
        const QStringList got = bookTextLines(text);
        QCOMPARE(got, lines);
        for (const QString &l : got)
            QVERIFY(Gbk::byteLength(l) <= BookLineBytes);
    }

    void heading_data()
    {
        QTest::addColumn<QVariant>("title");
        QTest::addColumn<QVariant>("bracketed");
        QTest::addColumn<QString>("heading");
        QTest::newRow("&nbsp; vanishes, blanks trimmed") << QVariant(" &nbsp;红楼&NBSP;梦 ") << QVariant(" 文学  ")
                                                         << "红楼梦[文学]";
        QTest::newRow("NULL prints as empty") << QVariant(QMetaType(QMetaType::QString))
                                              << QVariant(QMetaType(QMetaType::QString)) << "[]";
    }
    void heading()
    {
        QFETCH(QVariant, title);
        QFETCH(QVariant, bracketed);
        QFETCH(QString, heading);
        QCOMPARE(bookHeading(title, bracketed), heading);
    }

    // Heading line, summary lines, group counts per kind.
    void bookReport_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("category"); // 0: every category
        QTest::addColumn<QVector<QStringList>>("body");
        const QString period = "加入日期：2024-05-01到2024-05-20";
        QTest::newRow("video: playing time on the heading line")
            << int(Kind::Zxsp) << 3
            << QVector<QStringList>{{"类别：", "文学", period},
                                    {"乙书[文学]", "时间(分)：", "3", "加入日期：", "2024-05-10"},
                                    {"提要："},
                                    {"甲书[文学]", "时间(分)：", "2", "加入日期：", "2024-05-02"},
                                    {"提要：", "甲的提要"},
                                    {"2", "条"},
                                    {"共计", "2", "条"}};
        QTest::newRow("articles of one category: author in brackets, a group per sub-category")
            << int(Kind::Bklw) << 3
            << QVector<QStringList>{{"类别：", "文学[理论探讨]", period},
                                    {"甲书[王一]", "加入日期：", "2024-05-02"},
                                    {"提要：", "甲的提要"},
                                    {"1", "条"},
                                    {"类别：", "文学[实践经验]", period},
                                    {"乙书[李二]", "加入日期：", "2024-05-10"},
                                    {"提要："},
                                    {"1", "条"},
                                    {"共计", "2", "条"}};
    }
    void bookReport()
    {
        QFETCH(int, kind);
        QFETCH(int, category);
        QFETCH(QVector<QStringList>, body);
        TestDatabase db(bare());
        addCatalogue(db, Kind(kind));
        ReportRequest request = listingRequest(Kind(kind));
        if (category)
            request.category = category;
        BookLayout layout(request);
        QVector<QStringList> expected{{"育才中学", listingFacts(Kind(kind)).pageTitle}};
        expected += body;
        expected << QStringList{"打印时间：", "2024-12-31 15:30:00", "砚禾数字图书馆管理系统2007版", "第", "1", "页"};
        QCOMPARE(printedLines(layout.report().fill()), expected);
    }

    // A summary longer than a page goes on over the next pages, line after
    // line, never below the page footer's edge and never over other lines.
    void longSummaryContinues()
    {
        TestDatabase db(bare());
        db.exec("insert into www_litype (lt_id, lt_notice) values (1, '文学')");
        QStringList paragraphs;
        for (int i = 1; i <= 150; ++i)
            paragraphs << QStringLiteral("第%1段").arg(i);
        db.addRecord(Kind::Dzts, {{"li_title", "长书"}, {"li_typeid", 1}, {"li_logtime", "2024-05-02 10:00:00"},
                                  {"li_content", paragraphs.join("<br>")}});
        db.addRecord(Kind::Dzts, {{"li_title", "短书"}, {"li_typeid", 1}, {"li_logtime", "2024-05-01 10:00:00"},
                                  {"li_content", "短"}});
        BookLayout layout(ReportRequest{});
        const report::ReportDocument doc = layout.report().fill();
        QVERIFY(doc.pages.size() >= 3);

        QStringList printed;
        const int footerTop = doc.info.page.bodyBottom() - layout.report().pageFooter().height();
        for (const report::Page &page : doc.pages) {
            int lastY = -1;
            for (const report::PageItem &it : page.items)
                if (it.text.startsWith("第") && it.text.endsWith("段")) {
                    printed << it.text;
                    QVERIFY(it.y > lastY);
                    QVERIFY(it.y + it.height <= footerTop);
                    lastY = it.y + it.height - 1;
                }
            QCOMPARE(printedLines(page).last(),
                     (QStringList{"打印时间：", "2024-12-31 15:30:00", "砚禾数字图书馆管理系统2007版", "第",
                                  QString::number(page.number), "页"}));
        }
        QCOMPARE(printed, paragraphs);
        const QVector<QStringList> tail = printedLines(doc.pages.back());
        QVERIFY(tail.contains(QStringList{"提要：", "短"}));
        QVERIFY(tail.contains(QStringList{"2", "条"}));
    }

    // A heading or file name too long for its box shows the same whole
    // characters on the page and in the text file: its start and "…" (the
    // right-aligned file name too: its beginning says where the file lies).
    void pageAndTextFileAgree_data()
    {
        QTest::addColumn<bool>("book");
        QTest::addColumn<QString>("item"); // what the page holds of the long value
        QTest::addColumn<QString>("more"); // the same with one character more
        // 150 mm of 黑体 11 pt: 77 columns, and the free room its line leaves; 65 mm of 宋体 9 pt: 40 columns.
        QTest::newRow("book-style heading") << true << "长" + times("书", 37) + "…" << "长" + times("书", 38);
        QTest::newRow("listing: picture file name")
            << false << fileName().left(38) + "…" << fileName().left(39);
    }
    void pageAndTextFileAgree()
    {
        QFETCH(bool, book);
        QFETCH(QString, item);
        QFETCH(QString, more);
        TestDatabase db(bare());
        db.exec("insert into www_pitype (lt_id, lt_notice) values (1, '风景')");
        db.addRecord(Kind::Tpzl, {{"li_title", "长" + times("书", 59)}, {"li_typeid", 1},
                                  {"li_logtime", "2024-05-02 10:00:00"},
                                  {"li_image", fileName()}});
        std::unique_ptr<ReportLayout> layout;
        if (book)
            layout = std::make_unique<BookLayout>(ReportRequest{Kind::Tpzl});
        else
            layout = std::make_unique<ListingLayout>(ReportRequest{Kind::Tpzl});
        const report::ReportDocument doc = layout->report().fill();
        bool onPage = false;
        for (const report::PageItem &it : doc.pages[0].items) {
            onPage = onPage || it.text == item;
        }
        QVERIFY(onPage);
        const QStringList text = report::textLines(doc.pages[0], doc.info);
        const auto line = std::find_if(text.begin(), text.end(), [&](const QString &l) { return l.contains(item); });
        QVERIFY(line != text.end());
        QVERIFY(!line->contains(more));
    }

private:
    FixedRun m_fixed;
};

QTEST_MAIN(TestBookStyle)
#include "tst_bookstyle.moc"
