#include "connectiondialog.h"
#include "desktop.h"
#include "helperlib.h"
#include "keyfilters.h"
#include "libdb.h"
#include "machinesettings.h"
#include "prompt.h"
#include "text.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

namespace lectoria {

TDbPara::TDbPara(QWidget *parent, const QString &reason) : QDialog(parent)
{
    makeFixedDialog(this, BorderIcons::SystemMenu);
    setObjectName(QStringLiteral("TDbPara"));
    setWindowTitle(QStringLiteral("设置数据库连接参数"));
    setAttribute(Qt::WA_DeleteOnClose, false);

    const QStringList warnings = {
        QStringLiteral("数据库连接出错！！！"),
        QStringLiteral("首先检查数据库服务器是否已运行；"),
        QStringLiteral("再检查与服务器的通信是否正常；"),
        QStringLiteral("再检查数据库参数是否是正确（注意不要随意改动）。"),
        QStringLiteral("确定无误后，重新运行系统。或与系统管理员联系。"),
    };
    // Laid out to fit, parameters shown, in 261 pixels frame included,
    // under a title bar and border of up to 45 pixels.
    int y = 6;
    for (const QString &w : warnings) {
        auto *l = new QLabel(w, this);
        l->setStyleSheet(QStringLiteral("color: red;"));
        l->setGeometry(16, y, 400, 17);
        y += 17;
    }
    btMod = new QPushButton(QStringLiteral("修改数据库连接参数"), this);
    btMod->setObjectName(QStringLiteral("btMod"));
    btMod->setGeometry(60, y + 3, 160, 24);
    btExit = new QPushButton(QStringLiteral("取消"), this);
    btExit->setObjectName(QStringLiteral("btExit"));
    btExit->setGeometry(240, y + 3, 120, 24);
    y += 31;

    grbBox = new QGroupBox(this);
    grbBox->setObjectName(QStringLiteral("grbBox"));
    grbBox->setGeometry(10, y, 410, 92);
    auto addField = [this](const QString &caption, const char *name, int row, bool masked) {
        auto *l = new QLabel(caption, grbBox);
        l->setGeometry(10, 4 + row * 23, 80, 20);
        auto *e = new QLineEdit(grbBox);
        e->setObjectName(QLatin1String(name));
        e->setGeometry(92, 4 + row * 23, 150, 20);
        if (masked) maskWithStars(e);
        return e;
    };
    edOdbc = addField(QStringLiteral("ODBC名称"), "edOdbc", 0, false);
    edUser = addField(QStringLiteral("登录标识号"), "edUser", 1, true);
    edPass = addField(QStringLiteral("密码"), "edPass", 2, true);
    auto *note = new QLabel(QStringLiteral("注意：此参数是与数据库连接使用的参数，非操作员用户和密码。"), grbBox);
    note->setGeometry(10, 72, 390, 16);
    auto *warn = new QLabel(QStringLiteral("请不要随意改动！！！"), grbBox);
    QFont f = warn->font();
    f.setUnderline(true);
    warn->setFont(f);
    warn->setGeometry(250, 4, 150, 20);
    btOk = new QPushButton(QStringLiteral("保存数据库连接参数"), grbBox);
    btOk->setObjectName(QStringLiteral("btOk"));
    btOk->setGeometry(250, 30, 150, 26);
    grbBox->setVisible(false);

    // The warning lines stand for every cause; the driver's own reason
    // (a refused login, a server that cannot encrypt, an unknown instance)
    // tells the administrator which one it was. It sits where the group box
    // appears, which takes its place once the parameters are shown.
    lbReason = new QLabel(this);
    lbReason->setObjectName(QStringLiteral("lbReason"));
    lbReason->setWordWrap(true);
    lbReason->setTextFormat(Qt::PlainText);
    lbReason->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    const QString why = reason.trimmed();
    const int reasonHeight = why.isEmpty() ? 0 : 64;
    lbReason->setGeometry(16, y, 400, reasonHeight);
    lbReason->setText(why.isEmpty() ? QString() : QStringLiteral("原因：") + why);
    lbReason->setToolTip(why);
    lbReason->setVisible(!why.isEmpty());

    setTabOrder(btExit, btMod);
    setTabOrder(btMod, edOdbc);
    setTabOrder(edOdbc, edUser);
    setTabOrder(edUser, edPass);
    setTabOrder(edPass, btOk);
    btMod->setAutoDefault(false);
    btExit->setAutoDefault(false);
    btOk->setAutoDefault(false);
    new EnterMovesFocus(this);

    setFixedSize(430, y + (reasonHeight ? reasonHeight + 6 : 0));
    if (QScreen *s = QGuiApplication::primaryScreen())
        move(s->geometry().center() - rect().center());

    QObject::connect(btMod, &QPushButton::clicked, this, &TDbPara::btModClick);
    QObject::connect(btOk, &QPushButton::clicked, this, &TDbPara::btOkClick);
    QObject::connect(btExit, &QPushButton::clicked, this, &QDialog::reject);

    // FormCreate: what is stored, unprotected; empty fields without a key.
    const StoredConnection stored = LibDB::storedConnection();
    edOdbc->setText(stored.odbcName);
    edUser->setText(stored.user);
    edPass->setText(stored.password);
}

void TDbPara::btModClick()
{
    grbBox->setVisible(true);
    lbReason->setVisible(false);
    // The outer height of 261 pixels, frame included, shows the group box;
    // a frame taller than the layout allows for still leaves it whole.
    const int frame = frameGeometry().height() - height();
    setFixedSize(width(), qMax(261 - frame, grbBox->geometry().bottom() + 4));
}

void TDbPara::btOkClick()
{
    // A user name or password that could not reach the server as typed is
    // refused here, before it is stored.
    ConnectionParams typed;
    typed.odbcName = trimText(edOdbc->text());
    typed.hasCredentials = true;
    typed.user = trimText(edUser->text());
    typed.password = trimText(edPass->text());
    const QString problem = LibDB::credentialsProblem(typed);
    if (!problem.isEmpty()) {
        showError(problem);
        (problem.contains(QStringLiteral("密码")) && !problem.contains(QStringLiteral("登录标识号")) ? edPass : edUser)->setFocus();
        return; // the dialog stays open
    }
    const QString failedKey = MachineSettings::createKeys();
    if (!failedKey.isEmpty()) {
        showError(QStringLiteral("无法创建注册表项 %1。").arg(failedKey));
        return; // the dialog stays open
    }
    const QMap<QString, QString> values = {
        {QStringLiteral("ODBCNAME"), trimText(edOdbc->text())},
        {QStringLiteral("USERNAME"), qyBeSecrectString(trimText(edUser->text()))},
        {QStringLiteral("PASSWORD"), qyBeSecrectString(trimText(edPass->text()))},
    };
    if (!MachineSettings::write(values))
        inform(QStringLiteral("保存您配置的参数失败！在WinNT/2000/XP中只能Administrator用户才有权修改，请与系统管理员联系！"));
    accept();
}

} // namespace lectoria
