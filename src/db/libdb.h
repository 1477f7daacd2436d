#pragma once
#include "dialect.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

namespace lectoria {

// What the machine settings say about the connection.
struct ConnectionParams {
    // An ODBC data source name, a full ODBC connection string ("DRIVER=...;..."),
    // or "sqlite:" and a path for the embedded engine (relative to the folder of
    // the settings file).
    QString odbcName = QStringLiteral("wwwODBC");
    bool hasCredentials = false; // the key exists: user name and password are passed
    QString user;
    QString password;
};

// The one database connection of the run, named LibDB, shared by every window.
class LibDB {
public:
    static constexpr const char *Name = "LibDB";

    // Reads the connection parameters from the machine settings, unprotecting
    // the stored user name and password. *settingsError receives a message when
    // the settings exist but cannot be read.
    static ConnectionParams paramsFromSettings(QString *settingsError = nullptr);

    // The ODBC connection string for a data source name or connection string,
    // with the credentials quoted so that ";" or braces in them are kept.
    static QString odbcConnectionString(const ConnectionParams &p);

    // Opens the connection. False, with the reason in *error, when it cannot be made.
    static bool open(const ConnectionParams &p, QString *error = nullptr);
    static void close();
    static bool isOpen();
    static QSqlDatabase database();
    static Dialect dialect();

    // Runs one statement, given as lines joined by line breaks, on a
    // forward-only query. A failing statement throws DbError with the
    // database's own text.
    static QSqlQuery exec(const QStringList &lines);
    static QSqlQuery exec(const QString &sql);
    // With values bound to the "?" placeholders, for text typed by operators
    // or read from files.
    static QSqlQuery exec(const QString &sql, const QVariantList &values);
    // The first column of the first row, or an invalid value when there is no row.
    static QVariant scalar(const QString &sql);

    // Date-times come back as text from SQLite and as date-times from ODBC;
    // everything above this layer gets them in one form.
    static QDateTime toDateTime(const QVariant &v);

    // Every statement sent, as the console wrote it (before adaptation to the
    // dialect). For tests; nullptr switches logging off.
    static void setStatementLog(QStringList *log);
};

} // namespace lectoria
