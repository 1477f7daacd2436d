#pragma once
#include <QString>

namespace lectoria {

enum class PromptIcon { Information, Warning, Error, Question };

struct FileRequest {
    QString caption;
    QString directory;     // or a proposed file path
    QString filter;        // "文本文件(*.txt)"; empty for none
    QString defaultSuffix; // "txt"; empty for none
};

// Every message box, question and file dialog of the console goes through the
// installed prompt. The application installs one that shows real dialogs; the
// command-line runner writes messages to standard error; tests install one
// that answers from a script and records what was shown.
class Prompt {
public:
    virtual ~Prompt() = default;
    virtual void message(const QString &caption, const QString &text, PromptIcon icon) = 0;
    // A Yes/No question with the question icon and No as the default button.
    virtual bool ask(const QString &caption, const QString &text) = 0;
    // The chosen path, or empty when the operator cancelled.
    virtual QString saveFileName(const FileRequest &request) = 0;
    virtual QString openFileName(const FileRequest &request) = 0;
};

Prompt &prompt();
// Installs p (not owned) as the prompt; nullptr returns to the standard-error prompt.
void installPrompt(Prompt *p);

// The console's usual message shapes.
void inform(const QString &text, const QString &caption = QStringLiteral("提示信息"));
void showError(const QString &text, const QString &caption = QStringLiteral("错误提示"));
bool askYesNo(const QString &text, const QString &caption = QStringLiteral("提示信息"));
// The application's standard error box: an error that no dialog caught, with its own text.
void showException(const QString &text);

// Title of the application, the caption of the standard error box.
QString applicationTitle();

// Writes messages to standard error and answers every question with a fixed
// answer; used where there is no window (the command-line runner).
class StreamPrompt : public Prompt {
public:
    explicit StreamPrompt(bool answer = false) : m_answer(answer) {}
    void message(const QString &caption, const QString &text, PromptIcon icon) override;
    bool ask(const QString &caption, const QString &text) override;
    QString saveFileName(const FileRequest &) override { return QString(); }
    QString openFileName(const FileRequest &) override { return QString(); }

private:
    bool m_answer;
};

} // namespace lectoria
