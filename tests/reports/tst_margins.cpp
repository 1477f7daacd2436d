#include "libdb.h"
#include "margins.h"
#include "printerfakes.h"
#include "statisticslayout.h"
#include "testsupport.h"
#include "unglobal.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QRadioButton>
#include <QTest>

using namespace lectoria;
using namespace lectoria::test;

namespace {
// The session as start-up leaves it: the first row of lib_prtblank.
void loadMargins()
{
    QSqlQuery q = LibDB::exec(QStringLiteral("select pb_default,pb_top,pb_bottom,pb_left,pb_right from lib_prtblank"));
    QVERIFY(q.next());
    Session &s = unGlobal();
    s.CustomMargins = q.value(0).toInt();
    s.MarginTop = q.value(1).toInt();
    s.MarginBottom = q.value(2).toInt();
    s.MarginLeft = q.value(3).toInt();
    s.MarginRight = q.value(4).toInt();
}

TestDatabase::Options withMargins()
{
    TestDatabase::Options o;
    o.marginsTable = true;
    return o;
}
} // namespace

class TestMargins : public QObject {
    Q_OBJECT
private:
    QVariantList storedRow(TestDatabase &db)
    {
        const auto rows = db.rows(QStringLiteral(
            "select pb_default,pb_top,pb_bottom,pb_left,pb_right from lib_prtblank"));
        return rows.value(0);
    }
    QLineEdit *field(QWidget &w, const char *name) { return w.findChild<QLineEdit *>(QLatin1String(name)); }

private Q_SLOTS:
    void init() { resetSession(); }
    void cleanup() { LibDB::setStatementLog(nullptr); }

    void newInstallationOpensWithLayoutMargins()
    {
        TestDatabase db(withMargins());
        loadMargins();

        TPrtBlankPara dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QVERIFY(dlg.findChild<QRadioButton *>(QStringLiteral("rdbInit"))->isChecked());
        QVERIFY(!dlg.findChild<QGroupBox *>(QStringLiteral("grbEdge"))->isVisible());
        QCOMPARE(dlg.height(), TPrtBlankPara::InitHeight);
        for (const char *name : {"edPaperTop", "edPaperButtom", "edPaperLeft", "edPaperRight"})
            QCOMPARE(field(dlg, name)->text(), QStringLiteral("10"));
    }

    void customSave_data()
    {
        QTest::addColumn<QString>("top");
        QTest::addColumn<QString>("bottom");
        QTest::addColumn<QString>("left");
        QTest::addColumn<QVariantList>("stored");
        QTest::newRow("typed values, right untouched")
            << "20" << "15" << "25" << QVariantList{1, 20, 15, 25, 10};
        QTest::newRow("emptied field saves 0") << "" << " 7 " << "25" << QVariantList{1, 0, 7, 25, 10};
    }
    void customSave()
    {
        QFETCH(QString, top);
        QFETCH(QString, bottom);
        QFETCH(QString, left);
        QFETCH(QVariantList, stored);
        TestDatabase db(withMargins());
        loadMargins();
        QStringList log;
        LibDB::setStatementLog(&log);

        TPrtBlankPara dlg;
        dlg.show();
        QTest::mouseClick(dlg.findChild<QRadioButton *>(QStringLiteral("rdbPara")), Qt::LeftButton);
        QVERIFY(dlg.findChild<QGroupBox *>(QStringLiteral("grbEdge"))->isVisible());
        QCOMPARE(dlg.height(), TPrtBlankPara::ParaHeight);
        QVERIFY(!field(dlg, "edPaperRight")->isVisible());
        field(dlg, "edPaperTop")->setText(top);
        field(dlg, "edPaperButtom")->setText(bottom);
        field(dlg, "edPaperLeft")->setText(left);
        QTest::mouseClick(dlg.findChild<QPushButton *>(QStringLiteral("btSave")), Qt::LeftButton);
        LibDB::setStatementLog(nullptr);

        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(log.size(), 1);
        QCOMPARE(log.first().split(QLatin1Char('\n')),
                 QStringList({"update lib_prtblank set ", "         pb_default=1,",
                              "         pb_top=0" + top.trimmed() + ",", "         pb_bottom=0" + bottom.trimmed() + ",",
                              "         pb_left=0" + left.trimmed() + ",", "         pb_right=010"}));
        QCOMPARE(storedRow(db), stored);
        const Session &s = unGlobal();
        QCOMPARE(QVariantList({s.CustomMargins, s.MarginTop, s.MarginBottom, s.MarginLeft, s.MarginRight}), stored);

        // Every report made from now on lies on those margins.
        NoPrinter none;
        PrintersScope scope(&none);
        StatisticsLayout layout(ReportRequest{Kind::Zxsp});
        const report::PageSetup &page = layout.report().pageSetup();
        QCOMPARE(QVariantList({1, page.marginTop / 10, page.marginBottom / 10, page.marginLeft / 10,
                               page.marginRight / 10}),
                 stored);
    }

    void switchingBackKeepsCustomValues()
    {
        TestDatabase db(withMargins());
        db.exec(QStringLiteral("update lib_prtblank set pb_default=1,pb_top=20,pb_bottom=15,pb_left=25,pb_right=12"));
        loadMargins();
        QStringList log;
        LibDB::setStatementLog(&log);
        {
            TPrtBlankPara dlg;
            dlg.show();
            QVERIFY(dlg.findChild<QRadioButton *>(QStringLiteral("rdbPara"))->isChecked());
            QTest::mouseClick(dlg.findChild<QRadioButton *>(QStringLiteral("rdbInit")), Qt::LeftButton);
            QCOMPARE(dlg.height(), TPrtBlankPara::InitHeight);
            QTest::mouseClick(dlg.findChild<QPushButton *>(QStringLiteral("btSave")), Qt::LeftButton);
        }
        LibDB::setStatementLog(nullptr);
        QCOMPARE(log, QStringList{"update lib_prtblank set pb_default=0"});
        QCOMPARE(storedRow(db), (QVariantList{0, 20, 15, 25, 12}));
        QCOMPARE(unGlobal().CustomMargins, 0);

        TPrtBlankPara again;
        again.show();
        QTest::mouseClick(again.findChild<QRadioButton *>(QStringLiteral("rdbPara")), Qt::LeftButton);
        QCOMPARE(field(again, "edPaperTop")->text(), QStringLiteral("20"));
        QCOMPARE(field(again, "edPaperLeft")->text(), QStringLiteral("25"));
    }

    void exitLeavesEverything()
    {
        TestDatabase db(withMargins());
        loadMargins();
        TPrtBlankPara dlg;
        dlg.show();
        QTest::mouseClick(dlg.findChild<QRadioButton *>(QStringLiteral("rdbPara")), Qt::LeftButton);
        field(dlg, "edPaperTop")->setText(QStringLiteral("33"));
        QTest::mouseClick(dlg.findChild<QPushButton *>(QStringLiteral("btExit")), Qt::LeftButton);
        QCOMPARE(storedRow(db), (QVariantList{0, 10, 10, 10, 10}));
        QCOMPARE(unGlobal().CustomMargins, 0);
        QCOMPARE(unGlobal().MarginTop, 10);
    }

    void keyFilterTakesOnlyDigits()
    {
        TestDatabase db(withMargins());
        loadMargins();
        TPrtBlankPara dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QTest::mouseClick(dlg.findChild<QRadioButton *>(QStringLiteral("rdbPara")), Qt::LeftButton);
        QLineEdit *top = field(dlg, "edPaperTop");
        top->setFocus();
        top->clear();
        QTest::keyClicks(top, QStringLiteral("1a-2 .3x"));
        QCOMPARE(top->text(), QStringLiteral("123"));
        QTest::keyClick(top, Qt::Key_Backspace);
        QCOMPARE(top->text(), QStringLiteral("12"));
        QTest::keyClick(top, Qt::Key_Return); // moves on, as Enter does in data entry
        QVERIFY(!top->hasFocus());
    }

    void badValuesNeverReachTheStatement_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("set text with a statement") << "1,pb_default=5";
        QTest::newRow("too large for an integer") << "99999999999";
    }
    void badValuesNeverReachTheStatement()
    {
        QFETCH(QString, text);
        TestDatabase db(withMargins());
        loadMargins();
        ScriptedPrompt prompt;
        QStringList log;
        LibDB::setStatementLog(&log);
        TPrtBlankPara dlg;
        dlg.show();
        QTest::mouseClick(dlg.findChild<QRadioButton *>(QStringLiteral("rdbPara")), Qt::LeftButton);
        field(dlg, "edPaperTop")->setText(text);
        QTest::mouseClick(dlg.findChild<QPushButton *>(QStringLiteral("btSave")), Qt::LeftButton);
        LibDB::setStatementLog(nullptr);
        QVERIFY(log.isEmpty());
        QCOMPARE(prompt.shown.size(), 1);
        QCOMPARE(prompt.shown.first().icon, PromptIcon::Error);
        QVERIFY(dlg.isVisible()); // stays open
        QCOMPARE(unGlobal().CustomMargins, 0);
        QCOMPARE(storedRow(db), (QVariantList{0, 10, 10, 10, 10}));
    }

    void failingUpdateKeepsSessionAndDialog()
    {
        TestDatabase db(withMargins());
        loadMargins();
        db.exec(QStringLiteral("drop table lib_prtblank"));
        ScriptedPrompt prompt;
        TPrtBlankPara dlg;
        dlg.show();
        QTest::mouseClick(dlg.findChild<QRadioButton *>(QStringLiteral("rdbPara")), Qt::LeftButton);
        QTest::mouseClick(dlg.findChild<QPushButton *>(QStringLiteral("btSave")), Qt::LeftButton);
        QCOMPARE(prompt.shown.size(), 1);
        QVERIFY(prompt.shown.first().text.contains(QStringLiteral("lib_prtblank")));
        QVERIFY(dlg.isVisible());
        QCOMPARE(unGlobal().CustomMargins, 0);
    }
};

QTEST_MAIN(TestMargins)
#include "tst_margins.moc"
