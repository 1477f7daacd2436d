#include "paramdialog.h"
#include "clock.h"
#include "errors.h"
#include "libdb.h"
#include "prompt.h"
#include "reportlayout.h"
#include "reportperiod.h"
#include "savereport.h"
#include "splash.h"
#include "streamingpreview.h"
#include "text.h"
#include "unglobal.h"

#include <QAction>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardItemModel>
#include <QTableView>
#include <QStyle>
#include <QVBoxLayout>

namespace lectoria {

namespace {
// Hidden, but its place in the layout stays, so the window never jumps.
void hideKeepingPlace(QWidget *w)
{
    QSizePolicy p = w->sizePolicy();
    p.setRetainSizeWhenHidden(true);
    w->setSizePolicy(p);
    w->hide();
}
} // namespace

int fillGrid(QTableView *grid, const QStringList &statement, const QVector<GridColumn> &columns)
{
    auto *model = qobject_cast<QStandardItemModel *>(grid->model());
    if (!model) {
        model = new QStandardItemModel(grid);
        grid->setModel(model);
    }
    model->clear();
    model->setColumnCount(columns.size());
    for (int c = 0; c < columns.size(); ++c) {
        auto *head = new QStandardItem(columns.at(c).heading);
        head->setTextAlignment(Qt::AlignCenter);
        model->setHorizontalHeaderItem(c, head);
    }

    QSqlQuery q = LibDB::exec(statement);
    QVector<int> index;
    for (const GridColumn &col : columns)
        index << q.record().indexOf(col.field);

    QList<QStandardItem *> row;
    QVector<QList<QStandardItem *>> rows;
    while (LibDB::next(q)) {
        row.clear();
        for (int c = 0; c < columns.size(); ++c) {
            const QVariant v = index.at(c) >= 0 ? q.value(index.at(c)) : QVariant();
            auto *item = new QStandardItem;
            switch (columns.at(c).format) {
            case GridFormat::Text:
                item->setText(trimText(v.toString()));
                break;
            case GridFormat::Number:
                item->setText(v.isNull() ? QString() : QString::number(v.toLongLong()));
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                break;
            case GridFormat::Date:
                item->setText(ymd(LibDB::toDateTime(v)));
                break;
            }
            item->setEditable(false);
            row << item;
        }
        rows << row;
    }
    for (const auto &r : rows)
        model->appendRow(r);
    return int(rows.size());
}

ReportParamDialog::ReportParamDialog(const QString &objectName, const QString &caption, const Options &options,
                                     QWidget *owner)
    : QDialog(owner)
{
    setObjectName(objectName);
    setWindowTitle(caption);
    setModal(true);

    // Period of entry dates.
    m_periodBox = new QGroupBox(options.periodCaption, this);
    m_periodBox->setObjectName(QStringLiteral("GroupBox1"));
    m_today = new QRadioButton(QStringLiteral("当日"), m_periodBox);
    m_today->setObjectName(QStringLiteral("rdbToday"));
    m_month = new QRadioButton(QStringLiteral("当月"), m_periodBox);
    m_month->setObjectName(QStringLiteral("rdbMonth"));
    m_all = new QRadioButton(QStringLiteral("全部"), m_periodBox);
    m_all->setObjectName(QStringLiteral("rdbAllDate"));
    m_range = new QRadioButton(QStringLiteral("指定时间段"), m_periodBox);
    m_range->setObjectName(QStringLiteral("rsbSelDate"));
    m_beginLabel = new QLabel(QStringLiteral("从"), m_periodBox);
    m_beginLabel->setObjectName(QStringLiteral("lbBegin"));
    m_endLabel = new QLabel(QStringLiteral("到"), m_periodBox);
    m_endLabel->setObjectName(QStringLiteral("lbEnd"));
    const QDate today = Clock::today();
    auto makePicker = [this](const QString &name, const QDate &d) {
        auto *e = new QDateEdit(d, m_periodBox);
        e->setObjectName(name);
        e->setCalendarPopup(true);
        e->setDisplayFormat(QStringLiteral("yyyy'年'M'月'd'日'"));
        connect(e, &QDateEdit::dateChanged, this, &ReportParamDialog::dtBeginChange);
        return e;
    };
    m_begin = makePicker(QStringLiteral("dtBegin"), firstDayOfMonth(today));
    m_end = makePicker(QStringLiteral("dtEnd"), today);
    m_today->setChecked(true);
    for (QRadioButton *r : {m_today, m_month, m_all, m_range})
        connect(r, &QRadioButton::clicked, this, &ReportParamDialog::rdbTodayClick);

    auto *periodGrid = new QGridLayout(m_periodBox);
    periodGrid->addWidget(m_today, 0, 0);
    periodGrid->addWidget(m_month, 0, 1);
    periodGrid->addWidget(m_all, 1, 0);
    periodGrid->addWidget(m_range, 1, 1);
    periodGrid->addWidget(m_beginLabel, 2, 0, Qt::AlignRight);
    periodGrid->addWidget(m_begin, 2, 1);
    periodGrid->addWidget(m_endLabel, 3, 0, Qt::AlignRight);
    periodGrid->addWidget(m_end, 3, 1);
    // The box keeps its size whether the pickers show or not.
    for (QWidget *w : {static_cast<QWidget *>(m_beginLabel), static_cast<QWidget *>(m_endLabel),
                       static_cast<QWidget *>(m_begin), static_cast<QWidget *>(m_end)})
        hideKeepingPlace(w);

    m_wait = new QLabel(QStringLiteral("正在处理，请稍等待..."), this);
    m_wait->setObjectName(QStringLiteral("lbWait"));
    QFont waitFont = m_wait->font();
    waitFont.setPixelSize(15);
    m_wait->setFont(waitFont);
    QPalette pal = m_wait->palette();
    pal.setColor(QPalette::WindowText, Qt::magenta);
    m_wait->setPalette(pal);
    hideKeepingPlace(m_wait);

    m_refresh = new QPushButton(QStringLiteral("刷新 >>"), this);
    m_refresh->setObjectName(QStringLiteral("btRefresh"));
    connect(m_refresh, &QPushButton::clicked, this, &ReportParamDialog::btRefreshClick);
    m_print = new QPushButton(options.printCaption, this);
    m_print->setObjectName(QStringLiteral("btPrint"));
    connect(m_print, &QPushButton::clicked, this, &ReportParamDialog::btPrintClick);
    makeMenu(QStringLiteral("pmSaveFile"), m_print, true, 0);
    if (!options.secondPrintCaption.isEmpty()) {
        m_print1 = new QPushButton(options.secondPrintCaption, this);
        m_print1->setObjectName(QStringLiteral("btPrint1"));
        connect(m_print1, &QPushButton::clicked, this, &ReportParamDialog::btPrint1Click);
        makeMenu(QStringLiteral("pmSaveFileSB"), m_print1, false, 1);
    }
    auto *exitButton = new QPushButton(QStringLiteral("退出"), this);
    exitButton->setObjectName(QStringLiteral("btExit"));
    connect(exitButton, &QPushButton::clicked, this, &QDialog::reject);
    m_refresh->setDefault(true);

    m_resultBox = new QGroupBox(QStringLiteral("结果"), this);
    m_resultBox->setObjectName(QStringLiteral("grbResult"));
    m_grid = new QTableView(m_resultBox);
    m_grid->setObjectName(QStringLiteral("DBGrid1"));
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->verticalHeader()->setDefaultSectionSize(m_grid->fontMetrics().height() + 6);
    m_grid->setMinimumSize(420, 320);
    auto *resultLayout = new QVBoxLayout(m_resultBox);
    resultLayout->addWidget(m_grid);

    // Left: parameters and buttons; right: the result.
    auto *left = new QVBoxLayout;
    left->addWidget(m_periodBox);
    m_parameterArea = new QVBoxLayout;
    left->addLayout(m_parameterArea);
    left->addStretch(1);
    if (options.hints) {
        auto *hint1 = new QLabel(QStringLiteral("注意：在打印按钮上按鼠标右键，"), this);
        hint1->setObjectName(QStringLiteral("Label1"));
        auto *hint2 = new QLabel(QStringLiteral("可导出到指定格式的文件。"), this);
        hint2->setObjectName(QStringLiteral("Label2"));
        left->addWidget(hint1);
        left->addWidget(hint2);
    }
    left->addWidget(m_wait);
    left->addWidget(m_refresh);
    left->addWidget(m_print);
    if (m_print1)
        left->addWidget(m_print1);
    left->addWidget(exitButton);

    auto *main = new QHBoxLayout(this);
    main->addLayout(left);
    main->addWidget(m_resultBox, 1);
    main->setSizeConstraint(QLayout::SetFixedSize);

    setPrintEnabled(false);
}

ReportParamDialog::~ReportParamDialog() = default;

QMenu *ReportParamDialog::makeMenu(const QString &name, QPushButton *button, bool allFormats, int buttonIndex)
{
    auto *menu = new QMenu(button);
    menu->setObjectName(name);
    struct Entry {
        const char *name;
        QString caption;
        int choice; // an ExportChoice; -1: a separator
        const char *icon;
        QStyle::StandardPixmap fallback; // where the desktop has no icon theme
    };
    QVector<Entry> entries;
    if (allFormats) {
        entries = {{"pmThis", QStringLiteral("运行按钮指定功能"), 0, nullptr, QStyle::SP_CustomBase},
                   {"N1", QStringLiteral("-"), -1, nullptr, QStyle::SP_CustomBase},
                   {"pmTxt", QStringLiteral("保存报表到文本文件(*.txt)"), 1, "document-save", QStyle::SP_DialogSaveButton},
                   {"pmCsv", QStringLiteral("保存报表到CSV(逗号分隔)文件(*.csv)"), 2, "x-office-spreadsheet",
                    QStyle::SP_FileDialogDetailedView},
                   {"pmHtm", QStringLiteral("保存报表到HTML文件(*.htm)"), 3, "text-html", QStyle::SP_FileIcon}};
    } else {
        entries = {{"MenuItem1", QStringLiteral("运行按钮指定功能"), 0, nullptr, QStyle::SP_CustomBase},
                   {"MenuItem2", QStringLiteral("-"), -1, nullptr, QStyle::SP_CustomBase},
                   {"MenuItem3", QStringLiteral("保存报表到文本文件(*.txt)"), 1, "document-save",
                    QStyle::SP_DialogSaveButton}};
    }
    for (const Entry &e : entries) {
        QAction *a = nullptr;
        if (e.choice < 0) {
            a = menu->addSeparator();
        } else {
            a = menu->addAction(e.caption);
            if (e.choice == 0) {
                a->setCheckable(true);
                a->setChecked(true);
            }
            if (e.icon)
                a->setIcon(QIcon::fromTheme(QLatin1String(e.icon), style()->standardIcon(e.fallback)));
            const int choice = e.choice;
            connect(a, &QAction::triggered, this, [this, choice, buttonIndex] {
                outputCommand(ReportOutput(choice), buttonIndex);
            });
            m_outputActions << a;
        }
        a->setObjectName(QLatin1String(e.name));
    }
    button->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(button, &QWidget::customContextMenuRequested, this, [button, menu](const QPoint &pos) {
        if (button->isEnabled())
            menu->exec(button->mapToGlobal(pos));
    });
    return menu;
}

bool ReportParamDialog::printEnabled() const { return m_print->isEnabled(); }

void ReportParamDialog::setPrintEnabled(bool on)
{
    m_print->setEnabled(on);
    if (m_print1)
        m_print1->setEnabled(on);
    // The output menu is offered only while its button is enabled.
    for (QAction *a : qAsConst(m_outputActions))
        a->setEnabled(on);
}

void ReportParamDialog::disablePrint() { setPrintEnabled(false); }

void ReportParamDialog::rdbTodayClick()
{
    const bool range = m_range->isChecked();
    m_beginLabel->setVisible(range);
    m_endLabel->setVisible(range);
    m_begin->setVisible(range);
    m_end->setVisible(range);
    disablePrint();
}

void ReportParamDialog::dtBeginChange() { disablePrint(); }

void ReportParamDialog::showWait()
{
    // The query that follows blocks the window: paint the label now.
    paintNow(m_wait);
}

void ReportParamDialog::hideWait() { m_wait->hide(); }

int ReportParamDialog::runRefresh() { return fillGrid(m_grid, refreshStatement(), gridColumns()); }

void ReportParamDialog::btRefreshClick()
{
    guarded([this] {
        showWait();
        ScopeExit done([this] { hideWait(); });
        disablePrint();

        PeriodChoice choice = PeriodChoice::Today;
        if (m_month->isChecked())
            choice = PeriodChoice::Month;
        else if (m_all->isChecked())
            choice = PeriodChoice::All;
        else if (m_range->isChecked())
            choice = PeriodChoice::Range;
        ReportRequest request;
        request.period = periodFor(choice, Clock::today(), m_begin->date(), m_end->date());
        Session &s = unGlobal();
        s.ReportBegin = request.period.begin;
        s.ReportEnd = request.period.end;
        prepareRefresh(request);
        m_request = request;
        setPrintEnabled(runRefresh() > 0);
    });
}

void ReportParamDialog::printCommand(int button, ReportOutput output)
{
    guarded([this, button, output] {
        if (output == ReportOutput::Preview)
            inform(QStringLiteral("请准备好打印机，纸大小为【窄行】打印纸"));
        showWait();
        ScopeExit done([this] { hideWait(); });
        ReportRequest request = m_request;
        request.output = output;
        std::unique_ptr<ReportLayout> layout = createLayout(request, button);
        if (output != ReportOutput::Preview)
            SaveReportToFile(*layout, output, unGlobal().SchoolName + layout->fileTitle(), layout->headerLine());
        else
            previewLayout(*layout, this);
    });
}

void ReportParamDialog::btPrintClick() { printCommand(0, ReportOutput::Preview); }
void ReportParamDialog::btPrint1Click() { printCommand(1, ReportOutput::Preview); }

void ReportParamDialog::outputCommand(ReportOutput output, int button)
{
    Session &s = unGlobal();
    s.ExportChoice = int(output);
    // Back to 0 however the command ends.
    ScopeExit reset([&s] { s.ExportChoice = 0; });
    printCommand(button, output);
}

} // namespace lectoria
