#pragma once
#include "kinds.h"
#include "prompt.h"

#include <QDate>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>
#include <QVector>

#include <memory>

namespace lectoria::test {

class TdsTestServer;

// Whether a file's permission bits stop this process: not for root, and not
// on Windows, whose access lists the bits do not describe.
bool permissionsBind();

// A real SQLite database with the site's schema in a temporary folder, opened
// as LibDB. Each test that needs one makes its own.
class TestDatabase {
public:
    struct Options {
        bool volumeColumn = true; // an older e-book table without li_number when false
        bool categories = true;   // the demo categories of every kind
        bool operators = true;    // admin, lib01 (data rights), guest (no rights)
        int recordsPerKind = 0;   // demo records of every kind
        bool marginsTable = false; // lib_prtblank with its default row
        bool open = true;          // open it as LibDB
    };
    TestDatabase();
    explicit TestDatabase(const Options &o);
    ~TestDatabase();

    QString path() const { return m_path; }
    QString folder() const { return m_dir.path(); }
    // The settings value that names this database: the file itself, or with
    // LECTORIA_TEST_BACKEND=freetds the TDS test server serving it, reached
    // through unixODBC, FreeTDS and Qt's ODBC driver (started on first use).
    QString odbcName() const;
    void openAsLibDB();
    // True when the fixtures run over the TDS test server.
    static bool overTheWire();
    // The server serving this database, started on first use; nullptr on SQLite.
    TdsTestServer *server() const;

    // Runs a statement on the database through a connection of its own
    // (fixture set-up and checks; independent of LibDB).
    void exec(const QString &sql, const QVariantList &values = {});
    QVariant scalar(const QString &sql);
    QVector<QVariantList> rows(const QString &sql);

    void addOperator(const QString &code, const QString &name, const QString &pass, const QString &rights19);
    // A record with the given column values; li_logtime as "yyyy-mm-dd hh:mm:ss".
    void addRecord(Kind kind, const QVariantMap &columns);

private:
    QTemporaryDir m_dir;
    QString m_path;
    QString m_connection;
    mutable std::unique_ptr<TdsTestServer> m_server;
};

// Points the machine settings at a file in a temporary folder (LECTORIA_SETTINGS)
// for the lifetime of this object.
class TestSettings {
public:
    TestSettings();
    ~TestSettings();
    QString path() const { return m_path; }
    void writeRaw(const QByteArray &content);
    void write(const QMap<QString, QString> &values); // [General] NAME=value lines
    void remove();

private:
    QTemporaryDir m_dir;
    QString m_path;
    QByteArray m_previous;
    bool m_hadPrevious;
};

// Answers prompts from a script and records every one; installed for its lifetime.
class ScriptedPrompt : public Prompt {
public:
    struct Shown {
        QString caption;
        QString text;
        PromptIcon icon;
    };
    ScriptedPrompt();
    ~ScriptedPrompt() override;

    void message(const QString &caption, const QString &text, PromptIcon icon) override;
    bool ask(const QString &caption, const QString &text) override;
    QString saveFileName(const FileRequest &request) override;
    QString openFileName(const FileRequest &request) override;

    // Answers used in order; once used up, questions get No and file dialogs are cancelled.
    QVector<bool> answers;
    QStringList files;

    QVector<Shown> shown;          // messages and questions, in order
    QVector<FileRequest> requests; // file dialogs, in order
    QStringList texts() const;
    void clear();

};

// Compares what a test made with its golden file: empty when they are the
// same bytes, otherwise a readable account of the difference (the first
// lines that differ, decoded from UTF-8 or GBK, and the line counts).
// LECTORIA_WRITE_GOLDEN=1 rewrites the golden file with the bytes instead.
QString goldenDifference(const QByteArray &made, const QString &goldenPath);

} // namespace lectoria::test

// Fails the test with the difference when `made` is not its golden file.
#define LECTORIA_COMPARE_GOLDEN(made, goldenPath)                                                 \
    do {                                                                                          \
        const QString goldenDifference_ = lectoria::test::goldenDifference((made), (goldenPath)); \
        QVERIFY2(goldenDifference_.isEmpty(), qPrintable(goldenDifference_));                     \
    } while (false)
