#include "errors.h"
#include "prompt.h"

#include <QSqlError>

namespace lectoria {

QString dbErrorText(const QSqlError &error)
{
    const QString text = error.databaseText().trimmed();
    return text.isEmpty() ? error.driverText().trimmed() : text;
}

bool guarded(const std::function<void()> &handler)
{
    try {
        handler();
        return true;
    } catch (const Error &e) {
        showException(e.text());
    } catch (const std::exception &e) {
        showException(QString::fromLocal8Bit(e.what()));
    }
    return false;
}

} // namespace lectoria
