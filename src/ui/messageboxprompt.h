#pragma once
#include "prompt.h"

namespace lectoria {

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
