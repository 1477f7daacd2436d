#include "tidyup.h"
#include "errors.h"
#include "libdb.h"
#include "prompt.h"

#include <QWidget>

namespace lectoria {

QVector<QStringList> TidyUp::statements()
{
    QVector<QStringList> out;
    for (const char *table : {"www_lineread", "www_article", "www_picture", "www_music", "www_shdh"})
        out << QStringList{QStringLiteral("delete from %1 ").arg(QLatin1String(table)), QStringLiteral("where li_title=''")};
    return out;
}

void TidyUp::run()
{
    for (const QStringList &s : statements())
        LibDB::exec(s);
}

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
