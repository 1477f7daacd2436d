// Makes the embedded demo database (the web site's tables with realistic
// records) and, on request, a settings file that names it.
#include "demodata.h"
#include "errors.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lectoria-makedemo"));
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("Makes the Lectoria demo database."));
    p.addHelpOption();
    p.addPositionalArgument(QStringLiteral("database"), QStringLiteral("SQLite file to create (replaced if present)"));
    QCommandLineOption records(QStringLiteral("records"), QStringLiteral("records per kind (default 300)"), QStringLiteral("n"), QStringLiteral("300"));
    QCommandLineOption kind(QStringLiteral("kind"), QStringLiteral("only this kind (shdh, dzts, bklw, tpzl, zxyy, zxsp)"), QStringLiteral("kind"));
    QCommandLineOption settings(QStringLiteral("settings"), QStringLiteral("also write a settings file naming the database"), QStringLiteral("file"));
    QCommandLineOption school(QStringLiteral("school"), QStringLiteral("school name for the settings file"), QStringLiteral("name"),
                              QStringLiteral("砚山实验中学"));
    p.addOptions({records, kind, settings, school});
    p.process(app);
    if (p.positionalArguments().size() != 1)
        p.showHelp(1);

    const QString path = QFileInfo(p.positionalArguments().constFirst()).absoluteFilePath();
    bool ok = false;
    const int n = p.value(records).toInt(&ok);
    if (!ok || n < 0) {
        std::fprintf(stderr, "--records takes a whole number\n");
        return 1;
    }
    QElapsedTimer t;
    t.start();
    try {
        QDir().mkpath(QFileInfo(path).absolutePath());
        lectoria::demo::makeDatabase(path, n, QDate::currentDate(), p.value(kind));
    } catch (const lectoria::Error &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 3;
    }
    if (p.isSet(settings)) {
        QFile f(p.value(settings));
        QDir().mkpath(QFileInfo(f).absolutePath());
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(f.fileName()), qPrintable(f.errorString()));
            return 4;
        }
        const QString rel = QFileInfo(f).absoluteDir().relativeFilePath(path);
        QTextStream out(&f);
        out << "[General]\nODBCNAME=sqlite:" << rel << "\nUSERNAME=\nPASSWORD=\nINPUTTYPE=\nSCHOOLNAME="
            << p.value(school) << "\n";
    }
    std::printf("%s: %d records per kind in %.2f s\n", qPrintable(path), n, t.elapsed() / 1000.0);
    return 0;
}
