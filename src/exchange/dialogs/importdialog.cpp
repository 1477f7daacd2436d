#include "importdialog.h"
#include "machinesettings.h"
#include "prompt.h"
#include "text.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

namespace lectoria {

TImportOther::TImportOther(QWidget *owner) : ExchangeDialog(owner, "TImportOther", QStringLiteral("其他数据导入"))
{
    addKindRow(16, QStringLiteral("导入内容："), QStringLiteral("导入"));
    addFileRow(52, QStringLiteral("文件名："));
    // The path comes from the file dialog only; the field is read-only and greyed.
    edFileName->setReadOnly(true);
    QPalette greyed = edFileName->palette();
    greyed.setColor(QPalette::Base, greyed.color(QPalette::Window));
    edFileName->setPalette(greyed);
    ckSkipExisting = new QCheckBox(QStringLiteral("跳过已有记录"), this);
    ckSkipExisting->setObjectName(QStringLiteral("ckSkipExisting"));
    ckSkipExisting->setGeometry(104, 86, 200, 22);
    ckSkipExisting->setChecked(MachineSettings::value(skipExistingSetting()) == QLatin1String("1"));
    btImport = addButtonRows(118, QStringLiteral("开始导入"), "btImport");

    connect(btImport, &QPushButton::clicked, this, &TImportOther::btImportClick);
    connect(btFileName, &QPushButton::clicked, this, &TImportOther::btFileNameClick);
    connect(ckSkipExisting, &QCheckBox::toggled, this, &TImportOther::rememberSkipExisting);
}

void TImportOther::rememberSkipExisting(bool on)
{
    // Only into settings that exist: a settings file made for this value
    // alone would change how the next start connects. A key that cannot be
    // written keeps the choice for this dialog only, as the other remembered
    // choices do.
    if (MachineSettings::keyExists())
        MachineSettings::write({{skipExistingSetting(), on ? QStringLiteral("1") : QStringLiteral("0")}});
}

void TImportOther::btImportClick()
{
    for (Kind k : kindsNamedIn(cbType->currentText()))
        importKind(k);
}

void TImportOther::btFileNameClick()
{
    FileRequest r;
    r.directory = edFileName->text();
    r.defaultSuffix = QStringLiteral("dat");
    const QString path = prompt().openFileName(r);
    if (!path.isEmpty())
        edFileName->setText(path);
    if (trimText(edFileName->text()).isEmpty()) {
        inform(QStringLiteral("请先选择数据文件"));
        edFileName->setFocus();
    }
}

void TImportOther::importKind(Kind kind)
{
    if (!askYesNo(importQuestion(kind)))
        return;
    const QString path = edFileName->text();
    const ExistingRecords existing = ckSkipExisting->isChecked() ? ExistingRecords::Skip : ExistingRecords::Insert;
    TextEncoding encoding = TextEncoding::Gbk;
    for (;;) {
        bool stopped = false;
        bool looksUtf8 = false;
        runWithProgress([&](const ExchangeProgress &progress) {
            try {
                const ImportResult result = importCatalogue(kind, path, progress, existing, encoding);
                stopped = result.stopped();
                return importMessage(result);
            } catch (const LooksUtf8Error &) {
                looksUtf8 = true; // nothing was stored; the operator decides
                return QString();
            }
        }, &stopped);
        if (!looksUtf8 || encoding == TextEncoding::Utf8)
            return;
        if (!askYesNo(utf8Question()))
            return;
        encoding = TextEncoding::Utf8;
    }
}

} // namespace lectoria
