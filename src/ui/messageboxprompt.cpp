#include "messageboxprompt.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace lectoria {

void MessageBoxPrompt::message(const QString &caption, const QString &text, PromptIcon icon)
{
    QMessageBox::Icon i = QMessageBox::Information;
    if (icon == PromptIcon::Warning) i = QMessageBox::Warning;
    if (icon == PromptIcon::Error) i = QMessageBox::Critical;
    if (icon == PromptIcon::Question) i = QMessageBox::Question;
    QMessageBox box(i, caption, text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

bool MessageBoxPrompt::ask(const QString &caption, const QString &text)
{
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                    QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QString MessageBoxPrompt::saveFileName(const FileRequest &r)
{
    QFileDialog dlg(QApplication::activeWindow(), r.caption, r.directory, r.filter);
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
    return QFileDialog::getOpenFileName(QApplication::activeWindow(), r.caption, r.directory, r.filter);
}

} // namespace lectoria
