#include "prompt.h"

#include "consoleio.h"

#include <cstdio>

namespace lectoria {
namespace {
StreamPrompt &fallback()
{
    static StreamPrompt p;
    return p;
}
Prompt *&installed()
{
    static Prompt *p = nullptr;
    return p;
}
} // namespace

Prompt &prompt() { return installed() ? *installed() : fallback(); }
void installPrompt(Prompt *p) { installed() = p; }

void inform(const QString &text, const QString &caption)
{
    prompt().message(caption, text, PromptIcon::Information);
}

void showError(const QString &text, const QString &caption)
{
    prompt().message(caption, text, PromptIcon::Error);
}

bool askYesNo(const QString &text, const QString &caption) { return prompt().ask(caption, text); }

QString applicationTitle() { return QStringLiteral("砚禾数字图书馆管理系统"); }

void showException(const QString &text)
{
    prompt().message(applicationTitle(), text, PromptIcon::Error);
}

void StreamPrompt::message(const QString &, const QString &text, PromptIcon)
{
    consoleio::writeText(consoleio::Stream::Error, text + QLatin1Char('\n'));
}

bool StreamPrompt::ask(const QString &caption, const QString &text)
{
    message(caption, text, PromptIcon::Question);
    return m_answer;
}

} // namespace lectoria
