#include "tsearch.h"
#include "libdb.h"
#include "clock.h"
#include "errors.h"
#include "formkeys.h"
#include "prompt.h"
#include "searchterms.h"
#include "text.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace lectoria {
namespace {

QPushButton *button(QWidget *parent, const char *name, const QString &text, const QString &hint = QString())
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setToolTip(hint);
    b->setAutoDefault(false); // Enter is the window's: it moves on or adds
    return b;
}

template <typename W>
W *named(W *w, const char *name)
{
    w->setObjectName(QLatin1String(name));
    return w;
}

} // namespace

TSearch::TSearch(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("TSearch"));
    setWindowTitle(QStringLiteral("查询条件"));

    lbAndOr = new QLabel(QStringLiteral("逻辑符(F6)"), this);
    cbAndOr = named(new QComboBox(this), "cbAndOr");
    cbAndOr->addItems({QStringLiteral("并且"), QStringLiteral("或者")});
    cbField = named(new QComboBox(this), "cbField");
    cbField->setMinimumWidth(140);
    cbOperate = named(new QComboBox(this), "cbOperate");
    cbOperate->addItems(SearchTerms::operatorsFor(QLatin1Char('N'))); // until a field is chosen
    cbOperate->setMinimumWidth(110);
    edtValue = named(new QLineEdit(this), "edtValue");
    dtpDate = named(new QDateEdit(this), "dtpDate");
    dtpDate->setCalendarPopup(true);
    dtpDate->setDisplayFormat(QStringLiteral("yyyy年M月d日"));
    const QDateTime server = unGlobal().ServerDate;
    dtpDate->setDate(server.isValid() ? server.date() : Clock::today());
    cbList = named(new QComboBox(this), "cbList");
    for (QWidget *w : {static_cast<QWidget *>(edtValue), static_cast<QWidget *>(dtpDate), static_cast<QWidget *>(cbList)})
        w->setMinimumWidth(180);
    dtpDate->hide();
    cbList->hide();
    btAppend = button(this, "btAppend", QStringLiteral("加入(F2)"));

    memDsp = named(new QPlainTextEdit(this), "memDsp");
    memDsp->setReadOnly(true);
    memDsp->setFocusPolicy(Qt::NoFocus);
    QPalette grey = memDsp->palette();
    grey.setColor(QPalette::Base, palette().color(QPalette::Window));
    memDsp->setPalette(grey);

    bbtRefresh = button(this, "bbtRefresh", QStringLiteral("刷新(F5)"), QStringLiteral("清空条件"));
    bbtOk = button(this, "bbtOk", QStringLiteral("确认(F3)  不选任何条件，表示选中全部数据"), QStringLiteral("确定选择的条件"));
    bbtExit = button(this, "bbtExit", QStringLiteral("取消(&C)"), QStringLiteral("退出此界面"));

    auto *grid = new QGridLayout;
    grid->addWidget(lbAndOr, 0, 0);
    grid->addWidget(new QLabel(QStringLiteral("字段名称(F7)"), this), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("比较方式(F8)"), this), 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("值(F9)"), this), 0, 3);
    grid->addWidget(cbAndOr, 1, 0);
    grid->addWidget(cbField, 1, 1);
    grid->addWidget(cbOperate, 1, 2);
    auto *value = new QHBoxLayout;
    value->setContentsMargins(0, 0, 0, 0);
    value->addWidget(edtValue);
    value->addWidget(dtpDate);
    value->addWidget(cbList);
    grid->addLayout(value, 1, 3);
    grid->addWidget(btAppend, 1, 4);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(bbtRefresh);
    buttons->addStretch();
    buttons->addWidget(bbtOk);
    buttons->addWidget(bbtExit);

    auto *main = new QVBoxLayout(this);
    main->addLayout(grid);
    main->addWidget(memDsp);
    main->addLayout(buttons);

    lbAndOr->hide();
    cbAndOr->hide();

    connect(cbField, &QComboBox::currentIndexChanged, this, &TSearch::cbFieldChange);
    connect(btAppend, &QPushButton::clicked, this, &TSearch::btAppendClick);
    connect(bbtRefresh, &QPushButton::clicked, this, &TSearch::bbtRefreshClick);
    connect(bbtOk, &QPushButton::clicked, this, &TSearch::bbtOkClick);
    connect(bbtExit, &QPushButton::clicked, this, &TSearch::bbtExitClick);
    new FormKeys(this, [this](QWidget *target, QKeyEvent *key) { return formKey(target, key); });
}

void TSearch::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TSearch::FormShow()
{
    m_added = false;
    unGlobal().SearchCondition.clear();
    memDsp->clear();
    lbAndOr->hide();
    cbAndOr->hide();

    m_fields.clear();
    for (const TSearchType &t : unGlobal().SearchTypes) {
        if (t.fieldName.isEmpty())
            break;
        m_fields << t;
    }
    {
        const QSignalBlocker quiet(cbField);
        cbField->clear();
        for (const TSearchType &t : m_fields)
            cbField->addItem(t.caption);
        cbField->setCurrentIndex(-1);
    }
    if (cbField->count() > 0)
        cbField->setCurrentIndex(0); // applies the field change
    if (cbOperate->count() > 0 && cbOperate->currentIndex() < 0)
        cbOperate->setCurrentIndex(0);
    cbField->setFocus();
}

const TSearchType *TSearch::currentField() const
{
    const int i = cbField->currentIndex();
    return i >= 0 && i < m_fields.size() ? &m_fields.at(i) : nullptr;
}

QWidget *TSearch::valueControl() const
{
    if (!dtpDate->isHidden())
        return dtpDate;
    if (!cbList->isHidden())
        return cbList;
    return edtValue;
}

void TSearch::cbFieldChange()
{
    const TSearchType *field = currentField();
    if (!field)
        return;
    const QChar type = field->typeCode;
    cbOperate->clear();
    cbOperate->addItems(SearchTerms::operatorsFor(type));
    cbOperate->setCurrentIndex(0);

    const bool isDate = type == QLatin1Char('D');
    const bool isList = SearchTerms::isListType(type);
    edtValue->setVisible(!isDate && !isList);
    dtpDate->setVisible(isDate);
    cbList->setVisible(isList);
    if (!isList)
        return;
    cbList->clear();
    const QString source = field->listSource;
    guarded([&] {
        const QStringList items = (type == QLatin1Char('B') || type == QLatin1Char('A'))
            ? SearchTerms::queryListItems(type, source)
            : SearchTerms::fixedListItems(source);
        cbList->addItems(items);
        if (!items.isEmpty())
            cbList->setCurrentIndex(0);
    });
}

void TSearch::refuse(const QString &text, QWidget *focus)
{
    inform(text, QStringLiteral("错误提示"));
    focus->setFocus();
}

void TSearch::btAppendClick()
{
    const QString word = trimText(cbOperate->currentText());
    if (SearchTerms::operatorText(word).isEmpty())
        return refuse(QStringLiteral("操作符有错！"), cbOperate);
    if (m_added && trimText(cbAndOr->currentText()).isEmpty())
        return refuse(QStringLiteral("逻辑符不能为空！"), cbAndOr);
    const TSearchType *field = currentField();
    if (!field || trimText(cbField->currentText()).isEmpty())
        return refuse(QStringLiteral("字段不能为空！"), cbField);

    const QChar type = field->typeCode;
    QString value = edtValue->text();
    if (SearchTerms::isListType(type)) {
        // An empty list (its query failed or found nothing) has no value to compare with.
        if (cbList->currentIndex() < 0)
            return refuse(QStringLiteral("值不能为空！"), cbList);
        value = cbList->currentText();
    } else if (type == QLatin1Char('N') && !SearchTerms::isNumber(value)) {
        // The value goes into the condition unquoted: only a number may.
        return refuse(QStringLiteral("值必须是数字！"), edtValue);
    }

    SearchTerms::Comparison c = SearchTerms::comparison(*field, word, value, dtpDate->date(), LibDB::dialect());
    if (!m_added) {
        m_added = true;
        lbAndOr->show();
        cbAndOr->show();
    } else {
        const QString logic = trimText(cbAndOr->currentText());
        c.display = logic + QLatin1Char(' ') + c.display;
        c.condition = SearchTerms::logicText(logic) + c.condition;
    }
    memDsp->appendPlainText(c.display);
    unGlobal().SearchCondition += c.condition;
    if (cbAndOr->currentIndex() < 0)
        cbAndOr->setCurrentIndex(0);
    bbtOk->setFocus();
}

void TSearch::bbtRefreshClick()
{
    memDsp->clear();
    unGlobal().SearchCondition.clear();
    m_added = false;
    lbAndOr->hide();
    cbAndOr->hide();
}

void TSearch::bbtOkClick() { accept(); }

void TSearch::bbtExitClick()
{
    unGlobal().SearchCondition.clear();
    reject();
}

bool TSearch::formKey(QWidget *target, QKeyEvent *key)
{
    auto press = [](QPushButton *b) {
        if (b->isEnabled())
            b->click();
        return true;
    };
    auto focus = [](QWidget *w) {
        if (w->isVisible())
            w->setFocus();
        return true;
    };
    switch (key->key()) {
    case Qt::Key_F2: return press(btAppend);
    case Qt::Key_F3: return press(bbtOk);
    case Qt::Key_F5: return press(bbtRefresh);
    case Qt::Key_F6: return focus(cbAndOr);
    case Qt::Key_F7: return focus(cbField);
    case Qt::Key_F8: return focus(cbOperate);
    case Qt::Key_F9: return focus(valueControl());
    default: break;
    }

    // Which of the dialog's controls the key is for (a date editor passes
    // keys through an inner field).
    QWidget *control = target == this ? focusWidget() : target;
    while (control && control != this && control != cbAndOr && control != cbField && control != cbOperate
           && control != edtValue && control != dtpDate && control != cbList && !qobject_cast<QPushButton *>(control))
        control = control->parentWidget();
    if (!control || control == this)
        return false;

    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (!enter) {
        // The value list takes choices only; typed characters are ignored.
        return control == cbList && !key->text().isEmpty() && key->text().at(0).isPrint();
    }
    if (auto *b = qobject_cast<QPushButton *>(control))
        return press(b);
    if (control == cbAndOr) return focus(cbField);
    if (control == cbField) return focus(cbOperate);
    if (control == cbOperate) return focus(valueControl());
    if (control == edtValue) {
        btAppendClick();
        return true;
    }
    return focus(btAppend); // date picker, value list
}

} // namespace lectoria
