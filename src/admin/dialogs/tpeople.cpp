#include "tpeople.h"
#include "errors.h"
#include "formkeys.h"
#include "gbk.h"
#include "inputmethods.h"
#include "keyfilters.h"
#include "prompt.h"
#include "text.h"
#include "tsearch.h"
#include "unglobal.h"

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>
#include <QValidator>
#include <QVBoxLayout>

namespace lectoria {

namespace {

const QString AdminCode = QStringLiteral("admin");

// Fixed-width columns hold bytes of the server's code page, not characters.
class GbkLengthValidator : public QValidator {
public:
    GbkLengthValidator(int bytes, QObject *parent) : QValidator(parent), m_bytes(bytes) {}
    State validate(QString &input, int &) const override
    {
        return Gbk::byteLength(input) <= m_bytes ? Acceptable : Invalid;
    }

private:
    int m_bytes;
};

} // namespace

// The rows of the grid: code, name, last login, then the rights in the
// editor's order.
class OperatorTableModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    QVector<OperatorRow> rows;

    void reset(QVector<OperatorRow> r)
    {
        beginResetModel();
        rows = std::move(r);
        endResetModel();
    }
    void insertBlank(int at)
    {
        beginInsertRows(QModelIndex(), at, at);
        rows.insert(at, OperatorRow());
        endInsertRows();
    }
    void removeAt(int at)
    {
        beginRemoveRows(QModelIndex(), at, at);
        rows.remove(at);
        endRemoveRows();
    }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override { return parent.isValid() ? 0 : int(rows.size()); }
    int columnCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : 3 + OperatorAccounts::RightCount;
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid())
            return QVariant();
        const OperatorRow &r = rows.at(index.row());
        switch (index.column()) {
        case 0: return r.code;
        case 1: return r.name;
        case 2: return r.lastLogin.isValid() ? r.lastLogin.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
        default: return r.rights.at(OperatorAccounts::rightOrder().at(index.column() - 3) - 1);
        }
    }
    QVariant headerData(int section, Qt::Orientation o, int role) const override
    {
        if (role != Qt::DisplayRole || o != Qt::Horizontal)
            return QAbstractTableModel::headerData(section, o, role);
        switch (section) {
        case 0: return QStringLiteral("代码");
        case 1: return QStringLiteral("姓名");
        case 2: return QStringLiteral("最后登录时间");
        default: return OperatorAccounts::rightTitle(OperatorAccounts::rightOrder().at(section - 3));
        }
    }
};

TPeople::TPeople(QWidget *owner) : QDialog(owner), m_model(new OperatorTableModel(this))
{
    setObjectName(QStringLiteral("TPeople"));
    setWindowTitle(QStringLiteral("操作用户管理"));

    DBGrid1 = new QTableView(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setModel(m_model);
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid1->setFocusPolicy(Qt::NoFocus); // the grid only shows; the navigator moves
    DBGrid1->verticalHeader()->setDefaultSectionSize(22);
    DBGrid1->horizontalHeader()->setDefaultSectionSize(64);
    DBGrid1->setColumnWidth(1, 120);
    DBGrid1->setColumnWidth(2, 140);

    auto *input = new QGroupBox(this);
    edCode = new QLineEdit(input);
    edCode->setObjectName(QStringLiteral("edCode"));
    edCode->setProperty("tag", CodeTag);
    edCode->setValidator(new GbkLengthValidator(6, edCode));
    edName = new QLineEdit(input);
    edName->setObjectName(QStringLiteral("edName"));
    edName->setProperty("tag", ChineseTextTag);
    edName->setValidator(new GbkLengthValidator(20, edName));

    auto *rightsBox = new QGroupBox(QStringLiteral("权限"), input);
    auto *rightsGrid = new QGridLayout(rightsBox);
    m_rightBoxes.resize(OperatorAccounts::RightCount);
    int i = 0;
    for (int n : OperatorAccounts::rightOrder()) {
        auto *c = new QCheckBox(OperatorAccounts::rightCaption(n), rightsBox);
        c->setObjectName(QStringLiteral("chAuth%1").arg(n));
        m_rightBoxes[n - 1] = c;
        rightsGrid->addWidget(c, i / 7, i % 7);
        ++i;
        connect(c, &QCheckBox::clicked, this, &TPeople::beginAutoEdit);
    }

    auto *inputLayout = new QGridLayout(input);
    inputLayout->addWidget(new QLabel(QStringLiteral("代码"), input), 0, 0);
    inputLayout->addWidget(edCode, 0, 1);
    inputLayout->addWidget(new QLabel(QStringLiteral("姓名"), input), 0, 2);
    inputLayout->addWidget(edName, 0, 3);
    inputLayout->addWidget(new QLabel(QStringLiteral("注意：增加新用户时，默认密码与用户代码相同。"), input), 0, 4);
    inputLayout->setColumnStretch(5, 1);
    inputLayout->addWidget(rightsBox, 1, 0, 1, 6);

    btSearch = new QPushButton(QStringLiteral("数据查询(&F)"), this);
    btSearch->setObjectName(QStringLiteral("btSearch"));
    btExit = new QPushButton(QStringLiteral("退出(&C)"), this);
    btExit->setObjectName(QStringLiteral("btExit"));
    btExit->setToolTip(QStringLiteral("退出此界面"));
    for (QPushButton *b : {btSearch, btExit})
        b->setAutoDefault(false);

    struct Nav {
        QToolButton **button;
        const char *name;
        const char *glyph;
        QString hint;
        void (TPeople::*slot)();
    };
    const Nav nav[] = {
        {&nbFirst, "nbFirst", "|<", QStringLiteral("移动到表的第一条记录"), &TPeople::First},
        {&nbPrior, "nbPrior", "<", QStringLiteral("移动到上一条记录"), &TPeople::Prior},
        {&nbNext, "nbNext", ">", QStringLiteral("移动到下一条记录"), &TPeople::Next},
        {&nbLast, "nbLast", ">|", QStringLiteral("移动到表的最后一条记录"), &TPeople::Last},
        {&nbInsert, "nbInsert", "+", QStringLiteral("插入一条新记录"), &TPeople::Insert},
        {&nbDelete, "nbDelete", "-", QStringLiteral("删除当前记录"), &TPeople::Delete},
        {&nbEdit, "nbEdit", "^", QStringLiteral("编辑当前记录"), &TPeople::Edit},
        {&nbPost, "nbPost", "\u2713", QStringLiteral("确认当前所有改动"), &TPeople::Post},
        {&nbCancel, "nbCancel", "X", QStringLiteral("取消当前所有改动"), &TPeople::Cancel},
        {&nbRefresh, "nbRefresh", "\u21bb", QStringLiteral("刷新当前表数据"), &TPeople::Refresh},
    };
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(btSearch);
    bottom->addSpacing(12);
    for (const Nav &n : nav) {
        auto *b = new QToolButton(this);
        b->setObjectName(QLatin1String(n.name));
        b->setText(QString::fromUtf8(n.glyph));
        b->setToolTip(n.hint);
        b->setMinimumWidth(32);
        connect(b, &QToolButton::clicked, this, n.slot);
        *n.button = b;
        m_navigator << b;
        bottom->addWidget(b);
    }
    bottom->addStretch();
    bottom->addWidget(btExit);

    auto *main = new QVBoxLayout(this);
    main->addWidget(DBGrid1, 1);
    main->addWidget(input);
    main->addLayout(bottom);
    resize(900, 560);

    connect(btSearch, &QPushButton::clicked, this, &TPeople::btSearchClick);
    connect(btExit, &QPushButton::clicked, this, &TPeople::reject);
    connect(DBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { showRow(); });
    connect(edName, &QLineEdit::textEdited, this, &TPeople::beginAutoEdit);
    connect(edCode, &QLineEdit::textEdited, this, &TPeople::edCodeChange);

    new EnterMovesFocus(this);
    new FormKeys(this, [this](QWidget *, QKeyEvent *key) { return formKey(key); });
    FormCreate();
}

TPeople::~TPeople() = default;

void TPeople::FormCreate()
{
    ApplyInputMethods(this);
    setState(RowState::Browse);
    reload(QString());
    // The grid passes the focus on to the navigator; typing starts nowhere.
    for (QToolButton *b : m_navigator) {
        if (b->isEnabled()) {
            b->setFocus();
            break;
        }
    }
}

bool TPeople::formKey(QKeyEvent *key)
{
    QToolButton *b = nullptr;
    switch (key->key()) {
    case Qt::Key_F2: b = nbInsert; break;
    case Qt::Key_F3: b = nbPost; break;
    case Qt::Key_F4: b = nbCancel; break;
    case Qt::Key_F5: b = nbRefresh; break;
    default: return false;
    }
    if (b->isEnabled())
        b->click();
    return true;
}

int TPeople::currentRow() const
{
    const QModelIndex i = DBGrid1->currentIndex();
    return i.isValid() ? i.row() : -1;
}

void TPeople::setCurrent(int row)
{
    if (m_model->rows.isEmpty()) {
        showRow();
        return;
    }
    row = qBound(0, row, int(m_model->rows.size()) - 1);
    DBGrid1->setCurrentIndex(m_model->index(row, 0));
    DBGrid1->selectRow(row);
    showRow();
}

// Shows the current row in the input group.
void TPeople::showRow()
{
    const int row = currentRow();
    const OperatorRow r = row >= 0 && row < m_model->rows.size() ? m_model->rows.at(row) : OperatorRow();
    edCode->setText(r.code);
    edName->setText(r.name);
    for (int n = 1; n <= OperatorAccounts::RightCount; ++n)
        m_rightBoxes[n - 1]->setChecked(r.rights.at(n - 1) == QLatin1String("1"));
    setState(m_state); // the navigator follows the position
}

void TPeople::reload(const QString &keepCode)
{
    QVector<OperatorRow> rows;
    const bool loaded = guarded([&] { rows = OperatorAccounts::load(m_filter); });
    if (!loaded && !m_filter.isEmpty()) {
        // A condition the database cannot evaluate filters nothing.
        m_filter.clear();
        guarded([&] { rows = OperatorAccounts::load(QString()); });
    }
    m_model->reset(rows);
    int at = 0;
    for (int i = 0; i < rows.size(); ++i)
        if (rows.at(i).code == keepCode)
            at = i;
    setCurrent(at);
}

void TPeople::setState(RowState s)
{
    m_state = s;
    const bool browsing = s == RowState::Browse;
    const int rows = int(m_model->rows.size());
    const int row = currentRow();
    nbFirst->setEnabled(browsing && row > 0);
    nbPrior->setEnabled(browsing && row > 0);
    nbNext->setEnabled(browsing && row >= 0 && row < rows - 1);
    nbLast->setEnabled(browsing && row >= 0 && row < rows - 1);
    nbInsert->setEnabled(browsing);
    nbDelete->setEnabled(browsing && rows > 0);
    nbEdit->setEnabled(browsing && rows > 0);
    nbPost->setEnabled(!browsing);
    nbCancel->setEnabled(!browsing);
    nbRefresh->setEnabled(browsing);
    btSearch->setEnabled(browsing);
    // The row being changed stays current until it is saved or cancelled.
    DBGrid1->setEnabled(browsing);
}

void TPeople::First() { setCurrent(0); }
void TPeople::Prior() { setCurrent(currentRow() - 1); }
void TPeople::Next() { setCurrent(currentRow() + 1); }
void TPeople::Last() { setCurrent(int(m_model->rows.size()) - 1); }

void TPeople::Insert()
{
    if (m_state != RowState::Browse)
        return;
    const int at = qMax(0, currentRow());
    m_model->insertBlank(at);
    m_insertedAt = at;
    m_state = RowState::Insert;
    setCurrent(at); // shows the blank row: every right "0"
    edCode->setFocus();
}

void TPeople::Edit()
{
    if (m_state != RowState::Browse)
        return;
    if (m_model->rows.isEmpty()) {
        Insert();
        return;
    }
    setState(RowState::Edit);
    edName->setFocus();
}

// Typing into a box or ticking a right of the shown row begins to change it.
void TPeople::beginAutoEdit()
{
    if (m_state != RowState::Browse)
        return;
    if (m_model->rows.isEmpty()) {
        // Nothing to change: the typed values begin a new row.
        const OperatorRow typed = fromControls();
        Insert();
        edCode->setText(typed.code);
        edName->setText(typed.name);
        for (int n = 1; n <= OperatorAccounts::RightCount; ++n)
            m_rightBoxes[n - 1]->setChecked(typed.rights.at(n - 1) == QLatin1String("1"));
        return;
    }
    Edit();
}

void TPeople::edCodeChange()
{
    beginAutoEdit();
    if (m_state == RowState::Edit) {
        inform(QStringLiteral("为了系统的一致性，已有的代码不能修改！"));
        Cancel();
    }
}

OperatorRow TPeople::fromControls() const
{
    OperatorRow r;
    r.code = trimText(edCode->text());
    r.name = trimText(edName->text());
    for (int n = 1; n <= OperatorAccounts::RightCount; ++n)
        r.rights[n - 1] = m_rightBoxes[n - 1]->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
    const int row = currentRow();
    if (row >= 0 && row < m_model->rows.size())
        r.lastLogin = m_model->rows.at(row).lastLogin;
    return r;
}

void TPeople::Post()
{
    if (m_state == RowState::Browse)
        return;
    OperatorRow r = fromControls();
    if (r.code.isEmpty()) {
        showError(QStringLiteral("“代码”不能为空，请输入！"));
        edCode->setFocus();
        return;
    }
    if (r.code == AdminCode) {
        // The administrator always keeps the right to manage operators.
        r.rights[OperatorAccounts::UserManagementRight - 1] = QStringLiteral("1");
        m_rightBoxes[OperatorAccounts::UserManagementRight - 1]->setChecked(true);
    }
    if (m_state == RowState::Insert) {
        bool used = false;
        if (!guarded([&] { used = OperatorAccounts::codeInUse(r.code); }))
            return;
        if (used) {
            inform(QStringLiteral("此代码已被使用，不能重复使用！"));
            edCode->setFocus();
            return;
        }
    }
    if (r.name.isEmpty()) {
        showError(QStringLiteral("“姓名”不能为空，请输入！"));
        edName->setFocus();
        return;
    }
    const bool inserting = m_state == RowState::Insert;
    const OperatorRow before = inserting ? OperatorRow() : m_model->rows.at(currentRow());
    const bool saved = guarded([&] {
        if (inserting)
            OperatorAccounts::insert(r, r.code); // a new operator's password is its code
        else
            OperatorAccounts::update(before, r);
    });
    if (!saved)
        return; // the row stays open for correction
    m_insertedAt = -1;
    m_state = RowState::Browse;
    reload(r.code);
}

void TPeople::Cancel()
{
    if (m_state == RowState::Browse)
        return;
    const int row = currentRow();
    if (m_state == RowState::Insert && m_insertedAt >= 0) {
        m_model->removeAt(m_insertedAt);
        m_insertedAt = -1;
    }
    m_state = RowState::Browse;
    setCurrent(row);
}

void TPeople::Refresh()
{
    if (m_state != RowState::Browse)
        return;
    const int row = currentRow();
    reload(row >= 0 ? m_model->rows.at(row).code : QString());
}

void TPeople::Delete()
{
    const int row = currentRow();
    if (m_state != RowState::Browse || row < 0)
        return;
    const QString code = m_model->rows.at(row).code;
    if (code == AdminCode) {
        inform(QStringLiteral("您不能删除管理员用户！"));
        return;
    }
    if (!askYesNo(QStringLiteral("您确定要删除此记录吗？")))
        return;
    if (!guarded([&] { OperatorAccounts::remove(code); }))
        return;
    const QString next = row + 1 < m_model->rows.size() ? m_model->rows.at(row + 1).code
                         : row > 0                      ? m_model->rows.at(row - 1).code
                                                        : QString();
    reload(next);
}

void TPeople::btSearchClick()
{
    if (m_state != RowState::Browse)
        return;
    Session &s = unGlobal();
    {
        TSearch search(this);
        s.SearchTypes = QVector<TSearchType>(21);
        s.SearchTypes[0] = {QStringLiteral("ad_code"), QStringLiteral("代码"), QLatin1Char('O'), QString()};
        s.SearchTypes[1] = {QStringLiteral("ad_name"), QStringLiteral("姓名"), QLatin1Char('O'), QString()};
        s.SearchCondition.clear();
        search.exec();
    }
    // Each search replaces the filter; no condition shows every row.
    m_filter = trimText(s.SearchCondition).isEmpty() ? QString() : s.SearchCondition;
    const int row = currentRow();
    reload(row >= 0 ? m_model->rows.at(row).code : QString());
    s.SearchCondition.clear();
}

} // namespace lectoria
