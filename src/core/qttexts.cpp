#include "qttexts.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace lectoria {

bool installQtChineseTexts()
{
    auto *app = QCoreApplication::instance();
    if (!app)
        return false;
    auto *qt = new QTranslator(app);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!qt->load(QStringLiteral("qtbase_zh_CN"), folder)) {
        qWarning("Qt's Chinese translation (qtbase_zh_CN.qm) is missing in %s; Qt's own texts stay English.",
                 qPrintable(folder));
        delete qt;
        return false;
    }
    QCoreApplication::installTranslator(qt);
    return true;
}

} // namespace lectoria
