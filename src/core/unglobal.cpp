#include "unglobal.h"

namespace lectoria {

Session &unGlobal()
{
    static Session s;
    return s;
}

void resetSession() { unGlobal() = Session(); }

} // namespace lectoria
