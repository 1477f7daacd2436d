#include "exportdialog.h"
#include "clock.h"
#include "prompt.h"

#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace lectoria {
namespace {
QDateEdit *datePicker(QWidget *parent, const char *name, int x, int y)
{
    auto *d = new QDateEdit(parent);
    d->setObjectName(QLatin1String(name));
    d->setCalendarPopup(true);
    d->setDisplayFormat(QStringLiteral("yyyy年M月d日"));
    d->setGeometry(x, y, 128, 24);
    d->setDate(Clock::today());
    return d;
}
} // namespace

TExportOther::TExportOther(QWidget *owner) : ExchangeDialog(owner, "TExportOther", QStringLiteral("其他数据导出"))
{
    addKindRow(16, QStringLiteral("导出内容："), QStringLiteral("导出"));

    auto *dates = new QLabel(QStringLiteral("加入日期："), this);
    dates->setGeometry(16, 55, 88, 20);
    dtBegin = datePicker(this, "dtBegin", 104, 52);
    auto *to = new QLabel(QStringLiteral("到"), this);
    to->setGeometry(240, 55, 20, 20);
    dtEnd = datePicker(this, "dtEnd", 276, 52);

    addFileRow(88, QStringLiteral("保存文件名："));
    Button1 = addButtonRows(126, QStringLiteral("开始导出"), "Button1");

    connect(Button1, &QPushButton::clicked, this, &TExportOther::Button1Click);
    connect(btFileName, &QPushButton::clicked, this, &TExportOther::btFileNameClick);
}

void TExportOther::Button1Click()
{
    for (Kind k : kindsNamedIn(cbType->currentText()))
        exportKind(k);
}

void TExportOther::btFileNameClick()
{
    FileRequest r;
    r.directory = edFileName->text();
    const QString path = prompt().saveFileName(r);
    if (!path.isEmpty())
        edFileName->setText(path);
}

void TExportOther::exportKind(Kind kind)
{
    const ExportRequest request{kind, dtBegin->date(), dtEnd->date(), edFileName->text()};
    runWithProgress([&](const ExchangeProgress &progress) {
        return exportMessage(exportCatalogue(request, progress));
    });
}

} // namespace lectoria
