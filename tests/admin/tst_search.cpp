#include "libdb.h"
#include "searchterms.h"
#include "testsupport.h"
#include "tsearch.h"
#include "unglobal.h"

#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using namespace lectoria;
using namespace lectoria::test;

namespace {

TSearchType field(const char *name, const QString &caption, char type, const QString &source = QString())
{
    return {QLatin1String(name), caption, QLatin1Char(type), source};
}

// The search dialog shown (not modally) over the given fields.
struct Shown {
    explicit Shown(const QVector<TSearchType> &fields)
    {
        unGlobal().SearchTypes = QVector<TSearchType>(21);
        for (int i = 0; i < fields.size(); ++i)
            unGlobal().SearchTypes[i] = fields.at(i);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    }
    template <typename T>
    T *get(const char *name) { return dlg.findChild<T *>(QLatin1String(name)); }
    void choose(const char *combo, const QString &text)
    {
        QComboBox *c = get<QComboBox>(combo);
        const int i = c->findText(text);
        QVERIFY2(i >= 0, qPrintable(text));
        c->setCurrentIndex(i);
    }
    void type(const QString &text)
    {
        QLineEdit *e = get<QLineEdit>("edtValue");
        e->clear();
        QTest::keyClicks(e, text);
    }
    QStringList display() { return get<QPlainTextEdit>("memDsp")->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts); }

    TSearch dlg{nullptr};
};

const QVector<TSearchType> accountFields{field("ad_code", QStringLiteral("代码"), 'O'),
                                         field("ad_name", QStringLiteral("姓名"), 'O')};

} // namespace

class TestSearch : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { resetSession(); }

    void comparisons_data()
    {
        QTest::addColumn<QChar>("type");
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("condition");
        QTest::addColumn<QString>("display");
        auto row = [](const char *name, char type, const char *op, const QString &value, const QString &condition,
                      const QString &display) {
            QTest::newRow(name) << QChar(QLatin1Char(type)) << QString::fromUtf8(op) << value << condition << display;
        };
        row("O =", 'O', "等于", "abc", "F = 'abc' ", "字段 等于 \"abc\"");
        row("O <> untrimmed", 'O', "不等于", " x ", "F <> ' x ' ", "字段 不等于 \" x \"");
        row("O quote doubled", 'O', "等于", "O'Brien", "F = 'O''Brien' ", "字段 等于 \"O'Brien\"");
        row("O >=", 'O', "大于或等于", "m", "F >= 'm' ", "字段 大于或等于 \"m\"");
        row("C contains", 'C', "包含", "ab", "F like '%ab%' ", "字段 包含 \"ab\"");
        row("C starts", 'C', "以...开始", "ab", "F like 'ab%' ", "字段 以...开始 \"ab\"");
        row("C ends", 'C', "以...结尾", "a'b", "F like '%a''b' ", "字段 以...结尾 \"a'b\"");
        row("C <", 'C', "小于", "k", "F < 'k' ", "字段 小于 \"k\"");
        row("N", 'N', "大于", "12.5", "F > 12.5 ", "字段 大于 \"12.5\"");
        row("B with colon", 'B', "等于", "3:文学", "F = 3 ", "字段 等于 \"3:文学\"");
        row("T without colon", 'T', "不等于", "x", "F <> x", "字段 不等于 \"x\"");
        row("A trimmed and quoted", 'A', "等于", " ab :名称", "F = 'ab' ", "字段 等于 \" ab :名称\"");
        row("S quote doubled", 'S', "小于", "d'x", "F < 'd''x' ", "字段 小于 \"d'x\"");
        // Dates cover whole days, here around 2005-03-01.
        const QString shown = QStringLiteral(" '2005-03-01' ");
        row("D =", 'D', "等于", "", "(F>='2005-03-01'  and F<'2005-03-02') ", "字段 等于" + shown);
        row("D <>", 'D', "不等于", "", "(F<'2005-03-01'  or F>='2005-03-02') ", "字段 不等于" + shown);
        row("D <", 'D', "小于", "", "F < '2005-03-01' ", "字段 小于" + shown);
        row("D >", 'D', "大于", "", "F>='2005-03-02' ", "字段 大于" + shown);
        row("D <=", 'D', "小于或等于", "", "F<'2005-03-02' ", "字段 小于或等于" + shown);
        row("D >=", 'D', "大于或等于", "", "F>='2005-03-01' ", "字段 大于或等于" + shown);
    }
    void comparisons()
    {
        QFETCH(QChar, type);
        QFETCH(QString, op);
        QFETCH(QString, value);
        QFETCH(QString, condition);
        QFETCH(QString, display);
        QVERIFY(SearchTerms::operatorsFor(type).contains(op));
        const TSearchType f{QStringLiteral("F"), QStringLiteral("字段"), type, QString()};
        const SearchTerms::Comparison c = SearchTerms::comparison(f, op, value, QDate(2005, 3, 1), Dialect::Sqlite);
        QCOMPARE(c.condition, condition);
        QCOMPARE(c.display, display);
    }

    void operatorLists()
    {
        QCOMPARE(SearchTerms::operatorsFor(QLatin1Char('C')).join(QLatin1Char(',')),
                 QStringLiteral("等于,不等于,包含,以...开始,以...结尾,大于,小于,大于或等于,小于或等于"));
        QCOMPARE(SearchTerms::operatorsFor(QLatin1Char('N')).join(QLatin1Char(',')),
                 QStringLiteral("等于,大于,小于,大于或等于,小于或等于,不等于"));
        QCOMPARE(SearchTerms::operatorsFor(QLatin1Char('S')).join(QLatin1Char(',')),
                 QStringLiteral("等于,不等于,大于,小于,大于或等于,小于或等于"));
        QCOMPARE(SearchTerms::operatorText(QStringLiteral("以...结尾")), QStringLiteral(" like "));
        QCOMPARE(SearchTerms::operatorText(QStringLiteral("约等于")), QString());
    }

    void fixedLists_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("remainders trimmed") << QStringLiteral("1:是; 0:否 ;x") << QStringList{"1:是", "0:否 ", "x"};
        QTest::newRow("trailing separator") << QStringLiteral("a;b;") << QStringList{"a", "b"};
        QTest::newRow("empty items left out") << QStringLiteral("a;;b") << QStringList{"a", "b"};
        QTest::newRow("empty") << QString() << QStringList();
    }
    void fixedLists()
    {
        QFETCH(QString, source);
        QFETCH(QStringList, items);
        QCOMPARE(SearchTerms::fixedListItems(source), items);
    }

    // The accounts editor's use: code equal to abc, then or name not equal to x.
    void twoComparisonsJoinedByOr()
    {
        Shown s(accountFields);
        QVERIFY(s.get<QComboBox>("cbAndOr")->isHidden());
        QCOMPARE(s.get<QComboBox>("cbField")->currentText(), QStringLiteral("代码"));
        QCOMPARE(s.get<QComboBox>("cbOperate")->currentText(), QStringLiteral("等于"));
        s.type(QStringLiteral("abc"));
        QTest::keyClick(s.get<QLineEdit>("edtValue"), Qt::Key_Return); // Enter in the value adds
        QCOMPARE(unGlobal().SearchCondition, QStringLiteral("ad_code = 'abc' "));
        QVERIFY(!s.get<QComboBox>("cbAndOr")->isHidden());

        s.choose("cbAndOr", QStringLiteral("或者"));
        s.choose("cbField", QStringLiteral("姓名"));
        QCOMPARE(s.get<QComboBox>("cbOperate")->currentIndex(), 0); // a field change selects the first operator
        s.choose("cbOperate", QStringLiteral("不等于"));
        s.type(QStringLiteral("x"));
        QTest::keyClick(&s.dlg, Qt::Key_F2);
        QCOMPARE(unGlobal().SearchCondition, QStringLiteral("ad_code = 'abc'  or ad_name <> 'x' "));
        QCOMPARE(s.display(), (QStringList{QStringLiteral("代码 等于 \"abc\""), QStringLiteral("或者 姓名 不等于 \"x\"")}));

        QTest::keyClick(&s.dlg, Qt::Key_F3);
        QCOMPARE(s.dlg.result(), int(QDialog::Accepted));
        QCOMPARE(unGlobal().SearchCondition, QStringLiteral("ad_code = 'abc'  or ad_name <> 'x' "));
    }

    void endings_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("kept");
        QTest::newRow("close box keeps") << QStringLiteral("close") << true;
        QTest::newRow("confirm keeps") << QStringLiteral("bbtOk") << true;
        QTest::newRow("cancel empties") << QStringLiteral("bbtExit") << false;
        QTest::newRow("refresh empties") << QStringLiteral("bbtRefresh") << false;
    }
    void endings()
    {
        QFETCH(QString, how);
        QFETCH(bool, kept);
        Shown s(accountFields);
        s.type(QStringLiteral("abc"));
        s.get<QPushButton>("btAppend")->click();
        if (how == QLatin1String("close"))
            s.dlg.close();
        else
            s.get<QPushButton>(how.toLatin1().constData())->click();
        QCOMPARE(unGlobal().SearchCondition, kept ? QStringLiteral("ad_code = 'abc' ") : QString());
        if (how == QLatin1String("bbtRefresh")) {
            QVERIFY(s.display().isEmpty());
            // The next comparison starts a new condition, without a logic word.
            s.type(QStringLiteral("d"));
            s.get<QPushButton>("btAppend")->click();
            QCOMPARE(unGlobal().SearchCondition, QStringLiteral("ad_code = 'd' "));
        }
    }

    void confirmWithNothingAdded()
    {
        unGlobal().SearchCondition = QStringLiteral("left over");
        Shown s(accountFields);
        s.get<QPushButton>("bbtOk")->click();
        QCOMPARE(s.dlg.result(), int(QDialog::Accepted));
        QCOMPARE(unGlobal().SearchCondition, QString());
    }

    void valueControlsFollowTheType()
    {
        TestDatabase db;
        unGlobal().ServerDate = QDateTime(QDate(2005, 3, 1), QTime(10, 0));
        Shown s({field("li_typeid", QStringLiteral("类别"), 'B', QStringLiteral("LibDB;select lt_id, lt_notice from www_litype order by lt_id")),
                 field("li_logtime", QStringLiteral("日期"), 'D'),
                 field("ad_pass", QStringLiteral("标记"), 'S', QStringLiteral("1:是;0:否")),
                 field("li_number", QStringLiteral("册数"), 'N')});
        QCOMPARE(s.get<QComboBox>("cbField")->count(), 4);
        QComboBox *list = s.get<QComboBox>("cbList");
        QVERIFY(!list->isHidden());
        QVERIFY(s.get<QLineEdit>("edtValue")->isHidden());
        QVERIFY(list->count() > 0);
        QVERIFY(list->currentText().startsWith(QStringLiteral("1:")));
        QTest::keyClick(list, Qt::Key_9); // typed characters are ignored
        QCOMPARE(list->currentIndex(), 0);
        s.get<QPushButton>("btAppend")->click();
        QCOMPARE(unGlobal().SearchCondition, QStringLiteral("li_typeid = 1 "));

        s.choose("cbField", QStringLiteral("日期"));
        QDateEdit *date = s.get<QDateEdit>("dtpDate");
        QVERIFY(!date->isHidden());
        QVERIFY(list->isHidden());
        QCOMPARE(date->date(), QDate(2005, 3, 1));
        s.choose("cbOperate", QStringLiteral("大于"));
        s.get<QPushButton>("btAppend")->click();
        QCOMPARE(unGlobal().SearchCondition,
                 "li_typeid = 1  and li_logtime>=" + LibDB::dialect().date(QDate(2005, 3, 2)) + " ");

        s.choose("cbField", QStringLiteral("标记"));
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->itemText(1), QStringLiteral("0:否"));
    }

    void refusals()
    {
        ScriptedPrompt p;
        {
            Shown s({field("li_number", QStringLiteral("册数"), 'N'),
                     field("x", QStringLiteral("坏"), 'B', QStringLiteral("LibDB;select nothing from nowhere"))});
            // An unquoted number is all an N field puts into the condition.
            s.type(QStringLiteral("1 or 1=1"));
            s.get<QPushButton>("btAppend")->click();
            QCOMPARE(unGlobal().SearchCondition, QString());
            QCOMPARE(p.shown.constLast().caption, QStringLiteral("错误提示"));
            QCOMPARE(p.shown.constLast().icon, PromptIcon::Information);

            // A list whose statement fails: the database's error, and nothing to add.
            p.clear();
            s.choose("cbField", QStringLiteral("坏"));
            QCOMPARE(p.shown.size(), 1);
            QCOMPARE(p.shown.constFirst().caption, applicationTitle());
            s.get<QPushButton>("btAppend")->click();
            QCOMPARE(unGlobal().SearchCondition, QString());
        }
        p.clear();
        Shown none({});
        none.get<QPushButton>("btAppend")->click();
        QCOMPARE(p.texts(), QStringList{QStringLiteral("字段不能为空！")});
    }
};

QTEST_MAIN(TestSearch)
#include "tst_search.moc"
