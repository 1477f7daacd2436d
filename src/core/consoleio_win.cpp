#include "consoleio.h"

#include <cstdio>
#include <iterator>

#include <windows.h>

namespace lectoria::consoleio {
namespace {

HANDLE handleOf(Stream stream)
{
    return GetStdHandle(stream == Stream::Input ? STD_INPUT_HANDLE
                        : stream == Stream::Output ? STD_OUTPUT_HANDLE
                                                   : STD_ERROR_HANDLE);
}

bool isConsole(HANDLE h)
{
    DWORD mode = 0;
    return h != INVALID_HANDLE_VALUE && h != nullptr && GetConsoleMode(h, &mode) != 0;
}

QString systemText(DWORD code)
{
    wchar_t *text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString s = n ? QString::fromWCharArray(text, int(n)).trimmed() : QStringLiteral("错误 %1").arg(code);
    LocalFree(text);
    return s;
}

void writeConsole(HANDLE h, const QString &text)
{
    const std::wstring w = text.toStdWString();
    DWORD written = 0;
    WriteConsoleW(h, w.c_str(), DWORD(w.size()), &written, nullptr);
}

} // namespace

bool isTerminal(Stream stream) { return isConsole(handleOf(stream)); }

bool readHidden(const QString &prompt, QString *line)
{
    const HANDLE in = handleOf(Stream::Input);
    if (!isConsole(in))
        return false;
    // The console's own wide-character calls: the prompt and the password
    // stay Chinese whatever the console's code page.
    const HANDLE err = handleOf(Stream::Error);
    if (isConsole(err))
        writeConsole(err, prompt);
    DWORD old = 0;
    GetConsoleMode(in, &old);
    SetConsoleMode(in, (old | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~DWORD(ENABLE_ECHO_INPUT));
    QString typed;
    wchar_t buffer[256];
    for (;;) {
        DWORD got = 0;
        if (!ReadConsoleW(in, buffer, DWORD(std::size(buffer)), &got, nullptr) || got == 0)
            break;
        typed += QString::fromWCharArray(buffer, int(got));
        if (typed.endsWith(QLatin1Char('\n')))
            break;
    }
    SetConsoleMode(in, old);
    if (isConsole(err))
        writeConsole(err, QStringLiteral("\n"));
    while (typed.endsWith(QLatin1Char('\n')) || typed.endsWith(QLatin1Char('\r')))
        typed.chop(1);
    *line = typed;
    return true;
}

void writeText(Stream stream, const QString &text)
{
    const HANDLE h = handleOf(stream);
    if (isConsole(h)) {
        writeConsole(h, text);
        return;
    }
    // Redirected: the system's ANSI code page, what a scheduler's log or
    // another program reading the pipe expects on this machine.
    std::FILE *to = stream == Stream::Output ? stdout : stderr;
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
}

bool writeStandardOutput(const QByteArray &bytes, QString *error)
{
    // WriteFile, not the C library: its text mode would turn LF into CR LF.
    const HANDLE out = handleOf(Stream::Output);
    for (qsizetype done = 0; done < bytes.size();) {
        DWORD wrote = 0;
        const DWORD chunk = DWORD(qMin<qsizetype>(bytes.size() - done, 1 << 20));
        if (!WriteFile(out, bytes.constData() + done, chunk, &wrote, nullptr) || wrote == 0) {
            *error = systemText(GetLastError());
            return false;
        }
        done += wrote;
    }
    return true;
}

} // namespace lectoria::consoleio
