#include "consoleio.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include <termios.h>
#include <unistd.h>

namespace lectoria::consoleio {

bool isTerminal(Stream stream)
{
    const int fd = stream == Stream::Input ? STDIN_FILENO : stream == Stream::Output ? STDOUT_FILENO : STDERR_FILENO;
    return isatty(fd);
}

bool readHidden(const QString &prompt, QString *line)
{
    if (!isatty(STDIN_FILENO))
        return false;
    writeText(Stream::Error, prompt);
    termios old{};
    tcgetattr(STDIN_FILENO, &old);
    termios quiet = old;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    std::string typed;
    std::getline(std::cin, typed);
    tcsetattr(STDIN_FILENO, TCSANOW, &old);
    std::fprintf(stderr, "\n");
    *line = QString::fromLocal8Bit(typed.c_str());
    return true;
}

void writeText(Stream stream, const QString &text)
{
    std::FILE *to = stream == Stream::Output ? stdout : stderr;
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
}

bool writeStandardOutput(const QByteArray &bytes, QString *error)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t wrote = ::write(STDOUT_FILENO, bytes.constData() + done, size_t(bytes.size() - done));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            *error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        done += wrote;
    }
    return true;
}

} // namespace lectoria::consoleio
