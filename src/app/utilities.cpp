#include "utilities.h"
#include "desktop.h"
#include "helpwindow.h"
#include "inputmethods.h"
#include "machinesettings.h"
#include "prompt.h"
#include "splash.h"
#include "text.h"
#include "unglobal.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace lectoria {
namespace {

// The about box's picture, painted for the box's own size and the screen's
// pixel ratio so that it is sharp: a deep blue evening sky over a lit horizon,
// an open book with its pages fanning out on the right, and a quiet band at
// the left where the icon and the product and version lines sit.
QPixmap aboutPicture(const QSize &size, qreal ratio)
{
    QPixmap pixmap(size * ratio);
    pixmap.setDevicePixelRatio(ratio);
    const qreal w = size.width();
    const qreal h = size.height();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0.0, QColor(0x12, 0x2b, 0x4f));
    sky.setColorAt(0.62, QColor(0x2f, 0x6c, 0x9e));
    sky.setColorAt(1.0, QColor(0x7f, 0xb8, 0xd8));
    p.fillRect(QRectF(0, 0, w, h), sky);

    // A glow on the horizon behind the book.
    QRadialGradient glow(QPointF(w * 0.8, h * 0.7), h * 0.55);
    glow.setColorAt(0.0, QColor(255, 236, 180, 150));
    glow.setColorAt(1.0, QColor(255, 236, 180, 0));
    p.fillRect(QRectF(0, 0, w, h), glow);

    // Faint lines of text across the sky, like a page seen from afar.
    p.setPen(QPen(QColor(255, 255, 255, 22), 1));
    for (qreal y = 22; y < h * 0.3; y += 9)
        p.drawLine(QPointF(18, y), QPointF(w * 0.55 - (int(y) % 5) * 6, y));

    // The open book: two pages curving up from the spine, a few more behind.
    const QPointF spine(w * 0.79, h * 0.78);
    const qreal half = w * 0.17;
    auto page = [&](qreal side, qreal lift, const QColor &fill) {
        QPainterPath path(spine);
        path.cubicTo(spine + QPointF(side * half * 0.35, -h * 0.12 - lift),
                     spine + QPointF(side * half * 0.8, -h * 0.1 - lift),
                     spine + QPointF(side * half, -h * 0.05 - lift));
        path.lineTo(spine + QPointF(side * half, h * 0.06 - lift * 0.3));
        path.cubicTo(spine + QPointF(side * half * 0.7, h * 0.01 - lift * 0.3),
                     spine + QPointF(side * half * 0.3, h * 0.02),
                     spine + QPointF(0, h * 0.09));
        path.closeSubpath();
        p.setPen(QPen(QColor(0x1b, 0x3a, 0x60, 160), 1));
        p.setBrush(fill);
        p.drawPath(path);
    };
    for (int i = 3; i >= 1; --i) {
        const QColor behind(235 - i * 12, 230 - i * 12, 215 - i * 12);
        page(-1, i * 5.0, behind);
        page(1, i * 5.0, behind);
    }
    page(-1, 0, QColor(0xfb, 0xf8, 0xef));
    page(1, 0, QColor(0xfb, 0xf8, 0xef));
    // Lines of print on the two front pages.
    p.setPen(QPen(QColor(0x6a, 0x7f, 0x99, 150), 1.2));
    for (int i = 0; i < 4; ++i) {
        const qreal y = -h * 0.055 + i * h * 0.03;
        p.drawLine(spine + QPointF(-half * 0.85, y), spine + QPointF(-half * 0.2, y + h * 0.02));
        p.drawLine(spine + QPointF(half * 0.2, y + h * 0.02), spine + QPointF(half * 0.85, y));
    }

    // The quiet band behind the text, and a thin rule under it.
    QLinearGradient band(0, 0, w * 0.7, 0);
    band.setColorAt(0.0, QColor(0, 0, 0, 70));
    band.setColorAt(1.0, QColor(0, 0, 0, 0));
    p.fillRect(QRectF(0, 80, w * 0.7, 72), band);
    p.setPen(QPen(QColor(255, 255, 255, 120), 1));
    p.drawLine(QPointF(24, 156), QPointF(w * 0.62, 156));
    return pixmap;
}

} // namespace

TChinese::TChinese(QWidget *owner) : QDialog(owner)
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
    makeFixedDialog(this, BorderIcons::None);
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

TAboutBox::TAboutBox(QWidget *owner) : QDialog(owner)
{
    ensureResources();
    setObjectName(QStringLiteral("TAboutBox"));
    setWindowTitle(QStringLiteral("关于..."));
    makeFixedDialog(this, BorderIcons::SystemMenu);
    setFixedSize(400, 260);
    auto *picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("imgAbout"));
    picture->setPixmap(aboutPicture(size(), devicePixelRatioF()));
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

#ifdef Q_OS_WIN
// Windows' own programs: the control panel's date/time and printer pages and
// the calculator.
QStringList dateSettingsPrograms() { return {QStringLiteral("control.exe timedate.cpl")}; }

QStringList printerSettingsPrograms() { return {QStringLiteral("control.exe printers")}; }

QStringList calculatorPrograms() { return {QStringLiteral("CALC.EXE")}; }
#else
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
#endif

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

QString helpIndexPath()
{
    const QString page = QStringLiteral("Help/Index.htm");
    const QString here = QDir::current().absoluteFilePath(page);
    if (QFileInfo(here).isFile())
        return here;
    // Started from another folder: the pages installed beside the program.
    const QString beside = QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(page);
    return QFileInfo(beside).isFile() ? beside : here;
}

THelp *openHelp(QWidget *owner)
{
    const QString page = helpIndexPath();
    THelp *help = owner ? owner->findChild<THelp *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    if (!help) {
        help = new THelp(owner);
        if (owner && owner->isVisible())
            help->move(owner->frameGeometry().center() - help->rect().center());
    }
    if (!help->showPage(page)) {
        inform(QStringLiteral("帮助文件") + QDir::toNativeSeparators(page) + QStringLiteral("不存在！"));
        if (!owner)
            delete help;
        return nullptr;
    }
    help->show();
    help->raise();
    help->activateWindow();
    return help;
}

} // namespace Utilities
} // namespace lectoria
