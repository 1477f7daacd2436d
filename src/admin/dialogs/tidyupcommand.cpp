#include "tidyupcommand.h"
#include "errors.h"
#include "prompt.h"
#include "tidyup.h"

#include <QWidget>

namespace lectoria {

void tidyUpDatabase(QWidget *owner)
{
    if (!askYesNo(QStringLiteral("您确定要整理数据库吗？系统将删除表中的空记录及其他一些处理！")))
        return;
    const bool done = guarded([owner] {
        if (owner)
            owner->setCursor(Qt::WaitCursor);
        ScopeExit restore([owner] {
            if (owner)
                owner->unsetCursor();
        });
        TidyUp::run();
    });
    if (done)
        inform(QStringLiteral("整理数据库完成！"));
}

} // namespace lectoria
