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
