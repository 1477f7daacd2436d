#pragma once
#include <QMap>
#include <QString>

namespace lectoria {

// The machine's settings key SOFTWARE\Marrowind\Lectoria under
// HKEY_LOCAL_MACHINE. On Windows it is the registry itself (unless
// LECTORIA_SETTINGS names a settings file, as elsewhere). Elsewhere the key
// is the INI file /etc/xdg/Marrowind/Lectoria.conf (its folder is the parent
// key SOFTWARE\Marrowind), or the file named by LECTORIA_SETTINGS; its values
// are plain NAME=value lines of the [General] group, UTF-8, so that an
// administrator can edit them by hand.
class MachineSettings {
public:
    static QString keyName() { return QStringLiteral("SOFTWARE\\Marrowind\\Lectoria"); }
    static QString parentKeyName() { return QStringLiteral("SOFTWARE\\Marrowind"); }

    // Where the key lives (the file on Linux).
    static QString location();
    // The folder a relative path among the values starts from: the settings
    // file's, or the program's for the registry.
    static QString folder();
    static bool keyExists();

    // Reads the key. A missing value reads as empty text. When the key exists
    // but cannot be read, *error receives a message naming the file.
    static QMap<QString, QString> readAll(QString *error = nullptr);
    static QString value(const QString &name);

    // QUERYTIMEOUT: how many seconds a database server may stay silent (send
    // nothing) in the middle of a statement before it is given up on; 120
    // when the value is missing or not a whole number from 1 to 86400.
    static int queryTimeout();

    // LOCKTIMEOUT: how many seconds a statement waits for data that another
    // user of the database holds locked before it gives up. 30 when missing
    // or not a whole number from 0 to 86400 (no setting waits for ever).
    static int lockTimeoutSeconds();

    // Creates the parent key and the key when they are missing. Returns the
    // name of the key that could not be created, or empty on success.
    static QString createKeys();

    // Opens the key for writing and writes the values, keeping every other
    // line. False when the key cannot be opened for writing.
    static bool write(const QMap<QString, QString> &values);
};

} // namespace lectoria
