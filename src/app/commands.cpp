#include "exportdialog.h"
#include "importdialog.h"
#include "articlestatistics.h"
#include "kinds.h"
#include "listingdialog.h"
#include "margins.h"
#include "statisticsdialog.h"
#include "mainwindow.h"
#include "startup.h"
#include "tbackup.h"
#include "tidyupcommand.h"
#include "tpeople.h"

namespace lectoria {

void registerCommands(TWebMain &main)
{
    main.setHandler(QStringLiteral("x_prtblank"), [](QWidget *owner) { TPrtBlankPara(owner).exec(); });
    const QVector<QPair<const char *, Kind>> statistics = {
        {"ms_tji", Kind::Shdh}, {"mz_tji1", Kind::Dzts}, {"mz_tji3", Kind::Tpzl}, {"mz_tji4", Kind::Zxyy}, {"mz_tji5", Kind::Zxsp}};
    for (const auto &[command, kind] : statistics) {
        const Kind k = kind;
        main.setHandler(QLatin1String(command), [k](QWidget *owner) { makeStatisticsDialog(k, owner)->exec(); });
    }
    main.setHandler(QStringLiteral("mz_tji2"), [](QWidget *owner) { makeArticleStatisticsDialog(owner)->exec(); });
    const QVector<QPair<const char *, Kind>> listings = {{"ms_print", Kind::Shdh}, {"mz_print1", Kind::Dzts},
                                                         {"mz_print2", Kind::Bklw}, {"mz_print3", Kind::Tpzl},
                                                         {"mz_print4", Kind::Zxyy}, {"mz_print5", Kind::Zxsp}};
    for (const auto &[command, kind] : listings) {
        const Kind k = kind;
        main.setHandler(QLatin1String(command), [k](QWidget *owner) { makeListingDialog(k, owner)->exec(); });
    }
    main.setHandler(QStringLiteral("w_yonghu"), [](QWidget *owner) { TPeople(owner).exec(); });
    main.setHandler(QStringLiteral("w_backup"), [](QWidget *owner) { TBackUp(owner).exec(); });
    main.setHandler(QStringLiteral("w_zhengli"), [](QWidget *owner) { tidyUpDatabase(owner); });
    main.setHandler(QStringLiteral("w_output"), [](QWidget *owner) { TExportOther(owner).exec(); });
    main.setHandler(QStringLiteral("w_input"), [](QWidget *owner) { TImportOther(owner).exec(); });
}

} // namespace lectoria
