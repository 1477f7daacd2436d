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

// Writes a message to standard output or error: on a Windows console in the
// console's own wide characters (Chinese whatever its code page), elsewhere
// in the local encoding, as other programs' output is read there.
void writeText(Stream stream, const QString &text);

// Writes every byte to standard output as it is (no line-end translation);
// false with the system's reason in *error.
bool writeStandardOutput(const QByteArray &bytes, QString *error);

} // namespace lectoria::consoleio
