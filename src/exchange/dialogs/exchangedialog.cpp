#include "exchangedialog.h"
#include "errors.h"
#include "keyfilters.h"
#include "prompt.h"
#include "splash.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

namespace lectoria {
namespace {
constexpr int paintEveryMs = 40;
constexpr int labelX = 16;
constexpr int fieldX = 104;
constexpr int rowWidth = 300;
} // namespace

ProgressPump::ProgressPump(QProgressBar *bar) : m_bar(bar)
{
    m_bar->setRange(0, 100);
    m_bar->setValue(0);
    paintNow(m_bar);
    m_sincePaint.start();
}

ProgressPump::~ProgressPump() { m_bar->setVisible(false); }

void ProgressPump::step(int done)
{
    if (m_sincePaint.elapsed() < paintEveryMs)
        return;
    m_bar->setValue(done % 100);
    paintNow(m_bar);
    m_sincePaint.restart();
}

ExchangeDialog::ExchangeDialog(QWidget *owner, const char *objectName, const QString &caption)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QLatin1String(objectName));
    setWindowTitle(caption);
    new EnterMovesFocus(this);
}

void ExchangeDialog::addKindRow(int y, const QString &label, const QString &verb)
{
    auto *l = new QLabel(label, this);
    l->setGeometry(labelX, y + 3, fieldX - labelX, 20);
    cbType = new QComboBox(this);
    cbType->setObjectName(QStringLiteral("cbType"));
    cbType->setGeometry(fieldX, y, 200, 24);
    for (const ExchangeKind &k : exchangeKinds())
        cbType->addItem(verb + QLatin1Char(' ') + k.word);
    cbType->setCurrentIndex(0);
    // cbTypeKeyPress: the kind is picked from the list; typed characters
    // other than Enter are discarded.
    cbType->installEventFilter(this);
}

void ExchangeDialog::addFileRow(int y, const QString &label)
{
    auto *l = new QLabel(label, this);
    l->setGeometry(labelX, y + 3, fieldX - labelX, 20);
    edFileName = new QLineEdit(this);
    edFileName->setObjectName(QStringLiteral("edFileName"));
    edFileName->setGeometry(fieldX, y, rowWidth - 34, 24);
    btFileName = new QPushButton(QStringLiteral(">>"), this);
    btFileName->setObjectName(QStringLiteral("btFileName"));
    btFileName->setGeometry(fieldX + rowWidth - 30, y, 30, 24);
    btFileName->setAutoDefault(false);
}

QPushButton *ExchangeDialog::addButtonRows(int y, const QString &startCaption, const char *startName)
{
    pgBar = new QProgressBar(this);
    pgBar->setObjectName(QStringLiteral("pgBar"));
    pgBar->setRange(0, 100);
    pgBar->setValue(0);
    pgBar->setGeometry(labelX, y, fieldX + rowWidth - labelX, 18);
    pgBar->setVisible(false);

    auto *start = new QPushButton(startCaption, this);
    start->setObjectName(QLatin1String(startName));
    start->setGeometry(fieldX, y + 30, 110, 28);
    start->setAutoDefault(false);
    BitBtn2 = new QPushButton(QStringLiteral("退出(&C)"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setGeometry(fieldX + rowWidth - 110, y + 30, 110, 28);
    BitBtn2->setAutoDefault(false);
    connect(BitBtn2, &QPushButton::clicked, this, &ExchangeDialog::BitBtn2Click);

    setFixedSize(fieldX + rowWidth + labelX, y + 74);
    if (QScreen *s = QGuiApplication::primaryScreen())
        move(s->geometry().center() - rect().center());
    return start;
}

void ExchangeDialog::BitBtn2Click() { reject(); }

void ExchangeDialog::runWithProgress(const std::function<QString(const ExchangeProgress &)> &work, const bool *asError)
{
    m_busy = true;
    ScopeExit idle([this] { m_busy = false; });
    QString message;
    guarded([&] {
        ProgressPump pump(pgBar); // hidden again before any message
        message = work(pump.callback());
    });
    if (message.isEmpty())
        return;
    if (asError && *asError)
        showError(message);
    else
        inform(message);
}

void ExchangeDialog::closeEvent(QCloseEvent *event)
{
    // The window system may ask to close while the work runs; the work ends first.
    if (m_busy) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void ExchangeDialog::reject()
{
    if (!m_busy)
        QDialog::reject();
}

bool ExchangeDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == cbType && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (!enter && !key->text().isEmpty() && key->text().at(0).unicode() >= 32)
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace lectoria
