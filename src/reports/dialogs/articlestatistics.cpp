#include "articlestatistics.h"
#include "errors.h"
#include "libdb.h"
#include "listingdialog.h"
#include "listingstatements.h"
#include "statements.h"
#include "statistics.h"
#include "unglobal.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

namespace lectoria {

namespace {

const QString allCategories = QStringLiteral("全部大类别");

QVector<GridColumn> subCategoryColumns()
{
    return {{QStringLiteral("lt_notice"), QStringLiteral("大类别"), GridFormat::Text},
            {QStringLiteral("ls_notice"), QStringLiteral("子类别"), GridFormat::Text},
            {QStringLiteral("iC"), QStringLiteral("数量"), GridFormat::Number}};
}

void emptyGrid(QTableView *grid)
{
    if (auto *m = qobject_cast<QStandardItemModel *>(grid->model()))
        m->removeRows(0, m->rowCount());
}

} // namespace

ArticleStatisticsDialog::ArticleStatisticsDialog(QWidget *owner) : StatisticsDialog(Kind::Bklw, owner)
{
    auto *scope = new QGroupBox(QStringLiteral("统计范围"), this);
    scope->setObjectName(QStringLiteral("GroupBox2"));
    m_byCategory = new QRadioButton(QStringLiteral("统计到大类"), scope);
    m_byCategory->setObjectName(QStringLiteral("RadioButton1"));
    m_bySub = new QRadioButton(QStringLiteral("统计到小类"), scope);
    m_bySub->setObjectName(QStringLiteral("RadioButton2"));
    m_byCategory->setChecked(true);
    m_type = new QComboBox(scope);
    m_type->setObjectName(QStringLiteral("cbType"));
    m_type->setEditable(true);
    m_type->setInsertPolicy(QComboBox::NoInsert);
    m_type->setMinimumContentsLength(14);
    QSizePolicy keep = m_type->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    m_type->setSizePolicy(keep);
    m_type->hide();
    auto *scopeLayout = new QVBoxLayout(scope);
    scopeLayout->addWidget(m_byCategory);
    scopeLayout->addWidget(m_bySub);
    scopeLayout->addWidget(m_type);
    parameterArea()->addWidget(scope);

    // The second grid lies where the first does; one shows at a time.
    m_grid2 = new QTableView(resultBox());
    m_grid2->setObjectName(QStringLiteral("DBGrid2"));
    m_grid2->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid2->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid2->setMinimumSize(grid()->minimumSize());
    m_grid2->verticalHeader()->setDefaultSectionSize(grid()->verticalHeader()->defaultSectionSize());
    m_grid2->hide();
    resultBox()->layout()->addWidget(m_grid2);

    for (QRadioButton *r : {m_byCategory, m_bySub})
        connect(r, &QRadioButton::clicked, this, &ArticleStatisticsDialog::RadioButton1Click);

    guarded([&] {
        fillCategoryList(m_type, allCategories, categoryListStatement(Kind::Bklw), QStringLiteral("lt_id"),
                         QStringLiteral("lt_notice"));
    });
    connect(m_type, &QComboBox::currentTextChanged, this, &ArticleStatisticsDialog::cbTypeChange);
}

ArticleStatisticsDialog::~ArticleStatisticsDialog() = default;

bool ArticleStatisticsDialog::bySubCategory() const { return m_bySub->isChecked(); }

void ArticleStatisticsDialog::RadioButton1Click()
{
    disablePrint();
    const bool sub = bySubCategory();
    grid()->setVisible(!sub);
    m_grid2->setVisible(sub);
    m_type->setVisible(sub);
    emptyGrid(grid());
    emptyGrid(m_grid2);
}

void ArticleStatisticsDialog::cbTypeChange() { disablePrint(); }

void ArticleStatisticsDialog::prepareRefresh(ReportRequest &request)
{
    StatisticsDialog::prepareRefresh(request);
    if (bySubCategory()) {
        emptyGrid(m_grid2); // a refused entry lists nothing
        request.category = chosenCategory(m_type, QStringLiteral("类别"));
    }
    unGlobal().QueryCondition = subCategoryStatisticsCondition(request.category);
}

QStringList ArticleStatisticsDialog::refreshStatement() const
{
    if (bySubCategory())
        return subCategoryStatisticsStatement(request(), LibDB::dialect());
    return statisticsStatement(request(), LibDB::dialect());
}

int ArticleStatisticsDialog::runRefresh()
{
    if (!bySubCategory())
        return StatisticsDialog::runRefresh();
    return fillGrid(m_grid2, refreshStatement(), subCategoryColumns());
}

std::unique_ptr<ReportLayout> ArticleStatisticsDialog::createLayout(const ReportRequest &request, int button)
{
    if (!bySubCategory())
        return StatisticsDialog::createLayout(request, button);
    ReportRequest withChoice = request;
    withChoice.chart = withChart();
    return std::make_unique<SubCategoryLayout>(withChoice, this);
}

std::unique_ptr<ReportParamDialog> makeArticleStatisticsDialog(QWidget *owner)
{
    return std::make_unique<ArticleStatisticsDialog>(owner);
}

} // namespace lectoria
