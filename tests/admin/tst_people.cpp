#include "operatoraccounts.h"
#include "testsupport.h"
#include "tpeople.h"
#include "tsearch.h"
#include "unglobal.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>

using namespace lectoria;
using namespace lectoria::test;

namespace {

// Chinese text arrives through the input method as committed text.
void typeChinese(QWidget *field, const QString &text)
{
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QApplication::sendEvent(field, &commit);
}

// The editor on a fresh demo database (admin, guest, lib01), shown.
struct Editor {
    Editor()
    {
        resetSession();
        people.show();
        QVERIFY(QTest::qWaitForWindowExposed(&people));
    }
    template <typename T>
    T *get(const QString &name) { return people.findChild<T *>(name); }
    QLineEdit *code() { return get<QLineEdit>(QStringLiteral("edCode")); }
    QLineEdit *name() { return get<QLineEdit>(QStringLiteral("edName")); }
    QCheckBox *right(int n) { return get<QCheckBox>(QStringLiteral("chAuth%1").arg(n)); }
    void nav(const char *button) { get<QToolButton>(QLatin1String(button))->click(); }
    int rows() { return people.grid()->model()->rowCount(); }
    QStringList codes()
    {
        QStringList c;
        for (int r = 0; r < rows(); ++r)
            c << people.grid()->model()->index(r, 0).data().toString();
        return c;
    }
    void select(const QString &code)
    {
        const int r = int(codes().indexOf(code));
        QVERIFY(r >= 0);
        people.grid()->setCurrentIndex(people.grid()->model()->index(r, 0));
    }
    // One search through the dialog: field caption, operator, value; or cancelled.
    void search(const QString &field, const QString &value, bool cancel = false)
    {
        QTimer::singleShot(0, [=] {
            auto *s = qobject_cast<TSearch *>(QApplication::activeModalWidget());
            if (!s)
                return;
            auto *f = s->findChild<QComboBox *>(QStringLiteral("cbField"));
            f->setCurrentIndex(f->findText(field));
            s->findChild<QLineEdit *>(QStringLiteral("edtValue"))->setText(value);
            s->findChild<QPushButton *>(QStringLiteral("btAppend"))->click();
            s->findChild<QPushButton *>(cancel ? QStringLiteral("bbtExit") : QStringLiteral("bbtOk"))->click();
        });
        get<QPushButton>(QStringLiteral("btSearch"))->click();
    }
    QVariantList row(const QString &code)
    {
        const auto r = db.rows(QStringLiteral("select ad_code,ad_name,ad_pass,ad_auth1,ad_auth15,ad_auth19,lo_time from www_admin where ad_code='%1'").arg(code));
        return r.isEmpty() ? QVariantList() : r.constFirst();
    }
    QString rights(const QString &code)
    {
        QString s;
        for (int n = 1; n <= 19; ++n)
            s += db.scalar(QStringLiteral("select ad_auth%1 from www_admin where ad_code='%2'").arg(n).arg(code)).toString();
        return s;
    }

    TestDatabase db;
    ScriptedPrompt prompt;
    TPeople people{nullptr};
};

} // namespace

class TestPeople : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void gridShowsEveryAccountInCodeOrder()
    {
        Editor e;
        QCOMPARE(e.codes(), (QStringList{"admin", "guest", "lib01"}));
        QAbstractItemModel *m = e.people.grid()->model();
        QCOMPARE(m->columnCount(), 22);
        QCOMPARE(m->headerData(1, Qt::Horizontal).toString(), QStringLiteral("姓名"));
        QCOMPARE(m->headerData(2, Qt::Horizontal).toString(), QStringLiteral("最后登录时间"));
        QCOMPARE(m->headerData(3, Qt::Horizontal).toString(), QStringLiteral("人员管理"));
        QCOMPARE(m->headerData(20, Qt::Horizontal).toString(), QStringLiteral("备用1"));
        QCOMPARE(m->index(0, 2).data().toString(), QStringLiteral("2024-01-01 08:00:00"));
        QCOMPARE(e.right(19)->text(), QStringLiteral("人员管理"));
        QCOMPARE(e.right(17)->text(), QStringLiteral("备用 1"));
        QCOMPARE(e.code()->property("tag").toInt(), 98);
        QCOMPARE(e.name()->property("tag").toInt(), 99);
    }

    void newRowGetsItsCodeAsPassword()
    {
        Editor e;
        QTest::keyClick(&e.people, Qt::Key_F2);
        QVERIFY(e.people.newRow());
        for (int n = 1; n <= 19; ++n)
            QVERIFY(!e.right(n)->isChecked());
        QTest::keyClicks(e.code(), QStringLiteral("lib02"));
        typeChinese(e.name(), QStringLiteral("新馆员"));
        e.right(15)->click();
        QTest::keyClick(&e.people, Qt::Key_F3);
        QCOMPARE(e.people.state(), TPeople::RowState::Browse);
        const QVariantList saved = e.row(QStringLiteral("lib02"));
        QCOMPARE(saved.mid(0, 6), (QVariantList{"lib02", QStringLiteral("新馆员"), "lib02", "0", "1", "0"}));
        QVERIFY(saved.at(6).isNull()); // the last login is the web site's to write
        QCOMPARE(e.rights(QStringLiteral("lib02")), QStringLiteral("0000000000000010000"));
        QCOMPARE(e.codes(), (QStringList{"admin", "guest", "lib01", "lib02"}));
        QCOMPARE(e.people.currentRow(), 3);
        QVERIFY(e.prompt.shown.isEmpty());
    }

    void requiredFieldsAndCancel()
    {
        Editor e;
        e.nav("nbInsert");
        QCOMPARE(e.rows(), 4); // the new row is in the grid while it is typed
        e.nav("nbPost");
        QCOMPARE(e.prompt.shown.size(), 1);
        QVERIFY(e.people.newRow());
        QTest::keyClicks(e.code(), QStringLiteral("x1"));
        e.nav("nbPost"); // still no name
        QCOMPARE(e.prompt.shown.size(), 2);
        QVERIFY(e.people.newRow());
        QTest::keyClick(&e.people, Qt::Key_F4);
        QCOMPARE(e.people.state(), TPeople::RowState::Browse);
        QCOMPARE(e.codes(), (QStringList{"admin", "guest", "lib01"}));
        QCOMPARE(e.db.scalar(QStringLiteral("select count(*) from www_admin")).toInt(), 3);
    }

    // Refused even when the existing row is hidden by the search filter.
    void duplicateCodeRefused()
    {
        Editor e;
        e.search(QStringLiteral("代码"), QStringLiteral("guest"));
        QCOMPARE(e.codes(), QStringList{"guest"});
        e.nav("nbInsert");
        QTest::keyClicks(e.code(), QStringLiteral("lib01"));
        typeChinese(e.name(), QStringLiteral("重复"));
        e.nav("nbPost");
        QCOMPARE(e.prompt.texts(), QStringList{QStringLiteral("此代码已被使用，不能重复使用！")});
        QCOMPARE(e.prompt.shown.constFirst().caption, QStringLiteral("提示信息"));
        QVERIFY(e.people.newRow()); // open for correction
        QCOMPARE(e.row(QStringLiteral("lib01")).at(1).toString(), QStringLiteral("图书管理员"));

        e.code()->clear();
        QTest::keyClicks(e.code(), QStringLiteral("lib03"));
        e.nav("nbPost");
        QCOMPARE(e.row(QStringLiteral("lib03")).at(2).toString(), QStringLiteral("lib03"));
    }

    // Codes compare as the database's collation does (Chinese_PRC_CI_AS on
    // the site, NOCASE without trailing blanks on the embedded database):
    // login, the duplicate check and the search find the same accounts.
    void codesCompareAsTheDatabaseDoes_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("found"); // by the login's lookup; empty: none
        QTest::addColumn<bool>("inUse");    // the editor's duplicate check trims the code first
        QTest::newRow("as stored") << QStringLiteral("lib01") << QStringLiteral("lib01") << true;
        QTest::newRow("other case") << QStringLiteral("LiB01") << QStringLiteral("lib01") << true;
        QTest::newRow("trailing blanks") << QStringLiteral("ADMIN  ") << QStringLiteral("admin") << true;
        QTest::newRow("leading blank") << QStringLiteral(" admin") << QString() << true;
        QTest::newRow("shorter") << QStringLiteral("admi") << QString() << false;
    }

    void codesCompareAsTheDatabaseDoes()
    {
        QFETCH(QString, typed);
        QFETCH(QString, found);
        QFETCH(bool, inUse);
        Editor e;
        const std::optional<OperatorAccounts::Operator> who = OperatorAccounts::find(typed);
        QCOMPARE(who ? who->code : QString(), found);
        QCOMPARE(OperatorAccounts::codeInUse(typed), inUse);
        if (!found.isEmpty()) {
            e.search(QStringLiteral("代码"), typed);
            QCOMPARE(e.codes(), QStringList{found});
        }
    }

    void deleting()
    {
        Editor e;
        e.select(QStringLiteral("admin"));
        e.nav("nbDelete");
        QCOMPARE(e.prompt.texts(), QStringList{QStringLiteral("您不能删除管理员用户！")});
        QCOMPARE(e.rows(), 3);

        e.prompt.clear();
        e.select(QStringLiteral("guest"));
        e.prompt.answers = {false};
        e.nav("nbDelete");
        QCOMPARE(e.prompt.texts(), QStringList{QStringLiteral("您确定要删除此记录吗？")});
        QCOMPARE(e.rows(), 3);
        e.prompt.answers = {true};
        e.nav("nbDelete");
        QCOMPARE(e.codes(), (QStringList{"admin", "lib01"}));
        QVERIFY(e.row(QStringLiteral("guest")).isEmpty());
    }

    void adminKeepsUserManagement()
    {
        Editor e;
        e.select(QStringLiteral("admin"));
        e.right(19)->click(); // unticking begins the edit
        QCOMPARE(e.people.state(), TPeople::RowState::Edit);
        e.right(1)->click();
        e.nav("nbPost");
        QCOMPARE(e.row(QStringLiteral("admin")).at(5).toString(), QStringLiteral("1"));
        QCOMPARE(e.row(QStringLiteral("admin")).at(3).toString(), QStringLiteral("0"));
        QVERIFY(e.right(19)->isChecked());
    }

    void editingKeepsCodePasswordAndLogin()
    {
        Editor e;
        e.select(QStringLiteral("lib01"));
        const QVariant login = e.row(QStringLiteral("lib01")).at(6);
        QTest::keyClick(&e.people, Qt::Key_F5); // refresh keeps the position
        QCOMPARE(e.people.currentRow(), 2);
        e.nav("nbEdit");
        e.name()->clear();
        typeChinese(e.name(), QStringLiteral("馆长"));
        e.right(15)->click();
        e.nav("nbPost");
        QCOMPARE(e.row(QStringLiteral("lib01")),
                 (QVariantList{"lib01", QStringLiteral("馆长"), "lib01", "1", "0", "0", login}));
    }

    // Typing into the code box of an existing row cancels the whole edit.
    void existingCodeCannotChange()
    {
        Editor e;
        e.select(QStringLiteral("guest"));
        QTest::keyClicks(e.name(), QStringLiteral("X"));
        QCOMPARE(e.people.state(), TPeople::RowState::Edit);
        QTest::keyClicks(e.code(), QStringLiteral("2"));
        QCOMPARE(e.prompt.texts(), QStringList{QStringLiteral("为了系统的一致性，已有的代码不能修改！")});
        QCOMPARE(e.people.state(), TPeople::RowState::Browse);
        QCOMPARE(e.code()->text(), QStringLiteral("guest"));
        QCOMPARE(e.name()->text(), QStringLiteral("访客"));
        QCOMPARE(e.row(QStringLiteral("guest")).at(1).toString(), QStringLiteral("访客"));
    }

    void searchReplacesTheFilter()
    {
        Editor e;
        e.db.addOperator(QStringLiteral("obr"), QStringLiteral("O'Brien"), QStringLiteral("obr"), QString());
        e.search(QStringLiteral("代码"), QStringLiteral("lib01"));
        QCOMPARE(e.codes(), QStringList{"lib01"});
        QCOMPARE(unGlobal().SearchCondition, QString());
        e.search(QStringLiteral("姓名"), QStringLiteral("O'Brien"));
        QCOMPARE(e.codes(), QStringList{"obr"}); // replaced, not narrowed
        // Typed text that reads like SQL is text: the database is never told to run it.
        e.db.addOperator(QStringLiteral("gd"), QStringLiteral("getdate()"), QStringLiteral("gd"), QString());
        e.search(QStringLiteral("姓名"), QStringLiteral("getdate()"));
        QCOMPARE(e.codes(), QStringList{"gd"});
        e.search(QStringLiteral("姓名"), QStringLiteral("访客"), true); // cancelled: all rows
        QCOMPARE(e.rows(), 5);
    }
};

QTEST_MAIN(TestPeople)
#include "tst_people.moc"
