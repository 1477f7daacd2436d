#pragma once
#include <QByteArray>
#include <QString>

// The runner's terminal: whether a standard stream is one, the password
// asked there without echo, and raw bytes to standard output.
namespace lectoria::consoleio {

enum class Stream { Input, Output, Error };

bool isTerminal(Stream stream);

// Shows the prompt on standard error and reads one line from the terminal
// without showing it. False, with nothing read, when standard input is not a
// terminal.
bool readHidden(const QString &prompt, QString *line);

// Writes every byte to standard output as it is (no line-end translation);
// false with the system's reason in *error.
bool writeStandardOutput(const QByteArray &bytes, QString *error);

} // namespace lectoria::consoleio
