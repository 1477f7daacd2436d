#include "tbackup.h"
#include "clock.h"
#include "databasebackup.h"
#include "errors.h"
#include "prompt.h"
#include "splash.h"
#include "unglobal.h"

#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace lectoria {

TBackUp::TBackUp(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("TBackUp"));
    setWindowTitle(QStringLiteral("数据库备份"));

    dtDate = new QDateEdit(this);
    dtDate->setObjectName(QStringLiteral("dtDate"));
    dtDate->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    dtDate->setEnabled(false);
    lbWeek = new QLabel(this);
    lbWeek->setObjectName(QStringLiteral("lbWeek"));
    edPath = new QLineEdit(this);
    edPath->setObjectName(QStringLiteral("edPath"));
    edPath->setMinimumWidth(260);
    lbString = new QLabel(this);
    lbString->setObjectName(QStringLiteral("lbString"));
    QPalette red = lbString->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    lbString->setPalette(red);
    lbNotice = new QLabel(QStringLiteral("系统正在处理，请稍候..."), this);
    lbNotice->setObjectName(QStringLiteral("lbNotice"));
    lbNotice->hide();
    BitBtn1 = new QPushButton(QStringLiteral("备份(&B)"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn3 = new QPushButton(QStringLiteral("退出(&C)"), this);
    BitBtn3->setObjectName(QStringLiteral("BitBtn3"));

    auto *form = new QGridLayout;
    form->addWidget(new QLabel(QStringLiteral("备份日期："), this), 0, 0);
    auto *date = new QHBoxLayout;
    date->addWidget(dtDate);
    date->addWidget(lbWeek);
    date->addStretch();
    form->addLayout(date, 0, 1);
    form->addWidget(new QLabel(QStringLiteral("数据库备份默认目录："), this), 1, 0);
    auto *path = new QHBoxLayout;
    path->addWidget(edPath);
    path->addWidget(new QLabel(QStringLiteral("(服务器上)"), this));
    form->addLayout(path, 1, 1);

    auto *note3 = new QHBoxLayout;
    note3->setSpacing(0);
    note3->addWidget(new QLabel(QStringLiteral("3.备份成功后，建议及时将服务器以上目录中最新文件"), this));
    note3->addWidget(lbString);
    note3->addStretch();

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(lbNotice);
    buttons->addStretch();
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn3);

    auto *main = new QVBoxLayout(this);
    main->addLayout(form);
    main->addWidget(new QLabel(QStringLiteral("1.必须保证以上文件目录已经在服务器上建立就绪，否则系统会报错。"), this));
    main->addWidget(new QLabel(QStringLiteral("2.每天备份一个文件，每星期轮回一次，新的覆盖旧文件。"), this));
    main->addLayout(note3);
    main->addWidget(new QLabel(QStringLiteral("  备份到其他地方（如其他机器、其他硬盘或刻录到光盘中）。"), this));
    main->addLayout(buttons);
    main->setSizeConstraint(QLayout::SetFixedSize);

    connect(edPath, &QLineEdit::editingFinished, this, &TBackUp::edPathExit);
    connect(BitBtn1, &QPushButton::clicked, this, &TBackUp::BitBtn1Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TBackUp::reject);
    FormCreate();
}

void TBackUp::FormCreate()
{
    // The weekday, and so the file name, is that of the server's date at start-up.
    const QDateTime server = unGlobal().ServerDate;
    m_date = server.isValid() ? server.date() : Clock::today();
    dtDate->setDate(m_date);
    edPath->clear();
    const int n = DatabaseBackup::weekdayNumber(m_date);
    lbString->setText(DatabaseBackup::fileName(n));
    lbWeek->setText(DatabaseBackup::weekdayName(n));
}

void TBackUp::edPathExit() { edPath->setText(DatabaseBackup::withSeparator(edPath->text())); }

void TBackUp::BitBtn1Click()
{
    // The button's shortcut does not leave the box: the folder gets its
    // separator here as well, so the file never lands beside the folder.
    edPathExit();
    paintNow(lbNotice);
    ScopeExit hideNotice([this] { lbNotice->hide(); });
    const DatabaseBackup::Outcome o = DatabaseBackup::run(edPath->text(), m_date);
    if (o.ok) {
        lbNotice->hide();
        inform(o.message);
    } else {
        // The list of what may be wrong, then what the server said is.
        QString text = o.message;
        if (!o.databaseText.isEmpty())
            text += QStringLiteral("\r\n\r\n数据库服务器的说明：") + o.databaseText;
        showError(text, QStringLiteral(" 错误提示"));
    }
}

} // namespace lectoria
