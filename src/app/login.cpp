#include "login.h"
#include "desktop.h"
#include "errors.h"
#include "keyfilters.h"
#include "operatoraccounts.h"
#include "prompt.h"
#include "unglobal.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace lectoria {
namespace {

QLineEdit *codeField(QWidget *parent, const char *name, bool masked)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    e->setMaxLength(6);
    if (masked) maskWithStars(e);
    // Codes and passwords are typed with the input method closed.
    e->setAttribute(Qt::WA_InputMethodEnabled, false);
    return e;
}

QPushButton *button(QWidget *parent, const char *name, const QString &caption, const QString &hint)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setToolTip(hint);
    b->setAutoDefault(false);
    return b;
}

} // namespace

TLogin::TLogin(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("TLogin"));
    QFont f(QStringLiteral("宋体"));
    f.setPixelSize(16);
    setFont(f);

    edCode = codeField(this, "edCode", false);
    edPass = codeField(this, "edPass", true);
    // Wide enough for the whole caption in the title bar.
    edCode->setMinimumWidth(200);
    btOk = button(this, "btOk", QStringLiteral("登录(&L)"), QStringLiteral("用户登录"));
    btCancel = button(this, "btCancel", QStringLiteral("取消(&C)"), QStringLiteral("退出此界面"));
    btExit = button(this, "btExit", QStringLiteral("退出系统(X)"), QStringLiteral("退出整个系统"));

    auto *grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("用户帐号"), this), 0, 0);
    grid->addWidget(edCode, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("用户密码"), this), 1, 0);
    grid->addWidget(edPass, 1, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(btOk);
    buttons->addWidget(btCancel);
    buttons->addWidget(btExit);
    grid->addLayout(buttons, 2, 0, 1, 2);
    makeFixedDialog(this, BorderIcons::None);

    setTabOrder(edCode, edPass);
    setTabOrder(edPass, btOk);
    setTabOrder(btOk, btCancel);
    setTabOrder(btCancel, btExit);
    new EnterMovesFocus(this);

    connect(btOk, &QPushButton::clicked, this, &TLogin::btOkClick);
    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btExit, &QPushButton::clicked, this, [this] { done(Abort); });

    // FormCreate
    unGlobal().OperatorCode.clear();
    LoginFailures = 0;
    setWindowTitle(QStringLiteral("用户登录 [") + unGlobal().TitleText + QLatin1Char(']'));
    btExit->setVisible(!unGlobal().StartingUp);
    edCode->setFocus();
}

void TLogin::btOkClick()
{
    ++LoginFailures;
    guarded([this] {
        const OperatorAccounts::LoginResult result = OperatorAccounts::login(edCode->text(), edPass->text());
        // A failed attempt: the message, the window closed at the third one,
        // and the focus back on the field at fault.
        auto failed = [this](const QString &what, QLineEdit *field) {
            if (LoginFailures < 3) {
                showError(what + QStringLiteral("请再试一次。"));
            } else {
                showError(what + QStringLiteral("错误已超过3次。"));
                reject();
            }
            field->setFocus();
        };
        switch (result.failure) {
        case OperatorAccounts::LoginFailure::NoSuchOperator:
            failed(QStringLiteral("没有此用户！"), edCode);
            return;
        case OperatorAccounts::LoginFailure::WrongPassword:
            failed(QStringLiteral("密码错误！"), edPass);
            return;
        case OperatorAccounts::LoginFailure::None:
            break;
        }
        unGlobal().OperatorCode = result.who.code;
        unGlobal().OperatorPassword = result.who.password;
        reject(); // closes as the cancel button does
    });
}

TChgPass::TChgPass(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("TChgPass"));
    setWindowTitle(QStringLiteral("修改密码"));
    edPass = codeField(this, "edPass", true);
    edPass1 = codeField(this, "edPass1", true);
    edPass2 = codeField(this, "edPass2", true);
    auto *btOk = button(this, "btOk", QStringLiteral("确认(&O)"), QStringLiteral("确认修改密码"));
    auto *btCancel = button(this, "btCancel", QStringLiteral("取消(&C)"), QStringLiteral("取消修改密码"));

    auto *grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("旧密码"), this), 0, 0);
    grid->addWidget(edPass, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("新密码"), this), 1, 0);
    grid->addWidget(edPass1, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("确认新密码"), this), 2, 0);
    grid->addWidget(edPass2, 2, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(btOk);
    buttons->addWidget(btCancel);
    grid->addLayout(buttons, 3, 0, 1, 2);
    makeFixedDialog(this, BorderIcons::None);

    setTabOrder(edPass, edPass1);
    setTabOrder(edPass1, edPass2);
    setTabOrder(edPass2, btOk);
    setTabOrder(btOk, btCancel);
    new EnterMovesFocus(this);
    connect(btOk, &QPushButton::clicked, this, &TChgPass::btOkClick);
    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);
    edPass->setFocus();
}

void TChgPass::btOkClick()
{
    if (edPass->text() != unGlobal().OperatorPassword) {
        showError(QStringLiteral("旧密码不正确，请重新操作。"));
        edPass->setFocus();
        return;
    }
    if (edPass1->text() != edPass2->text()) {
        showError(QStringLiteral("两个密码不一样，请重新操作。"));
        edPass1->setFocus();
        return;
    }
    const bool ok = guarded([this] {
        OperatorAccounts::changePassword(unGlobal().OperatorCode, edPass1->text());
    });
    if (!ok)
        return; // the password stays as it was; the dialog stays open
    unGlobal().OperatorPassword = edPass1->text();
    inform(QStringLiteral("密码修改成功。"), QStringLiteral("提示"));
    accept();
}

} // namespace lectoria
