#include "messageboxprompt.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>

namespace lectoria {
namespace {

// The window a box is about, and the field in it that had the focus. When the
// box closes the focus goes back there: a window manager would give it back
// to the window, but without one keystrokes would go nowhere until the
// operator clicks. A caller that wants another field focuses it afterwards.
class FocusReturn {
public:
    FocusReturn()
    {
        QWidget *owner = QApplication::activeModalWidget();
        if (!owner)
            owner = QApplication::activeWindow();
        m_window = owner;
        m_field = owner ? owner->focusWidget() : nullptr;
    }
    ~FocusReturn()
    {
        if (!m_window || !m_window->isVisible())
            return;
        m_window->activateWindow();
        if (m_field && m_field->isVisible() && m_field->window() == m_window)
            m_field->setFocus(Qt::ActiveWindowFocusReason);
    }
    QWidget *window() const { return m_window; }

private:
    QPointer<QWidget> m_window;
    QPointer<QWidget> m_field;
};

} // namespace

void MessageBoxPrompt::message(const QString &caption, const QString &text, PromptIcon icon)
{
    QMessageBox::Icon i = QMessageBox::Information;
    if (icon == PromptIcon::Warning) i = QMessageBox::Warning;
    if (icon == PromptIcon::Error) i = QMessageBox::Critical;
    if (icon == PromptIcon::Question) i = QMessageBox::Question;
    FocusReturn focus;
    QMessageBox box(i, caption, text, QMessageBox::Ok, focus.window());
    box.exec();
}

bool MessageBoxPrompt::ask(const QString &caption, const QString &text)
{
    FocusReturn focus;
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, focus.window());
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QString MessageBoxPrompt::saveFileName(const FileRequest &r)
{
    FocusReturn focus;
    QFileDialog dlg(focus.window(), r.caption, r.directory, r.filter);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!r.defaultSuffix.isEmpty())
        dlg.setDefaultSuffix(r.defaultSuffix);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return QString();
    return dlg.selectedFiles().constFirst();
}

QString MessageBoxPrompt::openFileName(const FileRequest &r)
{
    FocusReturn focus;
    return QFileDialog::getOpenFileName(focus.window(), r.caption, r.directory, r.filter);
}

} // namespace lectoria
