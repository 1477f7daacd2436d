#include "startupsteps.h"
#include "libdb.h"
#include "machinesettings.h"
#include "prompt.h"
#include "text.h"
#include "unglobal.h"
#include "upkeep.h"

namespace lectoria::StartupSteps {

QString defaultInputMethod()
{
    return MachineSettings::keyExists() ? trimText(MachineSettings::value(QStringLiteral("INPUTTYPE"))) : QString();
}

QDateTime checkServerDate(const std::function<QDateTime()> &read)
{
    static const QString earliest = QStringLiteral("2003-04-01");
    QDateTime date = read();
    if (ymd(date) < earliest) {
        date = read();
        if (ymd(date) < earliest)
            inform(QStringLiteral("数据库服务器的日期为[") + ymd(date) + QStringLiteral("]，应当不对。\r\n")
                   + QStringLiteral("请先退出，调整服务器时间正确后，重启服务器。"));
    }
    return date;
}

QDateTime readServerDate()
{
    return checkServerDate([] {
        QSqlQuery q = LibDB::exec(QStringLiteral("select getdate() as dDate"));
        return LibDB::next(q) ? LibDB::toDateTime(q.value(QStringLiteral("dDate"))) : QDateTime();
    });
}

QString schoolName() { return trimText(MachineSettings::value(QStringLiteral("SCHOOLNAME"))); }

void loadMargins()
{
    Session &s = unGlobal();
    s.CustomMargins = 0;
    s.MarginTop = s.MarginBottom = s.MarginLeft = s.MarginRight = 10;
    // A database opened for reading only may lack the table the upkeep
    // could not make: the built-in margins stand.
    if (LibDB::readOnly()) {
        QSqlQuery check = LibDB::exec(Upkeep::marginsCheck());
        if (!LibDB::next(check))
            return;
    }
    QSqlQuery q = LibDB::exec(QStringLiteral("select * from lib_prtblank"));
    if (LibDB::next(q)) {
        s.CustomMargins = q.value(QStringLiteral("pb_default")).toInt();
        s.MarginTop = q.value(QStringLiteral("pb_top")).toInt();
        s.MarginBottom = q.value(QStringLiteral("pb_bottom")).toInt();
        s.MarginLeft = q.value(QStringLiteral("pb_left")).toInt();
        s.MarginRight = q.value(QStringLiteral("pb_right")).toInt();
    }
}

void announceReadOnly()
{
    // Without this the upkeep is skipped without a word, and an operator
    // whose default administrator it would have made is only told that
    // there is no such user.
    if (LibDB::readOnly())
        inform(QStringLiteral("数据库只能读取，不能写入（数据库文件没有写入权限，或位于只读的介质上）。\r\n"
                              "因此启动时的数据库维护没有进行，所有修改数据的操作都将被拒绝；"
                              "统计、目录和查询仍可使用。"));
}

void prepareSession()
{
    Session &s = unGlobal();
    s.DefaultInputMethod = defaultInputMethod();
    s.ServerDate = readServerDate();
    Upkeep::ensureVolumeColumn();
    s.SchoolName = schoolName();
    Upkeep::ensureAdministrator();
    Upkeep::ensureMarginsTable();
    loadMargins();
}

} // namespace lectoria::StartupSteps
