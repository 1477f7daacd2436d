#include "mainwindow.h"
#include "clock.h"
#include "errors.h"
#include "gbk.h"
#include "libdb.h"
#include "login.h"
#include "machinesettings.h"
#include "operatoraccounts.h"
#include "prompt.h"
#include "splash.h"
#include "startupsteps.h"
#include "text.h"
#include "unglobal.h"
#include "upkeep.h"
#include "utilities.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QImageReader>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QResizeEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QSqlRecord>
#include <QToolBar>
#include <QToolButton>

namespace lectoria {
namespace {

QString &pictureFolder()
{
    static QString folder;
    return folder;
}

using OperatorAccounts::Right;

struct Item {
    const char *name;
    const char *caption; // nullptr: a separator
    const char *shortcut;
    Right right = Right::None; // the right that enables the command after login, if any
};

struct MenuDef {
    const char *name;
    const char *caption;
    QVector<Item> items;
};

const QVector<MenuDef> &menuDefs()
{
    static const QVector<MenuDef> defs = {
        {"xitong", "系统(&S)",
         {{"x_login", "用户登录(&L)", "Ctrl+L"}, {"x_logout", "用户退出(&O)", "Ctrl+O"}, {nullptr, nullptr, nullptr},
          {"x_passwd", "修改密码", nullptr}, {"x_chinese", "设置默认输入法", nullptr}, {nullptr, nullptr, nullptr},
          {"s_datetime", "日期格式设定", nullptr}, {nullptr, nullptr, nullptr},
          {"x_prtblank", "报表打印边界设置", nullptr}, {"s_printer", "打印机设置", nullptr},
          {nullptr, nullptr, nullptr}, {"s_jsq", "计算器", nullptr}, {nullptr, nullptr, nullptr},
          {"x_quit", "退出系统(&X)", "Ctrl+X"}}},
        {"m_shdh", "书海导海(&D)", {{"ms_tji", "导读文章分类统计", nullptr}, {"ms_print", "导读文章目录打印", nullptr}}},
        {"m_zxyd", "在线阅读(&G)",
         {{"mz_tji1", "电子图书分类统计", nullptr}, {"mz_print1", "电子图书目录打印", nullptr}, {nullptr, nullptr, nullptr},
          {"mz_tji2", "报刊论文分类统计", nullptr}, {"mz_print2", "报刊论文目录打印", nullptr}, {nullptr, nullptr, nullptr},
          {"mz_tji3", "图片资料库分类统计", nullptr}, {"mz_print3", "图片资料库目录打印", nullptr}, {nullptr, nullptr, nullptr},
          {"mz_tji4", "在线音乐分类统计", nullptr}, {"mz_print4", "在线音乐目录打印", nullptr}, {nullptr, nullptr, nullptr},
          {"mz_tji5", "在线视频分类统计", nullptr}, {"mz_print5", "在线视频目录打印", nullptr}}},
        {"weihu", "维护(&W)",
         {{"w_yonghu", "用户管理", nullptr, Right::UserManagement}, {nullptr, nullptr, nullptr},
          {"w_backup", "数据库备份", nullptr, Right::DataBackup}, {"w_zhengli", "数据库整理", nullptr, Right::DataBackup},
          {nullptr, nullptr, nullptr},
          {"w_output", "数据导出", nullptr, Right::DataBackup}, {"w_input", "数据导入", nullptr, Right::DataBackup}}},
        {"help", "帮助(&H)", {{"h_help", "帮助索引", "F1"}, {nullptr, nullptr, nullptr}, {"h_about", "关于...", "Ctrl+F1"}}},
    };
    return defs;
}

struct ToolDef {
    const char *name; // nullptr: a separator
    const char *hint;
    const char *command;
    const char *icon;
};

const QVector<ToolDef> &toolDefs()
{
    static const QVector<ToolDef> defs = {
        {"tbtLogin", "用户登录", "x_login", "login"},
        {"tbtLogout", "用户退出登录", "x_logout", "logout"},
        {nullptr, nullptr, nullptr, nullptr},
        {"tbtSPrint", "导读文章目录打印", "ms_print", "print"},
        {nullptr, nullptr, nullptr, nullptr},
        {"tbtZPrint1", "电子图书目录打印", "mz_print1", "print"},
        {"tbtZPrint2", "报刊论文目录打印", "mz_print2", "print"},
        {"tbtZPrint3", "图片资料库目录打印", "mz_print3", "print"},
        {"tbtZPrint4", "在线音乐目录打印", "mz_print4", "print"},
        {"tbtZPrint5", "在线视频目录打印", "mz_print5", "print"},
        {nullptr, nullptr, nullptr, nullptr},
        {"tbtPeople", "人员资料设置", "w_yonghu", "people"},
        {nullptr, nullptr, nullptr, nullptr},
        {"ToolButton5", "计算器", "s_jsq", "calc"},
        {nullptr, nullptr, nullptr, nullptr},
        {"tbtAbout", "关于...", "h_about", "about"},
    };
    return defs;
}

const char *const operatorTools[] = {"tbtSPrint", "tbtZPrint1", "tbtZPrint2", "tbtZPrint3", "tbtZPrint4", "tbtZPrint5"};

// The right a command needs, from the menu table.
Right commandRight(const char *command)
{
    for (const MenuDef &m : menuDefs())
        for (const Item &i : m.items)
            if (i.name && qstrcmp(i.name, command) == 0)
                return i.right;
    return Right::None;
}

} // namespace

TWebMain::TWebMain(QWidget *parent) : QMainWindow(parent)
{
    ensureResources();
    setObjectName(QStringLiteral("TWebMain"));
    setWindowTitle(applicationTitle());
    setWindowIcon(QIcon(QStringLiteral(":/pictures/icon.png")));
    resize(640, 480);
    if (QScreen *s = QGuiApplication::primaryScreen())
        move(s->availableGeometry().center() - rect().center());

    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);
    imgBack = new QLabel(client);
    imgBack->setObjectName(QStringLiteral("imgBack"));
    imgBack->setScaledContents(true);
    // lbSchool2 is drawn beneath lbSchool1, so it is made first.
    lbSchool2 = new QLabel(client);
    lbSchool2->setObjectName(QStringLiteral("lbSchool2"));
    lbSchool1 = new QLabel(client);
    lbSchool1->setObjectName(QStringLiteral("lbSchool1"));
    QFont title(QStringLiteral("隶书"));
    title.setBold(true);
    lbSchool1->setFont(title);
    lbSchool2->setFont(title);
    lbSchool1->setStyleSheet(QStringLiteral("color: olive; background: transparent;"));
    lbSchool2->setStyleSheet(QStringLiteral("color: white; background: transparent;"));

    buildMenus();
    buildToolBar();

    m_handlers.insert(QStringLiteral("x_login"), [this](QWidget *) { loginCommand(); });
    m_handlers.insert(QStringLiteral("x_logout"), [this](QWidget *) { logoutCommand(); });
    m_handlers.insert(QStringLiteral("x_passwd"), [this](QWidget *) { passwordCommand(); });
    m_handlers.insert(QStringLiteral("x_quit"), [this](QWidget *) { close(); });
    m_handlers.insert(QStringLiteral("x_chinese"), [](QWidget *owner) { TChinese(owner).exec(); });
    m_handlers.insert(QStringLiteral("s_datetime"), [](QWidget *) { Utilities::startFirstInstalled(Utilities::dateSettingsPrograms()); });
    m_handlers.insert(QStringLiteral("s_printer"), [](QWidget *) { Utilities::startFirstInstalled(Utilities::printerSettingsPrograms()); });
    m_handlers.insert(QStringLiteral("s_jsq"), [](QWidget *) { Utilities::startFirstInstalled(Utilities::calculatorPrograms()); });
    m_handlers.insert(QStringLiteral("h_help"), [](QWidget *owner) { Utilities::openHelp(owner); });
    m_handlers.insert(QStringLiteral("h_about"), [](QWidget *owner) {
        unGlobal().TitleText = applicationTitle();
        TAboutBox(owner).exec();
    });
}

TWebMain::~TWebMain() { delete m_splash; }

void TWebMain::buildMenus()
{
    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("LibMainMenu"));
    for (const MenuDef &m : menuDefs()) {
        QMenu *menu = bar->addMenu(QString::fromUtf8(m.caption));
        menu->setObjectName(QLatin1String(m.name));
        menu->menuAction()->setObjectName(QLatin1String(m.name) + QStringLiteral("_menu"));
        for (const Item &i : m.items) {
            if (!i.name) {
                menu->addSeparator();
                continue;
            }
            QAction *a = menu->addAction(QString::fromUtf8(i.caption));
            a->setObjectName(QLatin1String(i.name));
            if (i.shortcut)
                a->setShortcut(QKeySequence(QString::fromLatin1(i.shortcut)));
            const QString command = QLatin1String(i.name);
            connect(a, &QAction::triggered, this, [this, command] { runCommand(command); });
        }
    }
}

void TWebMain::buildToolBar()
{
    auto *bar = addToolBar(QStringLiteral("ToolBar1"));
    bar->setObjectName(QStringLiteral("ToolBar1"));
    bar->setMovable(false);
    bar->setIconSize(QSize(24, 24));
    for (const ToolDef &t : toolDefs()) {
        if (!t.name) {
            bar->addSeparator();
            continue;
        }
        auto *b = new QToolButton(bar);
        b->setObjectName(QLatin1String(t.name));
        b->setAutoRaise(true);
        b->setToolTip(QString::fromUtf8(t.hint));
        b->setIcon(QIcon(QStringLiteral(":/pictures/%1.png").arg(QLatin1String(t.icon))));
        bar->addWidget(b);
        const QString command = QLatin1String(t.command);
        connect(b, &QToolButton::clicked, this, [this, command] { runCommand(command); });
    }
}

QAction *TWebMain::action(const char *name) const { return findChild<QAction *>(QLatin1String(name)); }
QToolButton *TWebMain::tool(const char *name) const { return findChild<QToolButton *>(QLatin1String(name)); }
QMenu *TWebMain::menu(const char *name) const { return findChild<QMenu *>(QLatin1String(name)); }

void TWebMain::setHandler(const QString &command, Handler handler) { m_handlers.insert(command, std::move(handler)); }

void TWebMain::runCommand(const QString &name)
{
    const auto it = m_handlers.constFind(name);
    if (it == m_handlers.constEnd()) {
        inform(QStringLiteral("此功能尚未提供。"));
        return;
    }
    const Handler handler = it.value();
    QList<QWidget *> shownBefore;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->isVisible())
            shownBefore << w;
    guarded([&] { handler(this); });
    takeKeyboardBack(shownBefore);
}

void TWebMain::takeKeyboardBack(const QList<QWidget *> &shownBefore)
{
    // A dialog that closes itself after its last message (the password
    // changed, the third failed login) or that the operator left had the
    // keyboard, and with it gone nobody has it unless a window manager
    // passes it on: the operator's next keys would go nowhere. A window the
    // command left open (the help window) keeps it.
    if (!isVisible() || QApplication::activeModalWidget())
        return;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = w->windowType();
        if (w != this && w->isVisible() && !shownBefore.contains(w) && type != Qt::Popup && type != Qt::ToolTip)
            return;
    }
    raise();
    activateWindow();
}

void TWebMain::setPictureFolder(const QString &folder) { pictureFolder() = folder; }

void TWebMain::setLoggedOut()
{
    for (const char *n : {"x_logout", "x_passwd", "x_prtblank"})
        action(n)->setEnabled(false);
    for (const char *n : {"m_shdh", "m_zxyd", "weihu"})
        menu(n)->menuAction()->setEnabled(false);
    for (QAction *a : menu("weihu")->actions())
        if (!a->isSeparator()) a->setEnabled(false);
    for (const char *n : operatorTools)
        tool(n)->setEnabled(false);
    tool("tbtPeople")->setEnabled(false);
    action("x_login")->setEnabled(true);
    action("x_quit")->setEnabled(true);
}

void TWebMain::setLoggedIn()
{
    for (const char *n : {"x_logout", "x_passwd", "x_prtblank"})
        action(n)->setEnabled(true);
    for (const char *n : {"m_shdh", "m_zxyd", "weihu"})
        menu(n)->menuAction()->setEnabled(true);
    for (const char *n : operatorTools)
        tool(n)->setEnabled(true);
    tool("tbtLogout")->setEnabled(true);
    action("x_login")->setEnabled(false);
    action("x_quit")->setEnabled(false);
    tool("tbtLogin")->setEnabled(false);
}

void TWebMain::applyRights()
{
    const std::optional<OperatorAccounts::Operator> who = OperatorAccounts::find(unGlobal().OperatorCode);
    if (!who)
        return;
    for (const MenuDef &m : menuDefs())
        for (const Item &i : m.items)
            if (i.name && i.right != Right::None && who->has(i.right))
                action(i.name)->setEnabled(true);
    for (const ToolDef &t : toolDefs()) {
        const Right right = t.name ? commandRight(t.command) : Right::None;
        if (right != Right::None && who->has(right))
            tool(t.name)->setEnabled(true);
    }
}

void TWebMain::loginCommand()
{
    setLoggedOut();
    unGlobal().TitleText = QStringLiteral("数字图书馆管理系统");
    int result;
    {
        TLogin login(this);
        result = login.exec();
    }
    if (result == TLogin::Abort) {
        m_closeRequested = true;
        close();
        return;
    }
    if (unGlobal().OperatorCode.isEmpty())
        return;
    setLoggedIn();
    applyRights();
}

void TWebMain::logoutCommand()
{
    unGlobal().OperatorCode.clear();
    setLoggedOut();
    loginCommand();
}

void TWebMain::passwordCommand() { TChgPass(this).exec(); }

void TWebMain::loadBackground()
{
    imgBack->setGeometry(5, 2, frameGeometry().width() - 18, frameGeometry().height() - 50);
    const QString folder = pictureFolder().isEmpty() ? QCoreApplication::applicationDirPath() : pictureFolder();
    QImageReader reader(folder + QStringLiteral("/web.jpg"), "jpeg");
    const QImage picture = reader.read();
    if (picture.isNull()) {
        inform(QStringLiteral("web.jpg不存在！"), QStringLiteral("信息提示"));
        imgBack->clear();
        return;
    }
    imgBack->setPixmap(QPixmap::fromImage(picture));
}

bool TWebMain::FormCreate()
{
    Session &s = unGlobal();
    // 1. The short date format is yyyy-mm-dd everywhere the console formats dates.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));

    // 2. Splash, painted before the blocking work.
    s.SplashMessage = QStringLiteral("系统正在初始化，请稍候...");
    m_splash = new TFlash(this);
    m_splash->showNow();

    try {
        // 3. Default input method.
        s.DefaultInputMethod = StartupSteps::defaultInputMethod();
        // 4. Server date check.
        s.ServerDate = StartupSteps::readServerDate();
        // 5. E-book volume column.
        Upkeep::ensureVolumeColumn();
        // 6. School name.
        s.SchoolName = StartupSteps::schoolName();
        // 7. Background picture.
        loadBackground();
        // 8. Title labels.
        lbSchool1->setText(QStringLiteral("数字图书馆管理系统"));
        lbSchool2->setText(QStringLiteral("数字图书馆管理系统"));
        FormResize();
        // 9, 10.
        s.StartingUp = true;
        setWindowTitle(applicationTitle() + QStringLiteral(" -- ") + s.SchoolName);
        // 11. Commands that need an operator.
        setLoggedOut();
        // 12, 13, 14.
        Upkeep::ensureAdministrator();
        Upkeep::ensureMarginsTable();
        StartupSteps::loadMargins();
        StartupSteps::announceReadOnly();
    } catch (const Error &e) {
        showException(e.text());
        // Whatever step failed, nobody is logged in: the commands that need an
        // operator stay disabled, and the splash does not stay over the window.
        setLoggedOut();
        delete m_splash;
        m_splash = nullptr;
        s.StartingUp = false;
        return false;
    }
    // 15. The first login, over the splash.
    loginCommand();
    // 16.
    s.StartingUp = false;
    delete m_splash;
    m_splash = nullptr;
    return true;
}

void TWebMain::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    FormResize();
}

void TWebMain::FormResize()
{
    if (m_resizing)
        return;
    const QRect outer = frameGeometry();
    const int frameW = outer.width() - width();
    const int frameH = outer.height() - height();
    int W = outer.width();
    int H = outer.height();
    if (W < 300 || H < 200) {
        // The new size triggers the rule again, for the new size.
        resize(W < 300 ? 400 - frameW : width(), H < 200 ? 300 - frameH : height());
        return;
    }
    m_resizing = true;
    imgBack->setGeometry(5, 2, W - 18, H - 50);
    const qsizetype bytes = Gbk::byteLength(trimText(lbSchool1->text()));
    if (bytes > 0) {
        const int points = int((W - 50) / bytes);
        for (QLabel *l : {lbSchool1, lbSchool2}) {
            QFont f = l->font();
            f.setPointSize(qMax(1, points));
            l->setFont(f);
            l->adjustSize();
        }
    }
    const int left = (W - lbSchool1->width()) / 2;
    const int top = (H - lbSchool1->height() - 60) * 6 / 7;
    lbSchool1->move(left, top);
    lbSchool2->move(left - 3, top - 3);
    m_resizing = false;
}

} // namespace lectoria
