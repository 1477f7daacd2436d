#include "machinesettings.h"
#include "registrykey.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

namespace lectoria {

// The settings file: Linux's stand-in for the registry key, and on every
// system the file LECTORIA_SETTINGS names.
namespace {

QString settingsFile()
{
    const QString env = qEnvironmentVariable("LECTORIA_SETTINGS");
    if (!env.isEmpty())
        return env;
    return QStringLiteral("/etc/xdg/Marrowind/Lectoria.conf");
}

bool isGroupLine(const QString &t) { return t.startsWith(QLatin1Char('[')) && t.endsWith(QLatin1Char(']')); }
bool isGeneral(const QString &t) { return t.compare(QLatin1String("[General]"), Qt::CaseInsensitive) == 0; }

} // namespace

QString MachineSettings::location() { return registrykey::inUse() ? registrykey::location() : settingsFile(); }

QString MachineSettings::folder()
{
    if (registrykey::inUse())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(settingsFile()).absolutePath();
}

bool MachineSettings::keyExists() { return registrykey::inUse() ? registrykey::keyExists() : QFileInfo(settingsFile()).isFile(); }

QMap<QString, QString> MachineSettings::readAll(QString *error)
{
    if (registrykey::inUse())
        return registrykey::readAll(error);
    if (error) error->clear();
    QMap<QString, QString> values;
    QFile f(settingsFile());
    if (!f.exists())
        return values;
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("无法读取设置文件 %1：%2").arg(f.fileName(), f.errorString());
        return values;
    }
    // Values before any group line count as [General], as a hand-written file
    // may omit the heading; other groups are left to whoever wrote them.
    bool inGeneral = true;
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    for (const QString &raw : lines) {
        const QString t = raw.trimmed();
        if (t.isEmpty() || t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#')))
            continue;
        if (isGroupLine(t)) {
            inGeneral = isGeneral(t);
            continue;
        }
        const int eq = t.indexOf(QLatin1Char('='));
        if (!inGeneral || eq <= 0)
            continue;
        values.insert(t.left(eq).trimmed().toUpper(), t.mid(eq + 1));
    }
    return values;
}

QString MachineSettings::createKeys()
{
    if (registrykey::inUse())
        return registrykey::createKeys();
    const QFileInfo file(settingsFile());
    QDir parent = file.absoluteDir();
    if (!parent.exists() && !QDir().mkpath(parent.absolutePath()))
        return parentKeyName();
    if (!file.exists()) {
        // The file will hold the database login: for its owner's eyes only.
        QFile f(file.absoluteFilePath());
        if (!f.open(QIODevice::WriteOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            return keyName();
        f.write("[General]\n");
    }
    return QString();
}

bool MachineSettings::write(const QMap<QString, QString> &values)
{
    if (registrykey::inUse())
        return registrykey::write(values);
    const QString path = settingsFile();
    QFile in(path);
    QStringList lines;
    if (in.open(QIODevice::ReadOnly))
        lines = QString::fromUtf8(in.readAll()).split(QLatin1Char('\n'));
    in.close();
    while (!lines.isEmpty() && lines.constLast().trimmed().isEmpty())
        lines.removeLast();

    QMap<QString, QString> pending = values;
    int generalEnd = -1; // index after the last line of the [General] group
    bool inGeneral = true;
    bool sawGeneral = false;
    for (int i = 0; i < lines.size(); ++i) {
        const QString t = lines.at(i).trimmed();
        if (isGroupLine(t)) {
            inGeneral = isGeneral(t);
            sawGeneral = sawGeneral || inGeneral;
            if (inGeneral) generalEnd = i + 1;
            continue;
        }
        if (!inGeneral)
            continue;
        if (!t.isEmpty()) generalEnd = i + 1;
        const int eq = t.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString name = t.left(eq).trimmed().toUpper();
        if (pending.contains(name)) {
            lines[i] = name + QLatin1Char('=') + pending.take(name);
        }
    }
    QStringList added;
    for (auto it = pending.begin(); it != pending.end(); ++it)
        added << it.key() + QLatin1Char('=') + it.value();
    if (!added.isEmpty()) {
        if (generalEnd < 0) {
            if (sawGeneral || lines.isEmpty() || isGroupLine(lines.constFirst().trimmed())) {
                added.prepend(QStringLiteral("[General]"));
                generalEnd = 0;
            } else {
                generalEnd = lines.size();
            }
        }
        for (int k = 0; k < added.size(); ++k)
            lines.insert(generalEnd + k, added.at(k));
    }

    const bool existed = QFileInfo::exists(path);
    QSaveFile out(path);
    out.setDirectWriteFallback(true);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    // A file made here holds the database login: for its owner's eyes only.
    // One that exists keeps the permissions its administrator gave it.
    if (!existed)
        out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    out.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    return out.commit();
}

QString MachineSettings::value(const QString &name) { return readAll().value(name.toUpper()); }

int MachineSettings::queryTimeout()
{
    bool ok = false;
    const int seconds = value(QStringLiteral("QUERYTIMEOUT")).trimmed().toInt(&ok);
    return ok && seconds >= 1 && seconds <= 86400 ? seconds : 120;
}

int MachineSettings::lockTimeoutSeconds()
{
    bool ok = false;
    const int seconds = value(QStringLiteral("LOCKTIMEOUT")).trimmed().toInt(&ok);
    return ok && seconds >= 0 && seconds <= 86400 ? seconds : 30;
}

} // namespace lectoria
