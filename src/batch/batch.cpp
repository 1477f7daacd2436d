#include "batch.h"
#include "batchcommands.h"
#include "clock.h"
#include "connection.h"
#include "errors.h"
#include "kinds.h"
#include "libdb.h"
#include "operatoraccounts.h"
#include "prompt.h"
#include "startupsteps.h"
#include "text.h"
#include "unglobal.h"

#include <QRegularExpression>
#include <QSqlQuery>

namespace lectoria::batch {
namespace {

// A day as YYYY-MM-DD, four digits of year and no sign, within the years
// SQL Server's datetime holds (1753 to 9999); a null date otherwise, with
// *error saying why.
QDate parseDate(const QString &s, const QString &what, QString *error)
{
    static const QRegularExpression shape(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    const QDate d = shape.match(s).hasMatch() ? QDate::fromString(s, QStringLiteral("yyyy-MM-dd")) : QDate();
    if (!d.isValid())
        *error = QStringLiteral("%1的日期应为 YYYY-MM-DD 形式的真实日期：%2").arg(what, shownValue(s));
    else if (d.year() < 1753)
        *error = QStringLiteral("%1的日期应在 1753-01-01 到 9999-12-31 之间：%2").arg(what, s);
    else
        return d;
    return QDate();
}

// Export, import and backup need the right the console asks for its data commands.
OperatorAccounts::Right commandRight(Request::Command command)
{
    return command == Request::Command::Report ? OperatorAccounts::Right::None : OperatorAccounts::Right::DataBackup;
}

void say(const QString &text) { prompt().message(QString(), text, PromptIcon::Information); }

} // namespace

QString usageText()
{
    return QStringLiteral(
        "用法：\n"
        "  lectoria-batch report KIND REPORT [--period today|month|all|YYYY-MM-DD..YYYY-MM-DD]\n"
        "                        [--category ID] [--subcategory ID] [--chart] --format txt|csv|htm|pdf --output FILE\n"
        "  lectoria-batch export KIND --from YYYY-MM-DD --to YYYY-MM-DD --output FILE\n"
        "  lectoria-batch import KIND FILE [--skip-existing] [--encoding utf-8]\n"
        "  lectoria-batch backup DIRECTORY\n"
        "每个命令都需要 --operator CODE；密码取自环境变量 LECTORIA_PASSWORD，未设置时在终端上询问。\n"
        "\n"
        "KIND：shdh 导读文章，dzts 电子图书，bklw 报刊论文，tpzl 图片资料，zxyy 在线音乐，zxsp 在线视频。\n"
        "REPORT：stats 分类统计；stats-sub 按子类别统计（仅 bklw）；listing 目录清单；book 书本目录（shdh 除外）。\n"
        "--chart：统计报表（stats、stats-sub）附统计图，见于 pdf 和 htm；txt 和 csv 不变。\n"
        "report 写出的 txt/csv/htm 文件与对话框保存的文件相同；pdf 为预览的页面。\n"
        "export 导出加入日期在 --from 与 --to 之间（含两端）的记录；import 导入交换文件，不再询问。\n"
        "--output - 把报表或导出文件写到标准输出（完整生成后再输出）。输出文件不能是正在使用的数据库或其附属文件，\n"
        "也不能是设备、管道等非普通文件。\n"
        "import 只读普通文件和管道；交换文件为 GBK 编码，UTF-8 编码的文件须加 --encoding utf-8 才导入。\n"
        "--skip-existing 跳过数据库中已有的记录（每个字段都与已有记录相同），重新导入中断过的文件时每条记录只保存一次。\n"
        "backup 由数据库服务器把数据库备份到 DIRECTORY 中当天星期对应的文件。\n"
        "export、import、backup 需要“数据备份”权限。\n"
        "\n"
        "退出状态：\n"
        "  0  成功；\n"
        "  1  用法错误；\n"
        "  2  登录被拒绝或缺少权限；\n"
        "  3  数据库错误（连接失败、语句失败；导入时数据库出错则在出错的记录处中止，此前导入的记录保留）；\n"
        "  4  文件错误（文件不能读、不能写或不能用作输出）；\n"
        "  5  导入已完成，但并非每条记录都已导入（有记录未能导入、文件意外结束或没有读到记录）。\n");
}

namespace {

// A report period: today|month|all|YYYY-MM-DD..YYYY-MM-DD. A range must name
// real days and must not run backwards (the dialogs let it, and find
// nothing; a scheduled run that asks for it is a mistake).
bool parsePeriod(const QString &text, Request *r, QString *error)
{
    if (text == QLatin1String("today")) {
        r->period = PeriodChoice::Today;
    } else if (text == QLatin1String("month")) {
        r->period = PeriodChoice::Month;
    } else if (text == QLatin1String("all")) {
        r->period = PeriodChoice::All;
    } else {
        static const QRegularExpression shape(QStringLiteral("^(\\d{4}-\\d{2}-\\d{2})\\.\\.(\\d{4}-\\d{2}-\\d{2})$"));
        const QRegularExpressionMatch m = shape.match(text);
        if (!m.hasMatch()) {
            *error = QStringLiteral("--period 应为 today、month、all 或 YYYY-MM-DD..YYYY-MM-DD：%1").arg(shownValue(text));
            return false;
        }
        const QString what = QStringLiteral("--period ");
        const QDate b = parseDate(m.captured(1), what, error);
        if (!b.isValid())
            return false;
        const QDate e = parseDate(m.captured(2), what, error);
        if (!e.isValid())
            return false;
        if (b > e) {
            *error = QStringLiteral("--period 的开始日期 %1 晚于结束日期 %2。").arg(m.captured(1), m.captured(2));
            return false;
        }
        r->period = PeriodChoice::Range;
        r->from = b;
        r->to = e;
    }
    return true;
}

// A category number as typed: absent, or an integer.
bool parseId(const QString &text, std::optional<int> *into, QString *error)
{
    if (text.isEmpty())
        return true;
    bool ok = false;
    const int id = text.toInt(&ok);
    if (!ok) {
        *error = QStringLiteral("类别编号应为整数：%1").arg(shownValue(text));
        return false;
    }
    *into = id;
    return true;
}

struct CommandName {
    const char *name;
    Request::Command command;
    QStringList options; // the options it takes besides --operator
};

const CommandName *findCommand(const QString &name)
{
    static const CommandName commands[] = {
        {"report", Request::Command::Report,
         {QStringLiteral("--period"), QStringLiteral("--category"), QStringLiteral("--subcategory"),
          QStringLiteral("--chart"), QStringLiteral("--format"), QStringLiteral("--output")}},
        {"export", Request::Command::Export,
         {QStringLiteral("--from"), QStringLiteral("--to"), QStringLiteral("--output")}},
        {"import", Request::Command::Import, {QStringLiteral("--skip-existing"), QStringLiteral("--encoding")}},
        {"backup", Request::Command::Backup, {}},
    };
    for (const CommandName &c : commands)
        if (name == QLatin1String(c.name))
            return &c;
    return nullptr;
}

} // namespace

bool parse(const QStringList &args, Request *r, QString *error)
{
    QStringList positional;
    QStringList given; // the options on the command line
    QString period = QStringLiteral("today"), category, subcategory, format;
    bool chart = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (a.startsWith(QLatin1String("--"))) {
            // Given twice, one of the two values would be dropped without a word.
            if (given.contains(a)) {
                *error = QStringLiteral("选项 %1 只能给出一次。").arg(shownValue(a));
                return false;
            }
            given << a;
        }
        auto value = [&](QString *into) {
            if (i + 1 >= args.size()) {
                *error = QStringLiteral("%1 后面缺少值。").arg(a);
                return false;
            }
            *into = args.at(++i);
            return true;
        };
        QString date;
        if (a == QLatin1String("--operator")) {
            if (!value(&r->operatorCode)) return false;
        } else if (a == QLatin1String("--period")) {
            if (!value(&period)) return false;
        } else if (a == QLatin1String("--category")) {
            if (!value(&category)) return false;
        } else if (a == QLatin1String("--subcategory")) {
            if (!value(&subcategory)) return false;
        } else if (a == QLatin1String("--chart")) {
            chart = true;
        } else if (a == QLatin1String("--format")) {
            if (!value(&format)) return false;
        } else if (a == QLatin1String("--output")) {
            if (!value(&r->output)) return false;
        } else if (a == QLatin1String("--skip-existing")) {
            r->existing = ExistingRecords::Skip;
        } else if (a == QLatin1String("--encoding")) {
            QString name;
            if (!value(&name)) return false;
            if (name.compare(QLatin1String("utf-8"), Qt::CaseInsensitive) == 0) {
                r->encoding = TextEncoding::Utf8;
            } else if (name.compare(QLatin1String("gbk"), Qt::CaseInsensitive) == 0) {
                r->encoding = TextEncoding::Gbk;
            } else {
                *error = QStringLiteral("--encoding 应为 utf-8 或 gbk：%1").arg(shownValue(name));
                return false;
            }
        } else if (a == QLatin1String("--from") || a == QLatin1String("--to")) {
            if (!value(&date)) return false;
            const QDate d = parseDate(date, a + QLatin1Char(' '), error);
            if (!d.isValid())
                return false;
            (a == QLatin1String("--from") ? r->exported.first : r->exported.last) = d;
        } else if (a.startsWith(QLatin1String("--"))) {
            *error = QStringLiteral("未知的选项：%1").arg(shownValue(a));
            return false;
        } else {
            positional << a;
        }
    }
    if (positional.isEmpty()) {
        *error = QStringLiteral("缺少命令。");
        return false;
    }
    const QString command = positional.takeFirst();
    const CommandName *known = findCommand(command);
    // An option the command has no use for is a mistake in the request, not
    // something to pass over: the file would not be what was asked for.
    for (const QString &option : given)
        if (option != QLatin1String("--operator") && !(known && known->options.contains(option))) {
            *error = QStringLiteral("%1 命令不接受 %2。").arg(command, option);
            return false;
        }
    if (!known) {
        *error = QStringLiteral("未知的命令：%1").arg(shownValue(command));
        return false;
    }
    r->command = known->command;
    Kind kind = Kind::Dzts;
    QString kindName;
    auto kindArg = [&]() {
        if (positional.isEmpty()) {
            *error = QStringLiteral("缺少资料类别 KIND。");
            return false;
        }
        kindName = positional.takeFirst();
        const CatalogueKind *info = findKind(kindName);
        if (!info || kindName != kindName.toLower()) {
            *error = QStringLiteral("未知的资料类别：%1").arg(shownValue(kindName));
            return false;
        }
        kind = info->kind;
        return true;
    };
    switch (r->command) {
    case Request::Command::Report: {
        if (!kindArg()) return false;
        if (positional.isEmpty()) {
            *error = QStringLiteral("缺少报表种类 REPORT。");
            return false;
        }
        const QString report = positional.takeFirst();
        ListingReport which;
        if (report == QLatin1String("stats"))
            r->listing.reset();
        else if (listingReportFromName(report, &which) && hasListingReport(kind, which))
            r->listing = which;
        else {
            *error = QStringLiteral("此类别没有这种报表：%1 %2").arg(shownValue(kindName), shownValue(report));
            return false;
        }
        r->report.kind = kind;
        if (!reportOutputFromName(format, &r->report.output)) {
            *error = QStringLiteral("--format 应为 txt、csv、htm 或 pdf。");
            return false;
        }
        if (r->listing && !savedAs(*r->listing, r->report.output)) {
            *error = QStringLiteral("书本目录只能保存为 txt 或 pdf。");
            return false;
        }
        if (!parseId(category, &r->report.category, error) || !parseId(subcategory, &r->report.subCategory, error))
            return false;
        const bool statistics = !r->listing || *r->listing == ListingReport::SubCategoryStatistics;
        if (!r->listing && given.contains(QStringLiteral("--category"))) {
            *error = QStringLiteral("%1 %2 没有类别选择，不接受 --category。").arg(kindName, report);
            return false;
        }
        if (chart && !statistics) {
            *error = QStringLiteral("%1 %2 没有统计图，不接受 --chart。").arg(kindName, report);
            return false;
        }
        r->report.chart = chart;
        if (given.contains(QStringLiteral("--subcategory"))) {
            if (kind != Kind::Bklw || statistics) {
                *error = QStringLiteral("%1 %2 没有子类别选择，不接受 --subcategory。").arg(kindName, report);
                return false;
            }
            if (!r->report.category) {
                *error = QStringLiteral("--subcategory 需要同时给出 --category。");
                return false;
            }
        }
        if (r->output.isEmpty()) {
            *error = QStringLiteral("缺少 --output。");
            return false;
        }
        if (!parsePeriod(period, r, error))
            return false;
        break;
    }
    case Request::Command::Export:
        if (!kindArg()) return false;
        if (!r->exported.first.isValid() || !r->exported.last.isValid() || r->output.isEmpty()) {
            *error = QStringLiteral("export 需要 --from、--to 和 --output。");
            return false;
        }
        r->exported.kind = kind;
        break;
    case Request::Command::Import:
        if (!kindArg()) return false;
        if (positional.isEmpty()) {
            *error = QStringLiteral("缺少要导入的文件。");
            return false;
        }
        r->importKind = kind;
        r->input = positional.takeFirst();
        break;
    case Request::Command::Backup:
        if (positional.isEmpty()) {
            *error = QStringLiteral("缺少备份目录。");
            return false;
        }
        r->directory = positional.takeFirst();
        break;
    }
    if (!positional.isEmpty()) {
        *error = QStringLiteral("多余的参数：%1").arg(shownValue(positional.join(QLatin1Char(' '))));
        return false;
    }
    if (r->operatorCode.isEmpty()) {
        *error = QStringLiteral("缺少 --operator。");
        return false;
    }
    return true;
}

int run(const Request &r, const QString &password)
{
    QString why;
    if (!TLibDM::connect(&why)) {
        say(QStringLiteral("数据库连接出错！！！") + (why.isEmpty() ? QString() : QStringLiteral("\n") + why));
        return DatabaseFailed;
    }
    try {
        StartupSteps::prepareSession();

        // The console's login rules.
        const OperatorAccounts::LoginResult login = OperatorAccounts::login(r.operatorCode, password);
        if (login.failure == OperatorAccounts::LoginFailure::NoSuchOperator) {
            say(QStringLiteral("没有此用户！"));
            return Refused;
        }
        if (login.failure == OperatorAccounts::LoginFailure::WrongPassword) {
            say(QStringLiteral("密码错误！"));
            return Refused;
        }
        unGlobal().OperatorCode = login.who.code;
        unGlobal().OperatorPassword = login.who.password;
        const OperatorAccounts::Right needed = commandRight(r.command);
        if (needed != OperatorAccounts::Right::None && !login.who.has(needed)) {
            say(QStringLiteral("操作员没有“%1”权限。").arg(OperatorAccounts::rightCaption(int(needed))));
            return Refused;
        }

        switch (r.command) {
        case Request::Command::Report:
            return runReport(r);
        case Request::Command::Export:
            return runExport(r);
        case Request::Command::Import:
            return runImport(r);
        case Request::Command::Backup:
            break;
        }
        return runBackup(r);
    } catch (const DbError &e) {
        say(e.text());
        return DatabaseFailed;
    } catch (const LooksUtf8Error &e) {
        // Nothing was stored; the request has to say how to read the file.
        say(e.text() + QStringLiteral("\n要按UTF-8编码导入，请加 --encoding utf-8。"));
        return Usage;
    } catch (const FileError &e) {
        say(e.text());
        return FileFailed;
    } catch (const Error &e) {
        say(e.text());
        return DatabaseFailed;
    }
}

} // namespace lectoria::batch
