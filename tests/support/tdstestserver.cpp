#include "tdstestserver.h"
#include "errors.h"

#include <cstring>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <windows.h>
#endif

namespace lectoria::test {
namespace {

#ifdef Q_OS_WIN
// A Windows build reaches the server only under Wine, whose ODBC hands the
// calls to the host's unixODBC and FreeTDS; the server is then a host
// program started through Wine, and it needs the host's form of each path.
template <typename Fn>
Fn wineFunction(const char *name)
{
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const FARPROC f = kernel ? GetProcAddress(kernel, name) : nullptr;
    Fn fn = nullptr;
    static_assert(sizeof fn == sizeof f);
    std::memcpy(&fn, &f, sizeof fn);
    return fn;
}
using UnixFileName = char *(CDECL *)(LPCWSTR);
UnixFileName wineUnixFileName() { return wineFunction<UnixFileName>("wine_get_unix_file_name"); }

// A host file as this program sees it (a drive letter and backslashes).
QString fromHost(const QString &unixPath)
{
    using DosFileName = WCHAR *(CDECL *)(LPCSTR);
    const auto toDos = wineFunction<DosFileName>("wine_get_dos_file_name");
    if (!toDos || unixPath.isEmpty())
        return QString();
    WCHAR *dos = toDos(unixPath.toUtf8().constData());
    if (!dos)
        return QString();
    const QString result = QString::fromWCharArray(dos);
    HeapFree(GetProcessHeap(), 0, dos);
    return result;
}
#endif

QString python()
{
    const QString configured = QStringLiteral(LECTORIA_PYTHON3);
#ifdef Q_OS_WIN
    // The host's python3, through Wine's drive of the host's root; Windows
    // takes only named extensions for programs, so "exists" is the test.
    const QString onHost = fromHost(configured);
    return !onHost.isEmpty() && QFileInfo::exists(onHost) ? onHost : QString();
#else
    if (!configured.isEmpty() && QFileInfo(configured).isExecutable())
        return configured;
    return QStandardPaths::findExecutable(QStringLiteral("python3"));
#endif
}

} // namespace

#ifdef Q_OS_WIN
QString hostPath(const QString &path)
{
    const UnixFileName toUnix = wineUnixFileName();
    if (!toUnix)
        return path;
    const std::wstring native = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()).toStdWString();
    char *unixName = toUnix(native.c_str());
    if (!unixName)
        return path;
    const QString result = QString::fromUtf8(unixName);
    HeapFree(GetProcessHeap(), 0, unixName);
    return result;
}
#else
QString hostPath(const QString &path) { return path; }
#endif

QString TdsTestServer::driverPath()
{
    const QStringList candidates{QStringLiteral(LECTORIA_TDSODBC), QStringLiteral("/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so"),
                                 QStringLiteral("/usr/lib/aarch64-linux-gnu/odbc/libtdsodbc.so"),
                                 QStringLiteral("/usr/lib/odbc/libtdsodbc.so"), QStringLiteral("/usr/local/lib/libtdsodbc.so")};
    // The connection string names the host's file: unixODBC loads it, under
    // Wine too.
    for (const QString &c : candidates) {
#ifdef Q_OS_WIN
        const QString seen = fromHost(c);
#else
        const QString &seen = c;
#endif
        if (!c.isEmpty() && QFileInfo(seen).isFile())
            return c;
    }
    return QString();
}

QString TdsTestServer::unavailable()
{
#ifdef Q_OS_WIN
    if (!wineUnixFileName())
        return QStringLiteral("the TDS test server runs on the Linux host: a Windows build reaches it only under Wine");
#endif
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
    const QStringList arguments = QStringList{QStringLiteral(LECTORIA_TDSSERVER), hostPath(databaseFile),
                                              QStringLiteral("--log"), hostPath(m_logPath)}
        + extraArguments;
#ifdef Q_OS_WIN
    startOverControlConnection(arguments);
#else
    m_process.start(python(), arguments);
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
#endif
}

TdsTestServer::~TdsTestServer()
{
#ifdef Q_OS_WIN
    // The server ends when its control connection closes.
    if (m_control != ~quintptr(0))
        closesocket(SOCKET(m_control));
#endif
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
    const QString answer = QString::fromUtf8(controlLine(command.toUtf8())).trimmed();
    if (answer == QLatin1String("OK"))
        return QString();
    if (answer.startsWith(QLatin1String("OK ")))
        return answer.mid(3);
    throw DbError(QStringLiteral("TDS test server control \"%1\": %2")
                      .arg(command, answer.isEmpty() ? QStringLiteral("no answer") : answer));
}

#ifdef Q_OS_WIN
void TdsTestServer::startOverControlConnection(const QStringList &arguments)
{
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        m_error = QStringLiteral("Winsock did not start");
        return;
    }
    const QString portFile = m_dir.filePath(QStringLiteral("control"));
    // The server stands in for SQL Server on this Windows machine: a backup
    // path it is sent names a folder on one of Wine's drives.
    QStringList drives;
    const DWORD letters = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        const QString root = QChar(QLatin1Char('A' + i)) + QStringLiteral(":/");
        const QString host = (letters & (1u << i)) ? hostPath(root) : QString();
        if (host.startsWith(QLatin1Char('/')))
            drives << QStringLiteral("--drive") << QChar(QLatin1Char('A' + i)) + QLatin1Char('=') + host;
    }
    qint64 pid = 0;
    if (!QProcess::startDetached(python(),
                                 arguments + drives + QStringList{QStringLiteral("--control-file"), hostPath(portFile)},
                                 QString(), &pid)) {
        m_error = QStringLiteral("the TDS test server did not start");
        return;
    }
    // The file appears whole (written aside, then renamed): "PORT n CONTROL m".
    QByteArray line;
    const QDeadlineTimer deadline(90000);
    while (!deadline.hasExpired()) {
        QFile f(portFile);
        if (f.open(QIODevice::ReadOnly) && (line = f.readAll()).endsWith('\n'))
            break;
        Sleep(50);
    }
    const QList<QByteArray> words = line.simplified().split(' ');
    const int port = words.size() == 4 && words[0] == "PORT" ? words[1].toInt() : 0;
    const int controlPort = words.size() == 4 && words[2] == "CONTROL" ? words[3].toInt() : 0;
    if (port <= 0 || controlPort <= 0) {
        m_error = QStringLiteral("the TDS test server gave no port: ") + QString::fromUtf8(line);
        return;
    }
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(u_short(controlPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s == INVALID_SOCKET || ::connect(s, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        if (s != INVALID_SOCKET)
            closesocket(s);
        m_error = QStringLiteral("no control connection to the TDS test server (Winsock error %1)").arg(WSAGetLastError());
        return;
    }
    m_control = quintptr(s);
    m_port = port;
}

QByteArray TdsTestServer::controlLine(const QByteArray &command)
{
    const SOCKET s = SOCKET(m_control);
    const QByteArray out = command + '\n';
    if (send(s, out.constData(), int(out.size()), 0) != int(out.size()))
        return QByteArray();
    QByteArray line;
    const QDeadlineTimer deadline(60000); // only a failure waits it out
    while (!line.endsWith('\n') && !deadline.hasExpired()) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        const qint64 left = qMax<qint64>(1, deadline.remainingTime());
        timeval wait{long(left / 1000), long(left % 1000) * 1000};
        if (select(0, &readable, nullptr, nullptr, &wait) <= 0)
            continue;
        char c;
        if (recv(s, &c, 1, 0) != 1)
            break;
        line += c;
    }
    return line;
}
#else
QByteArray TdsTestServer::controlLine(const QByteArray &command)
{
    m_process.write(command + '\n');
    QByteArray line;
    const QDeadlineTimer deadline(60000); // only a failure waits it out
    while (!line.endsWith('\n') && !deadline.hasExpired() && m_process.state() == QProcess::Running) {
        if (m_process.canReadLine())
            line = m_process.readLine();
        else
            m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    return line;
}
#endif

void TdsTestServer::clearRequests()
{
    QFile f(m_logPath);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

} // namespace lectoria::test
