#pragma once
#include "prompt.h"

#include <QFileDialog>

#include <memory>

namespace lectoria {

// A file dialog of the console (Qt's own, never the desktop's). It tells
// files apart by their names only: guessing a file's type from its contents
// would open and close every file listed, and closing any descriptor of a
// file drops every lock the process holds on it, the open database's
// among them.
std::unique_ptr<QFileDialog> makeFileDialog(QWidget *owner, const FileRequest &request,
                                            QFileDialog::AcceptMode mode);


// The prompt of the running console: real message boxes and file dialogs,
// owned by the active window.
class MessageBoxPrompt : public Prompt {
public:
    void message(const QString &caption, const QString &text, PromptIcon icon) override;
    bool ask(const QString &caption, const QString &text) override;
    QString saveFileName(const FileRequest &request) override;
    QString openFileName(const FileRequest &request) override;
};

} // namespace lectoria
