#include "clock.h"

namespace lectoria {
namespace {
QDateTime &fixedNow()
{
    static QDateTime value;
    return value;
}
} // namespace

QDateTime Clock::now()
{
    const QDateTime &f = fixedNow();
    return f.isValid() ? f : QDateTime::currentDateTime();
}

void Clock::set(const QDateTime &fixed) { fixedNow() = fixed; }

} // namespace lectoria
