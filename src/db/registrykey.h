#pragma once
#include <QMap>
#include <QString>

// The machine's settings key in the Windows registry, under
// HKEY_LOCAL_MACHINE. Where there is no registry (Linux), or when
// LECTORIA_SETTINGS names a settings file, inUse() is false and the file
// stands for the key (machinesettings.cpp).
namespace lectoria::registrykey {

bool inUse();
QString location(); // HKEY_LOCAL_MACHINE\SOFTWARE\Marrowind\Lectoria
bool keyExists();
QMap<QString, QString> readAll(QString *error);
// The key that could not be created, or empty. Missing rights are left to
// write(), whose failure the connection dialog explains.
QString createKeys();
bool write(const QMap<QString, QString> &values);

} // namespace lectoria::registrykey
