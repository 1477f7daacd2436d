#include "tdstestserver.h"
#include "errors.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace lectoria::test {
namespace {

QString python()
{
    const QString configured = QStringLiteral(LECTORIA_PYTHON3);
    if (!configured.isEmpty() && QFileInfo(configured).isExecutable())
        return configured;
    return QStandardPaths::findExecutable(QStringLiteral("python3"));
}

} // namespace

QString TdsTestServer::driverPath()
{
    const QStringList candidates{QStringLiteral(LECTORIA_TDSODBC), QStringLiteral("/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so"),
                                 QStringLiteral("/usr/lib/aarch64-linux-gnu/odbc/libtdsodbc.so"),
                                 QStringLiteral("/usr/lib/odbc/libtdsodbc.so"), QStringLiteral("/usr/local/lib/libtdsodbc.so")};
    for (const QString &c : candidates)
        if (!c.isEmpty() && QFileInfo(c).isFile())
            return c;
    return QString();
}

QString TdsTestServer::unavailable()
{
    if (python().isEmpty())
        return QStringLiteral("python3 is not installed (scripts/lectoria installs it)");
    if (driverPath().isEmpty())
        return QStringLiteral("FreeTDS's ODBC driver (tdsodbc) is not installed (scripts/lectoria installs it)");
    return QString();
}

TdsTestServer::TdsTestServer(const QString &databaseFile, const QStringList &extraArguments)
{
    const QString reason = unavailable();
    if (!reason.isEmpty()) {
        m_error = reason;
        return;
    }
    m_logPath = m_dir.filePath(QStringLiteral("requests.log"));
    // The server's own complaints (a traceback) show in the test's output.
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(python(), QStringList{QStringLiteral(LECTORIA_TDSSERVER), databaseFile, QStringLiteral("--log"), m_logPath}
                                  + extraArguments);
    if (!m_process.waitForStarted(10000)) {
        m_error = QStringLiteral("the TDS test server did not start: ") + m_process.errorString();
        return;
    }
    // Its first line is "PORT <n>".
    QByteArray line;
    const QDeadlineTimer deadline(90000); // python starting on a busy machine
    while (!line.endsWith('\n') && !deadline.hasExpired() && m_process.state() == QProcess::Running) {
        if (!m_process.canReadLine() && !m_process.waitForReadyRead(int(deadline.remainingTime())))
            continue;
        if (m_process.canReadLine())
            line = m_process.readLine();
    }
    if (line.startsWith("PORT "))
        m_port = line.mid(5).trimmed().toInt();
    if (m_port <= 0)
        m_error = QStringLiteral("the TDS test server gave no port: ")
            + QString::fromLocal8Bit(line + m_process.readAllStandardError());
}

TdsTestServer::~TdsTestServer()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    // The server ends when its stdin closes.
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString TdsTestServer::connectionString() const
{
    return params().odbcName + QStringLiteral(";UID=sa;PWD=x");
}

ConnectionParams TdsTestServer::params() const
{
    ConnectionParams p;
    p.odbcName = QStringLiteral("DRIVER={%1};SERVER=127.0.0.1;PORT=%2;DATABASE=www;TDS_Version=7.4;ClientCharset=UTF-8")
                     .arg(driverPath())
                     .arg(m_port);
    p.hasCredentials = true;
    p.user = QStringLiteral("sa");
    p.password = QStringLiteral("x");
    return p;
}

void TdsTestServer::openAsLibDB() const
{
    if (!started())
        throw DbError(m_error);
    QString error;
    if (!LibDB::open(params(), &error))
        throw DbError(error);
}

QStringList TdsTestServer::requests() const
{
    QFile f(m_logPath);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

int TdsTestServer::countRequests(const QString &prefix) const
{
    int n = 0;
    for (const QString &line : requests())
        if (line.startsWith(prefix))
            ++n;
    return n;
}

QString TdsTestServer::control(const QString &command)
{
    if (!started())
        throw DbError(m_error);
    m_process.write(command.toUtf8() + '\n');
    QByteArray line;
    const QDeadlineTimer deadline(60000); // only a failure waits it out
    while (!line.endsWith('\n') && !deadline.hasExpired() && m_process.state() == QProcess::Running) {
        if (m_process.canReadLine())
            line = m_process.readLine();
        else
            m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    const QString answer = QString::fromUtf8(line).trimmed();
    if (answer == QLatin1String("OK"))
        return QString();
    if (answer.startsWith(QLatin1String("OK ")))
        return answer.mid(3);
    throw DbError(QStringLiteral("TDS test server control \"%1\": %2")
                      .arg(command, answer.isEmpty() ? QStringLiteral("no answer") : answer));
}

void TdsTestServer::clearRequests()
{
    QFile f(m_logPath);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

} // namespace lectoria::test
