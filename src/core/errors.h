#pragma once
#include <QString>
#include <exception>
#include <functional>

class QSqlError;

namespace lectoria {

// An error whose text is shown to the operator as it is: the database
// driver's own text, or the system's text for a file.
class Error : public std::exception {
public:
    explicit Error(QString text) : m_text(std::move(text)), m_utf8(m_text.toUtf8()) {}
    const QString &text() const { return m_text; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_text;
    QByteArray m_utf8;
};

class DbError : public Error {
public:
    using Error::Error;
};

class FileError : public Error {
public:
    using Error::Error;
};

// What the operator reads when a statement fails: the database's own text,
// or the driver's when the database said nothing.
QString dbErrorText(const QSqlError &error);

// Runs one command handler. An error that escapes it is shown in the
// application's standard error box with its own text; returns false then.
// Scope guards inside the handler restore what it changed.
bool guarded(const std::function<void()> &handler);

// Runs f when the scope ends, however it ends.
template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : m_f(std::move(f)) {}
    ~ScopeExit() { m_f(); }
    ScopeExit(const ScopeExit &) = delete;
    ScopeExit &operator=(const ScopeExit &) = delete;

private:
    F m_f;
};
template <typename F>
ScopeExit(F) -> ScopeExit<F>;

} // namespace lectoria
