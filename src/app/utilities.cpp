#include "utilities.h"
#include "inputmethods.h"
#include "machinesettings.h"
#include "prompt.h"
#include "splash.h"
#include "text.h"
#include "unglobal.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>
#include <QVBoxLayout>

namespace lectoria {

TChinese::TChinese(QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("TChinese"));
    setWindowTitle(QStringLiteral("选择默认输入法"));
    cbDefInput = new QComboBox(this);
    cbDefInput->setObjectName(QStringLiteral("cbDefInput"));
    cbDefInput->setEditable(true);
    cbDefInput->setMinimumWidth(220);
    auto *bbtOk = new QPushButton(QStringLiteral("确认(&O)"), this);
    bbtOk->setObjectName(QStringLiteral("bbtOk"));
    bbtOk->setToolTip(QStringLiteral("确认输入法的选择"));
    bbtOk->setDefault(true);

    auto *row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("选择默认输入法："), this));
    row->addWidget(cbDefInput);
    auto *col = new QVBoxLayout(this);
    col->addLayout(row);
    col->addWidget(bbtOk, 0, Qt::AlignRight);
    col->setSizeConstraint(QLayout::SetFixedSize);
    connect(bbtOk, &QPushButton::clicked, this, &TChinese::bbtOkClick);

    cbDefInput->addItems(installedInputMethods());
    cbDefInput->setEditText(unGlobal().DefaultInputMethod);
}

void TChinese::bbtOkClick()
{
    unGlobal().DefaultInputMethod = trimText(cbDefInput->currentText());
    const QString failedKey = MachineSettings::createKeys();
    if (!failedKey.isEmpty()) {
        showError(QStringLiteral("无法创建注册表项 %1。").arg(failedKey));
        accept();
        return;
    }
    // A key that cannot be opened for writing keeps the choice for this run only, silently.
    MachineSettings::write({{QStringLiteral("INPUTTYPE"), unGlobal().DefaultInputMethod}});
    accept();
}

TAboutBox::TAboutBox(QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    ensureResources();
    setObjectName(QStringLiteral("TAboutBox"));
    setWindowTitle(QStringLiteral("关于..."));
    setFixedSize(400, 260);
    auto *picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("imgAbout"));
    picture->setPixmap(QPixmap(QStringLiteral(":/pictures/about.png")));
    picture->setScaledContents(true);
    picture->setGeometry(rect());
    picture->setToolTip(QStringLiteral("按鼠标任意键退出"));

    auto *icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("ProgramIcon"));
    icon->setPixmap(QPixmap(QStringLiteral(":/pictures/icon.png")).scaled(48, 48));
    icon->setGeometry(24, 90, 48, 48);

    ProductName = new QLabel(this);
    ProductName->setObjectName(QStringLiteral("ProductName"));
    ProductName->setStyleSheet(QStringLiteral("color: white; background: transparent; font-size: 16px;"));
    Version = new QLabel(this);
    Version->setObjectName(QStringLiteral("Version"));
    Version->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    lbVerStr = new QLabel(this);
    lbVerStr->setObjectName(QStringLiteral("lbVerStr"));

    // The version comes from the build, as the program file's version resource would give it.
    const QString fileVersion = QStringLiteral(LECTORIA_VERSION);
    Version->setText(fileVersion.isEmpty() ? QString() : QStringLiteral("V") + fileVersion);
    ProductName->setText(unGlobal().TitleText);
    ProductName->adjustSize();
    ProductName->move(84, 96);
    Version->adjustSize();
    Version->move(84, 124);
    lbVerStr->clear();
    lbVerStr->move(ProductName->x() + ProductName->width(), ProductName->y());
}

void TAboutBox::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    accept();
}

namespace Utilities {

QStringList dateSettingsPrograms()
{
    return {QStringLiteral("gnome-control-center datetime"), QStringLiteral("kcmshell6 kcm_regionandlang"),
            QStringLiteral("kcmshell5 formats"), QStringLiteral("xfce4-settings-manager"),
            QStringLiteral("timedatectl-gui")};
}

QStringList printerSettingsPrograms()
{
    return {QStringLiteral("system-config-printer"), QStringLiteral("gnome-control-center printers"),
            QStringLiteral("kcmshell6 kcm_printer_manager"), QStringLiteral("kcmshell5 kcm_printer_manager")};
}

QStringList calculatorPrograms()
{
    return {QStringLiteral("gnome-calculator"), QStringLiteral("kcalc"), QStringLiteral("galculator"),
            QStringLiteral("mate-calc"), QStringLiteral("qalculate-gtk"), QStringLiteral("xcalc")};
}

bool startFirstInstalled(const QStringList &programs)
{
    for (const QString &line : programs) {
        QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const QString exe = QStandardPaths::findExecutable(words.takeFirst());
        if (exe.isEmpty())
            continue;
        return QProcess::startDetached(exe, words);
    }
    return false;
}

void openHelp()
{
    const QString page = QDir::current().absoluteFilePath(QStringLiteral("Help/Index.htm"));
    QDesktopServices::openUrl(QUrl::fromLocalFile(page));
}

} // namespace Utilities
} // namespace lectoria
