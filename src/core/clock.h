#pragma once
#include <QDate>
#include <QDateTime>

namespace lectoria {

// The one source of "today" and "now" on the console's machine. Period rules
// and the administrator upkeep depend on it, so tests can set it.
class Clock {
public:
    static QDateTime now();
    static QDate today() { return now().date(); }
    static void set(const QDateTime &fixed); // an invalid value returns to the real clock
    static void reset() { set(QDateTime()); }
};

} // namespace lectoria
