#include "errors.h"
#include "prompt.h"

namespace lectoria {

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
