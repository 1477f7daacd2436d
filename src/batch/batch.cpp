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

QDate parseDate(const QString &s)
{
    return QDate::fromString(s, QStringLiteral("yyyy-MM-dd"));
}

// Export, import and backup need the right the console asks for its data commands.
OperatorAccounts::Right commandRight(const QString &command)
{
    if (command == QLatin1String("export") || command == QLatin1String("import") || command == QLatin1String("backup"))
        return OperatorAccounts::Right::DataBackup;
    return OperatorAccounts::Right::None;
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
        "  lectoria-batch import KIND FILE [--skip-existing]\n"
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

bool parsePeriod(const QString &text, const QDate &today, QDate *begin, QDate *end, QString *error)
{
    if (text == QLatin1String("today")) {
        *begin = *end = today;
    } else if (text == QLatin1String("month")) {
        *begin = QDate(today.year(), today.month(), 1);
        *end = today;
    } else if (text == QLatin1String("all")) {
        *begin = *end = QDate();
    } else {
        static const QRegularExpression shape(QStringLiteral("^(\\d{4}-\\d{2}-\\d{2})\\.\\.(\\d{4}-\\d{2}-\\d{2})$"));
        const QRegularExpressionMatch m = shape.match(text);
        if (!m.hasMatch()) {
            *error = QStringLiteral("--period 应为 today、month、all 或 YYYY-MM-DD..YYYY-MM-DD：%1").arg(text);
            return false;
        }
        for (int i : {1, 2})
            if (!parseDate(m.captured(i)).isValid()) {
                *error = QStringLiteral("--period 中的日期不存在：%1").arg(m.captured(i));
                return false;
            }
        const QDate b = parseDate(m.captured(1)), e = parseDate(m.captured(2));
        if (b > e) {
            *error = QStringLiteral("--period 的开始日期 %1 晚于结束日期 %2。").arg(m.captured(1), m.captured(2));
            return false;
        }
        *begin = b;
        *end = e;
    }
    return true;
}

bool parse(const QStringList &args, Request *r, QString *error)
{
    QStringList positional;
    QStringList given; // the options on the command line
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (a.startsWith(QLatin1String("--")))
            given << a;
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
            if (!value(&r->period)) return false;
        } else if (a == QLatin1String("--category")) {
            if (!value(&r->category)) return false;
        } else if (a == QLatin1String("--subcategory")) {
            if (!value(&r->subcategory)) return false;
        } else if (a == QLatin1String("--chart")) {
            r->chart = true;
        } else if (a == QLatin1String("--format")) {
            if (!value(&r->format)) return false;
        } else if (a == QLatin1String("--output")) {
            if (!value(&r->output)) return false;
        } else if (a == QLatin1String("--skip-existing")) {
            r->skipExisting = true;
        } else if (a == QLatin1String("--from") || a == QLatin1String("--to")) {
            if (!value(&date)) return false;
            const QDate d = parseDate(date);
            if (!d.isValid()) {
                *error = QStringLiteral("日期格式应为 YYYY-MM-DD：%1").arg(date);
                return false;
            }
            (a == QLatin1String("--from") ? r->from : r->to) = d;
        } else if (a.startsWith(QLatin1String("--"))) {
            *error = QStringLiteral("未知的选项：%1").arg(a);
            return false;
        } else {
            positional << a;
        }
    }
    if (positional.isEmpty()) {
        *error = QStringLiteral("缺少命令。");
        return false;
    }
    r->command = positional.takeFirst();
    // An option the command has no use for is a mistake in the request, not
    // something to pass over: the file would not be what was asked for.
    const QStringList takes = r->command == QLatin1String("report")
                                ? QStringList{QStringLiteral("--period"), QStringLiteral("--category"),
                                              QStringLiteral("--subcategory"), QStringLiteral("--chart"),
                                              QStringLiteral("--format"),
                                              QStringLiteral("--output")}
                            : r->command == QLatin1String("export")
                                ? QStringList{QStringLiteral("--from"), QStringLiteral("--to"), QStringLiteral("--output")}
                                : r->command == QLatin1String("import") ? QStringList{QStringLiteral("--skip-existing")}
                                : QStringList();
    for (const QString &option : given)
        if (option != QLatin1String("--operator") && !takes.contains(option)) {
            *error = QStringLiteral("%1 命令不接受 %2。").arg(r->command, option);
            return false;
        }
    auto kindArg = [&]() {
        if (positional.isEmpty()) {
            *error = QStringLiteral("缺少资料类别 KIND。");
            return false;
        }
        r->kind = positional.takeFirst();
        if (!findKind(r->kind) || r->kind != r->kind.toLower()) {
            *error = QStringLiteral("未知的资料类别：%1").arg(r->kind);
            return false;
        }
        return true;
    };
    if (r->command == QLatin1String("report")) {
        if (!kindArg()) return false;
        if (positional.isEmpty()) {
            *error = QStringLiteral("缺少报表种类 REPORT。");
            return false;
        }
        r->report = positional.takeFirst();
        const QStringList reports = {QStringLiteral("stats"), QStringLiteral("stats-sub"), QStringLiteral("listing"), QStringLiteral("book")};
        if (!reports.contains(r->report)
            || (r->report == QLatin1String("stats-sub") && r->kind != QLatin1String("bklw"))
            || (r->report == QLatin1String("book") && r->kind == QLatin1String("shdh"))) {
            *error = QStringLiteral("此类别没有这种报表：%1 %2").arg(r->kind, r->report);
            return false;
        }
        const QStringList formats = {QStringLiteral("txt"), QStringLiteral("csv"), QStringLiteral("htm"), QStringLiteral("pdf")};
        if (!formats.contains(r->format)) {
            *error = QStringLiteral("--format 应为 txt、csv、htm 或 pdf。");
            return false;
        }
        if (r->report == QLatin1String("book") && r->format != QLatin1String("txt") && r->format != QLatin1String("pdf")) {
            *error = QStringLiteral("书本目录只能保存为 txt 或 pdf。");
            return false;
        }
        for (const QString *id : {&r->category, &r->subcategory}) {
            bool ok = true;
            if (!id->isEmpty()) id->toInt(&ok);
            if (!ok) {
                *error = QStringLiteral("类别编号应为整数：%1").arg(*id);
                return false;
            }
        }
        const bool hasCategory = r->report != QLatin1String("stats");
        if (!hasCategory && given.contains(QStringLiteral("--category"))) {
            *error = QStringLiteral("%1 %2 没有类别选择，不接受 --category。").arg(r->kind, r->report);
            return false;
        }
        if (r->chart && r->report != QLatin1String("stats") && r->report != QLatin1String("stats-sub")) {
            *error = QStringLiteral("%1 %2 没有统计图，不接受 --chart。").arg(r->kind, r->report);
            return false;
        }
        if (given.contains(QStringLiteral("--subcategory"))) {
            if (r->kind != QLatin1String("bklw") || (r->report != QLatin1String("listing") && r->report != QLatin1String("book"))) {
                *error = QStringLiteral("%1 %2 没有子类别选择，不接受 --subcategory。").arg(r->kind, r->report);
                return false;
            }
            if (r->category.isEmpty()) {
                *error = QStringLiteral("--subcategory 需要同时给出 --category。");
                return false;
            }
        }
        if (r->output.isEmpty()) {
            *error = QStringLiteral("缺少 --output。");
            return false;
        }
        QDate begin, end;
        if (!parsePeriod(r->period, QDate(2000, 1, 1), &begin, &end, error))
            return false;
    } else if (r->command == QLatin1String("export")) {
        if (!kindArg()) return false;
        if (!r->from.isValid() || !r->to.isValid() || r->output.isEmpty()) {
            *error = QStringLiteral("export 需要 --from、--to 和 --output。");
            return false;
        }
    } else if (r->command == QLatin1String("import")) {
        if (!kindArg()) return false;
        if (positional.isEmpty()) {
            *error = QStringLiteral("缺少要导入的文件。");
            return false;
        }
        r->input = positional.takeFirst();
    } else if (r->command == QLatin1String("backup")) {
        if (positional.isEmpty()) {
            *error = QStringLiteral("缺少备份目录。");
            return false;
        }
        r->directory = positional.takeFirst();
    } else {
        *error = QStringLiteral("未知的命令：%1").arg(r->command);
        return false;
    }
    if (!positional.isEmpty()) {
        *error = QStringLiteral("多余的参数：%1").arg(positional.join(QLatin1Char(' ')));
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

        if (r.command == QLatin1String("report"))
            return runReport(r);
        if (r.command == QLatin1String("export"))
            return runExport(r);
        if (r.command == QLatin1String("import"))
            return runImport(r);
        return runBackup(r);
    } catch (const DbError &e) {
        say(e.text());
        return DatabaseFailed;
    } catch (const FileError &e) {
        say(e.text());
        return FileFailed;
    } catch (const Error &e) {
        say(e.text());
        return DatabaseFailed;
    }
}

} // namespace lectoria::batch
