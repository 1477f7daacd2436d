#include "messageboxprompt.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QLineEdit>
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

namespace {

// Icons and type names from what a name says, never from contents.
class NameOnlyIcons : public QFileIconProvider {
public:
    QIcon icon(IconType type) const override { return QFileIconProvider::icon(type); }
    QIcon icon(const QFileInfo &info) const override
    {
        return QFileIconProvider::icon(info.isDir() ? QFileIconProvider::Folder : QFileIconProvider::File);
    }
    QString type(const QFileInfo &info) const override
    {
        if (info.isDir())
            return QStringLiteral("文件夹");
        return info.suffix().isEmpty() ? QStringLiteral("文件") : info.suffix().toUpper() + QStringLiteral(" 文件");
    }
};

NameOnlyIcons &nameOnlyIcons()
{
    static NameOnlyIcons icons;
    return icons;
}

} // namespace

namespace {

// The open dialog's default suffix: a name typed without one that names no
// file gets it ("gui_in" opens gui_in.dat), while a file whose name has no
// suffix can still be opened by its name.
class OpenFileDialog : public QFileDialog {
public:
    OpenFileDialog(QWidget *owner, const FileRequest &r)
        : QFileDialog(owner, r.caption, r.directory, r.filter), m_suffix(r.defaultSuffix)
    {
    }

protected:
    void accept() override
    {
        auto *edit = findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        const QString typed = edit ? edit->text().trimmed() : QString();
        if (!m_suffix.isEmpty() && !typed.isEmpty() && !typed.contains(QLatin1Char('.'))) {
            const QDir folder = directory();
            const QString withSuffix = typed + QLatin1Char('.') + m_suffix;
            if (!QFileInfo::exists(folder.filePath(typed)) && QFileInfo::exists(folder.filePath(withSuffix)))
                edit->setText(withSuffix);
        }
        QFileDialog::accept();
    }

private:
    QString m_suffix;
};

} // namespace

std::unique_ptr<QFileDialog> makeFileDialog(QWidget *owner, const FileRequest &r, QFileDialog::AcceptMode mode)
{
    std::unique_ptr<QFileDialog> dlg;
    if (mode == QFileDialog::AcceptOpen)
        dlg = std::make_unique<OpenFileDialog>(owner, r);
    else
        dlg = std::make_unique<QFileDialog>(owner, r.caption, r.directory, r.filter);
    dlg->setOption(QFileDialog::DontUseNativeDialog, true);
    dlg->setIconProvider(&nameOnlyIcons());
    dlg->setAcceptMode(mode);
    dlg->setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    if (!r.defaultSuffix.isEmpty() && mode == QFileDialog::AcceptSave)
        dlg->setDefaultSuffix(r.defaultSuffix);
    return dlg;
}

QString MessageBoxPrompt::saveFileName(const FileRequest &r)
{
    FocusReturn focus;
    std::unique_ptr<QFileDialog> dlg = makeFileDialog(focus.window(), r, QFileDialog::AcceptSave);
    dlg->setOption(QFileDialog::DontConfirmOverwrite, true);
    if (dlg->exec() != QDialog::Accepted || dlg->selectedFiles().isEmpty())
        return QString();
    return dlg->selectedFiles().constFirst();
}

QString MessageBoxPrompt::openFileName(const FileRequest &r)
{
    FocusReturn focus;
    std::unique_ptr<QFileDialog> dlg = makeFileDialog(focus.window(), r, QFileDialog::AcceptOpen);
    if (dlg->exec() != QDialog::Accepted || dlg->selectedFiles().isEmpty())
        return QString();
    return dlg->selectedFiles().constFirst();
}

} // namespace lectoria
