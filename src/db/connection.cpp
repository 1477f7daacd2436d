#include "connection.h"
#include "prompt.h"
#include "unglobal.h"

namespace lectoria {

ConnectionParams TLibDM::readParams()
{
    QString settingsError;
    const ConnectionParams params = LibDB::paramsFromSettings(&settingsError);
    if (!settingsError.isEmpty())
        showError(settingsError);
    unGlobal().SplashMessage = QStringLiteral("系统正在连接数据库，请稍候...");
    return params;
}

bool TLibDM::open(const ConnectionParams &params, QString *why)
{
    QString error;
    if (!LibDB::open(params, &error)) {
        if (why) *why = error;
        return false;
    }
    unGlobal().ConnectionState = QStringLiteral("OK");
    return true;
}

bool TLibDM::connect(QString *why) { return open(readParams(), why); }

} // namespace lectoria
