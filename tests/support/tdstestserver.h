#pragma once
#include "libdb.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace lectoria::test {

// A file as the host's programs and libraries name it: under Wine, where
// unixODBC, its drivers and the TDS test server run on the Linux host, the
// host's path of a Windows one; elsewhere the path itself.
QString hostPath(const QString &path);

// The TDS test server (tests/support/tds/tdsserver.py) serving an SQLite
// database file over FreeTDS's wire on a free loopback port, for the lifetime
// of this object. Check unavailable() first and QSKIP with its reason when
// python3 or FreeTDS's ODBC driver is missing; started() says whether the
// server came up (error() says why not).
class TdsTestServer {
public:
    // extraArguments go to the server's command line after the database
    // (options a test needs from the start, such as a certificate).
    explicit TdsTestServer(const QString &databaseFile, const QStringList &extraArguments = {});
    ~TdsTestServer();
    TdsTestServer(const TdsTestServer &) = delete;
    TdsTestServer &operator=(const TdsTestServer &) = delete;

    // Why the server cannot run on this machine; empty when it can.
    static QString unavailable();
    // FreeTDS's ODBC driver library; empty when not installed.
    static QString driverPath();

    bool started() const { return m_port > 0; }
    QString error() const { return m_error; }
    int port() const { return m_port; }

    // A complete ODBC connection string, credentials included.
    QString connectionString() const;
    // What LibDB takes: the connection string without credentials, which
    // come as the settings' user and password.
    ConnectionParams params() const;
    // Opens the server's database as LibDB; throws DbError when it cannot.
    void openAsLibDB() const;

    // One line per request the server received since the last clear:
    // "login", "batch <first words>", "rpc <procedure> <first words>",
    // "tm <begin|commit|rollback|save>", "attention".
    QStringList requests() const;
    int countRequests(const QString &prefix) const;
    void clearRequests();

    // Sends one control command (a line of words, as tdsserver.py's CONTROL
    // table names them) and waits up to 10 s for its answer. Returns the
    // answer's text after "OK"; throws DbError on "ERR ..." or no answer, so
    // a test never runs on in a state it did not get.
    QString control(const QString &command);
    // The server's process, for tests that stop (SIGSTOP) or kill it.
    qint64 processId() const { return m_process.processId(); }

private:
#ifdef Q_OS_WIN
    void startOverControlConnection(const QStringList &arguments);
#endif
    QByteArray controlLine(const QByteArray &command);

    QTemporaryDir m_dir;
    QProcess m_process;
    // Under Wine the server is a host program that cannot share pipes with
    // this one: its commands then go over a loopback connection (a SOCKET).
    quintptr m_control = ~quintptr(0);
    QString m_logPath;
    QString m_error;
    int m_port = 0;
};

} // namespace lectoria::test
