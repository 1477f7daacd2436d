#include "tidyup.h"
#include "libdb.h"

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

} // namespace lectoria
