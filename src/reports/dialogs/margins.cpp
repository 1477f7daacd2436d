#include "margins.h"
#include "errors.h"
#include "keyfilters.h"
#include "libdb.h"
#include "text.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>

#include <tuple>

namespace lectoria {

QString defaultMarginsStatement() { return QStringLiteral("update lib_prtblank set pb_default=0"); }

QStringList customMarginsStatement(const QString &top, const QString &bottom, const QString &left,
                                   const QString &right)
{
    const QString indent(9, QLatin1Char(' '));
    return {QStringLiteral("update lib_prtblank set "),
            indent + QStringLiteral("pb_default=1,"),
            indent + QStringLiteral("pb_top=0") + trimText(top) + QLatin1Char(','),
            indent + QStringLiteral("pb_bottom=0") + trimText(bottom) + QLatin1Char(','),
            indent + QStringLiteral("pb_left=0") + trimText(left) + QLatin1Char(','),
            indent + QStringLiteral("pb_right=0") + trimText(right)};
}

namespace {

// The millimetres a field stands for: "0" followed by its trimmed text, so an
// empty field is 0. Only whole numbers that fit the integer columns are
// margins; anything else (pasted or set text) never reaches the statement.
bool marginValue(const QLineEdit *field, int *value)
{
    const QString text = trimText(field->text());
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    bool ok = false;
    *value = (QStringLiteral("0") + text).toInt(&ok);
    return ok;
}

} // namespace

TPrtBlankPara::TPrtBlankPara(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("TPrtBlankPara"));
    setWindowTitle(QStringLiteral("报表打印空白边界参数"));
    setModal(true);
    const int width = 300;

    auto *choice = new QGroupBox(QStringLiteral("打印方式"), this);
    choice->setObjectName(QStringLiteral("GroupBox4"));
    choice->setGeometry(8, 4, width - 16, 56);
    m_init = new QRadioButton(QStringLiteral("系统初始值"), choice);
    m_init->setObjectName(QStringLiteral("rdbInit"));
    m_init->setToolTip(QStringLiteral("打印机纸张设置为A4"));
    m_init->setGeometry(16, 24, 120, 22);
    m_para = new QRadioButton(QStringLiteral("自定义参数"), choice);
    m_para->setObjectName(QStringLiteral("rdbPara"));
    m_para->setToolTip(QStringLiteral("打印机纸张设置为自定义"));
    m_para->setGeometry(150, 24, 120, 22);
    connect(m_init, &QRadioButton::clicked, this, &TPrtBlankPara::rdbInitClick);
    connect(m_para, &QRadioButton::clicked, this, &TPrtBlankPara::rdbInitClick);

    m_edge = new QGroupBox(QStringLiteral("纸张空白边界"), this);
    m_edge->setObjectName(QStringLiteral("grbEdge"));
    m_edge->setGeometry(8, 66, width - 16, 126);
    auto *digits = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    auto field = [this, digits](const QString &name, const QString &caption, int y, int value) {
        auto *label = new QLabel(caption, m_edge);
        label->setGeometry(24, y, 24, 22);
        auto *edit = new QLineEdit(QString::number(value), m_edge);
        edit->setObjectName(name);
        edit->setGeometry(52, y, 90, 22);
        edit->setValidator(digits);
        edit->installEventFilter(this);
        auto *unit = new QLabel(QStringLiteral("毫米"), m_edge);
        unit->setGeometry(148, y, 40, 22);
        return std::make_tuple(edit, label, unit);
    };
    const Session &s = unGlobal();
    m_top = std::get<0>(field(QStringLiteral("edPaperTop"), QStringLiteral("上"), 24, s.MarginTop));
    m_bottom = std::get<0>(field(QStringLiteral("edPaperButtom"), QStringLiteral("下"), 56, s.MarginBottom));
    m_left = std::get<0>(field(QStringLiteral("edPaperLeft"), QStringLiteral("左"), 88, s.MarginLeft));
    // The right margin is kept and saved with its current value but never offered.
    auto right = field(QStringLiteral("edPaperRight"), QStringLiteral("右"), 88, s.MarginRight);
    m_right = std::get<0>(right);
    m_right->hide();
    std::get<1>(right)->hide();
    std::get<2>(right)->hide();

    m_save = new QPushButton(QStringLiteral("保存设置"), this);
    m_save->setObjectName(QStringLiteral("btSave"));
    m_exit = new QPushButton(QStringLiteral("退出"), this);
    m_exit->setObjectName(QStringLiteral("btExit"));
    connect(m_save, &QPushButton::clicked, this, &TPrtBlankPara::btSaveClick);
    connect(m_exit, &QPushButton::clicked, this, &TPrtBlankPara::btExitClick);

    new EnterMovesFocus(this);
    setFixedSize(width, InitHeight);
    // Chosen before the first show as well, so the dialog is consistent even
    // for a caller that inspects it without showing it.
    (s.CustomMargins != 0 ? m_para : m_init)->setChecked(true);
    rdbInitClick();
}

void TPrtBlankPara::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    (unGlobal().CustomMargins != 0 ? m_para : m_init)->setChecked(true);
    rdbInitClick();
}

void TPrtBlankPara::rdbInitClick()
{
    const bool custom = m_para->isChecked();
    m_edge->setVisible(custom);
    const int height = custom ? ParaHeight : InitHeight;
    const int buttonsY = height - 38;
    m_save->setGeometry(width() - 184, buttonsY, 84, 28);
    m_exit->setGeometry(width() - 92, buttonsY, 84, 28);
    setFixedSize(width(), height);
    if (!custom)
        return;
    // Bring the taller window back onto the screen when it would leave it.
    if (const QScreen *sc = screen()) {
        const QRect area = sc->geometry();
        QPoint at = pos();
        if (at.y() + height > area.height())
            at.setY((area.height() - height) / 2);
        if (at.x() + width() > area.width())
            at.setX((area.width() - width()) / 2);
        if (at != pos())
            move(at);
    }
}

bool TPrtBlankPara::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        const QString text = key->text();
        // Only typed characters are filtered; editing keys and shortcuts pass.
        if (!text.isEmpty() && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            const QChar c = text.at(0);
            const bool accepted = (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('\b')
                                  || c == QLatin1Char('\r');
            if (!accepted)
                return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TPrtBlankPara::btSaveClick()
{
    const bool saved = guarded([this] {
        Session &s = unGlobal();
        if (m_init->isChecked()) {
            LibDB::exec(defaultMarginsStatement());
            s.CustomMargins = 0;
            return;
        }
        int top = 0, bottom = 0, left = 0, right = 0;
        if (!marginValue(m_top, &top) || !marginValue(m_bottom, &bottom) || !marginValue(m_left, &left)
            || !marginValue(m_right, &right))
            throw Error(QStringLiteral("纸张空白边界必须是以毫米为单位的整数。"));
        LibDB::exec(customMarginsStatement(m_top->text(), m_bottom->text(), m_left->text(), m_right->text()));
        s.CustomMargins = 1;
        s.MarginTop = top;
        s.MarginBottom = bottom;
        s.MarginLeft = left;
        s.MarginRight = right;
    });
    if (saved)
        accept();
}

void TPrtBlankPara::btExitClick() { reject(); }

} // namespace lectoria
