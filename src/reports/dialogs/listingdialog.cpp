#include "listingdialog.h"
#include "errors.h"
#include "libdb.h"
#include "listingkinds.h"
#include "listinglayouts.h"
#include "listingstatements.h"
#include "querymodel.h"
#include "text.h"
#include "unglobal.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTableView>
#include <QVBoxLayout>

namespace lectoria {

void fillCategoryList(QComboBox *list, const QString &first, const QString &statement, const QString &idColumn,
                      const QString &nameColumn)
{
    const QSignalBlocker quiet(list);
    list->clear();
    list->addItem(first);
    list->setCurrentIndex(0);
    QSqlQuery q = LibDB::exec(statement);
    const int id = q.record().indexOf(idColumn);
    const int name = q.record().indexOf(nameColumn);
    QStringList entries;
    while (LibDB::next(q))
        entries << QString::number(q.value(id).toLongLong()) + QLatin1Char(':') + trimText(q.value(name).toString());
    list->addItems(entries);
}

std::optional<int> chosenCategory(const QComboBox *list, const QString &what)
{
    const QString text = list->currentText();
    if (!text.contains(QLatin1Char(':')))
        return std::nullopt;
    const std::optional<int> id = categoryIdOfEntry(text);
    if (id) {
        for (int i = 1; i < list->count(); ++i)
            if (categoryIdOfEntry(list->itemText(i)) == id)
                return id;
    }
    throw Error(QStringLiteral("没有这个%1：%2").arg(what, shownValue(text)));
}

namespace {

ReportParamDialog::Options listingOptions(Kind kind)
{
    const ListingFacts &f = listingFacts(kind);
    ReportParamDialog::Options o;
    o.periodCaption = f.periodCaption;
    o.printCaption = f.printCaption;
    o.hints = kind != Kind::Bklw;
    o.secondPrintCaption = f.bookCaption;
    return o;
}

QComboBox *categoryBox(QWidget *parent, const char *name)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setMinimumContentsLength(14);
    return box;
}

} // namespace

ListingDialog::ListingDialog(Kind kind, QWidget *owner)
    : ReportParamDialog(listingDialogName(kind), listingFacts(kind).dialogCaption, listingOptions(kind), owner),
      m_kind(kind)
{
    const ListingFacts &f = listingFacts(kind);
    auto *box = new QGroupBox(QStringLiteral("选择类别"), this);
    box->setObjectName(QStringLiteral("GroupBox2"));
    auto *layout = new QGridLayout(box);
    m_type = categoryBox(box, "cbType");
    if (kind == Kind::Bklw) {
        m_typeS = categoryBox(box, "cbTypeS");
        auto *l1 = new QLabel(QStringLiteral("大类"), box);
        l1->setObjectName(QStringLiteral("lbType"));
        auto *l2 = new QLabel(QStringLiteral("子类"), box);
        l2->setObjectName(QStringLiteral("lbTypeS"));
        layout->addWidget(l1, 0, 0);
        layout->addWidget(m_type, 0, 1);
        layout->addWidget(l2, 1, 0);
        layout->addWidget(m_typeS, 1, 1);
        m_typeS->addItem(QStringLiteral("全部子类别"));
    } else {
        layout->addWidget(m_type, 0, 0);
    }
    parameterArea()->addWidget(box);

    m_model = new QueryTableModel(this);
    m_model->setColumns(f.grid);
    grid()->setModel(m_model);

    guarded([&] {
        fillCategoryList(m_type, f.firstItem, categoryListStatement(kind), QStringLiteral("lt_id"),
                         QStringLiteral("lt_notice"));
    });
    connect(m_type, &QComboBox::currentTextChanged, this, &ListingDialog::cbTypeChange);
    if (m_typeS)
        connect(m_typeS, &QComboBox::currentTextChanged, this, &ListingDialog::cbTypeSChange);
}

ListingDialog::~ListingDialog() = default;

void ListingDialog::releaseGridQuery()
{
    // SQL Server answers no other statement on the connection while a result
    // is still being read (without multiple active result sets): the grid
    // reads the rest of its rows before the dialog runs anything else.
    if (LibDB::dialect() == Dialect::SqlServer)
        m_model->readAll();
}

void ListingDialog::cbTypeChange()
{
    disablePrint();
    if (!m_typeS)
        return;
    // Another category: its own sub-categories, back to all of them.
    const std::optional<int> category = categoryIdOfEntry(m_type->currentText());
    guarded([&] {
        if (category) {
            releaseGridQuery();
            fillCategoryList(m_typeS, QStringLiteral("全部子类别"), subCategoryListStatement(*category),
                             QStringLiteral("ls_sid"), QStringLiteral("ls_notice"));
        } else {
            const QSignalBlocker quiet(m_typeS);
            m_typeS->clear();
            m_typeS->addItem(QStringLiteral("全部子类别"));
            m_typeS->setCurrentIndex(0);
        }
    });
}

void ListingDialog::cbTypeSChange() { disablePrint(); }

void ListingDialog::prepareRefresh(ReportRequest &request)
{
    request.kind = m_kind;
    // A refused entry lists nothing: the grid is emptied before the error box.
    m_model->clear();
    request.category = chosenCategory(m_type, QStringLiteral("类别"));
    if (m_typeS && request.category)
        request.subCategory = chosenCategory(m_typeS, QStringLiteral("子类别"));
    unGlobal().QueryCondition = listingCondition(m_kind, request.category, request.subCategory);
}

QStringList ListingDialog::refreshStatement() const
{
    return listingStatement(request(), listingFacts(m_kind).dialogSelect, LibDB::dialect());
}

QVector<GridColumn> ListingDialog::gridColumns() const { return listingFacts(m_kind).grid; }

int ListingDialog::runRefresh()
{
    m_model->clear();
    m_model->setQuery(LibDB::exec(refreshStatement()));
    grid()->resizeColumnsToContents(); // measured on the rows read so far only
    // SQL Server keeps the shared locks of a result the client has not read
    // to its end, and the site's writers wait for them: the rest is read
    // while the operator looks at the first rows.
    if (LibDB::dialect() == Dialect::SqlServer)
        m_model->readRestWhenIdle();
    return m_model->rowCount();
}

std::unique_ptr<ReportLayout> ListingDialog::createLayout(const ReportRequest &request, int button)
{
    releaseGridQuery();
    if (button == 1)
        return std::make_unique<BookLayout>(request, this);
    return std::make_unique<ListingLayout>(request, this);
}

std::unique_ptr<ReportParamDialog> makeListingDialog(Kind kind, QWidget *owner)
{
    return std::make_unique<ListingDialog>(kind, owner);
}

} // namespace lectoria
