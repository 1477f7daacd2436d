#include "exportdialog.h"
#include "importdialog.h"
#include "mainwindow.h"
#include "startup.h"
#include "tbackup.h"
#include "tidyup.h"
#include "tpeople.h"

namespace lectoria {

void registerCommands(TWebMain &main)
{
    main.setHandler(QStringLiteral("w_yonghu"), [](QWidget *owner) { TPeople(owner).exec(); });
    main.setHandler(QStringLiteral("w_backup"), [](QWidget *owner) { TBackUp(owner).exec(); });
    main.setHandler(QStringLiteral("w_zhengli"), [](QWidget *owner) { tidyUpDatabase(owner); });
    main.setHandler(QStringLiteral("w_output"), [](QWidget *owner) { TExportOther(owner).exec(); });
    main.setHandler(QStringLiteral("w_input"), [](QWidget *owner) { TImportOther(owner).exec(); });
}

} // namespace lectoria
