#include "testsupport.h"
#include "atomicfile.h"
#include "gbk.h"
#include "demodata.h"
#include "errors.h"
#include "libdb.h"
#include "tdstestserver.h"
#include "text.h"

#include <QDir>
#include <QRegularExpression>
#include <QFileInfo>
#include <QFile>
#include <QSqlDatabase>
#include <QStringDecoder>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace lectoria::test {

bool permissionsBind()
{
#ifdef Q_OS_WIN
    return false;
#else
    return ::geteuid() != 0;
#endif
}


TestDatabase::TestDatabase() : TestDatabase(Options()) {}

TestDatabase::TestDatabase(const Options &o)
{
    m_path = m_dir.filePath(QStringLiteral("www.db"));
    m_connection = QStringLiteral("fixture-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(m_path);
    if (!db.open())
        throw DbError(db.lastError().text());
    // A throw-away file: no waiting for the disk while the fixture is built.
    QSqlQuery(db).exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    QSqlQuery(db).exec(QStringLiteral("PRAGMA synchronous=OFF"));
    demo::createSchema(db, o.volumeColumn);
    if (o.categories)
        demo::addCategories(db);
    if (o.operators)
        demo::addOperators(db, QDate(2024, 1, 1));
    for (const CatalogueKind &k : catalogueKinds())
        if (o.recordsPerKind > 0)
            demo::addRecords(db, k.kind, o.recordsPerKind, QDate::currentDate(), 180, 3);
    if (o.marginsTable) {
        exec(QStringLiteral("create table lib_prtblank (pb_no integer not null primary key autoincrement, "
                            "pb_default int default(0), pb_top int default(0), pb_bottom int default(0), "
                            "pb_left int default(0), pb_right int default(0))"));
        exec(QStringLiteral("insert into lib_prtblank (pb_default,pb_top,pb_bottom,pb_left,pb_right) values (0,10,10,10,10)"));
    }
    if (o.open)
        openAsLibDB();
}

TestDatabase::~TestDatabase()
{
    LibDB::close();
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        if (db.isOpen()) db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

bool TestDatabase::overTheWire()
{
    static const bool wire = qEnvironmentVariable("LECTORIA_TEST_BACKEND") == QLatin1String("freetds");
    return wire;
}

TdsTestServer *TestDatabase::server() const
{
    if (!overTheWire())
        return nullptr;
    if (!m_server) {
        m_server = std::make_unique<TdsTestServer>(m_path);
        if (!m_server->started())
            throw DbError(QStringLiteral("TDS test server: ") + m_server->error());
    }
    return m_server.get();
}

QString TestDatabase::odbcName() const
{
    if (const TdsTestServer *s = server())
        return s->connectionString();
    return QStringLiteral("sqlite:") + m_path;
}

void TestDatabase::openAsLibDB()
{
    ConnectionParams p;
    p.odbcName = odbcName();
    QString error;
    if (!LibDB::open(p, &error))
        throw DbError(error);
}

void TestDatabase::exec(const QString &sql, const QVariantList &values)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    bool ok = q.prepare(sql);
    for (const QVariant &v : values) q.addBindValue(v);
    ok = ok && q.exec();
    if (!ok)
        throw DbError(q.lastError().text() + QStringLiteral(": ") + sql);
}

QVariant TestDatabase::scalar(const QString &sql)
{
    const QVector<QVariantList> r = rows(sql);
    return r.isEmpty() || r.constFirst().isEmpty() ? QVariant() : r.constFirst().constFirst();
}

QVector<QVariantList> TestDatabase::rows(const QString &sql)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    if (!q.exec(sql))
        throw DbError(q.lastError().text() + QStringLiteral(": ") + sql);
    QVector<QVariantList> out;
    while (q.next()) {
        QVariantList row;
        for (int i = 0; i < q.record().count(); ++i) row << q.value(i);
        out << row;
    }
    return out;
}

void TestDatabase::addOperator(const QString &code, const QString &name, const QString &pass, const QString &rights19)
{
    QVariantList v{code, name, pass};
    for (int i = 0; i < 19; ++i) v << (i < rights19.size() ? QString(rights19.at(i)) : QStringLiteral("0"));
    QString marks = QStringLiteral("?,?,?");
    for (int i = 0; i < 19; ++i) marks += QStringLiteral(",?");
    exec(QStringLiteral("insert into www_admin values(%1,null)").arg(marks), v);
}

void TestDatabase::addRecord(Kind kind, const QVariantMap &columns)
{
    QStringList names, marks;
    QVariantList values;
    for (auto it = columns.begin(); it != columns.end(); ++it) {
        names << it.key();
        marks << QStringLiteral("?");
        values << it.value();
    }
    exec(QStringLiteral("insert into %1 (%2) values (%3)")
             .arg(kindInfo(kind).recordTable, names.join(QLatin1Char(',')), marks.join(QLatin1Char(','))),
         values);
}

TestSettings::TestSettings()
{
    m_path = m_dir.filePath(QStringLiteral("Marrowind/Lectoria.conf"));
    m_hadPrevious = qEnvironmentVariableIsSet("LECTORIA_SETTINGS");
    m_previous = qgetenv("LECTORIA_SETTINGS");
    qputenv("LECTORIA_SETTINGS", QFile::encodeName(m_path));
}

TestSettings::~TestSettings()
{
    if (m_hadPrevious) qputenv("LECTORIA_SETTINGS", m_previous);
    else qunsetenv("LECTORIA_SETTINGS");
}

void TestSettings::writeRaw(const QByteArray &content)
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QFile f(m_path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw FileError(f.errorString());
    f.write(content);
}

void TestSettings::write(const QMap<QString, QString> &values)
{
    QByteArray c = "[General]\n";
    for (auto it = values.begin(); it != values.end(); ++it)
        c += (it.key() + QLatin1Char('=') + it.value() + QLatin1Char('\n')).toUtf8();
    writeRaw(c);
}

void TestSettings::remove() { QFile::remove(m_path); }

ScriptedPrompt::ScriptedPrompt() { installPrompt(this); }

ScriptedPrompt::~ScriptedPrompt() { installPrompt(nullptr); }

void ScriptedPrompt::message(const QString &caption, const QString &text, PromptIcon icon)
{
    shown.append({caption, text, icon});
}

bool ScriptedPrompt::ask(const QString &caption, const QString &text)
{
    shown.append({caption, text, PromptIcon::Question});
    return answers.isEmpty() ? false : answers.takeFirst();
}

QString ScriptedPrompt::saveFileName(const FileRequest &request)
{
    requests.append(request);
    return files.isEmpty() ? QString() : files.takeFirst();
}

QString ScriptedPrompt::openFileName(const FileRequest &request)
{
    requests.append(request);
    return files.isEmpty() ? QString() : files.takeFirst();
}

QStringList ScriptedPrompt::texts() const
{
    QStringList t;
    for (const Shown &s : shown) t << s.text;
    return t;
}

void ScriptedPrompt::clear()
{
    shown.clear();
    requests.clear();
}

namespace {
QStringList goldenLines(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = Gbk::decode(bytes);
    return text.split(QLatin1Char('\n'));
}
} // namespace

QString goldenDifference(const QByteArray &made, const QString &goldenPath)
{
    if (qEnvironmentVariableIsSet("LECTORIA_WRITE_GOLDEN")) {
        QFile out(goldenPath);
        if (!out.open(QIODevice::WriteOnly) || out.write(made) != made.size())
            return QStringLiteral("cannot rewrite %1: %2").arg(goldenPath, out.errorString());
    }
    QFile file(goldenPath);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("no golden file %1: %2").arg(goldenPath, file.errorString());
    const QByteArray golden = file.readAll();
    if (made == golden)
        return QString();
    const QStringList a = goldenLines(made), b = goldenLines(golden);
    QString out = QStringLiteral("differs from %1 (%2 lines made, %3 golden)").arg(goldenPath).arg(a.size()).arg(b.size());
    int shown = 0;
    for (qsizetype i = 0; i < qMax(a.size(), b.size()) && shown < 5; ++i) {
        const QString x = i < a.size() ? a.at(i) : QStringLiteral("(none)");
        const QString y = i < b.size() ? b.at(i) : QStringLiteral("(none)");
        if (x == y)
            continue;
        out += QStringLiteral("\n  line %1\n    made:   %2\n    golden: %3").arg(i + 1).arg(x, y);
        ++shown;
    }
    if (shown == 0)
        out += QStringLiteral("\n  the same lines, other bytes (line ends or encoding)");
    return out;
}

} // namespace lectoria::test
