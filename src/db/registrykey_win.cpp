#include "registrykey.h"
#include "machinesettings.h"

#include <windows.h>

#include <vector>

namespace lectoria::registrykey {
namespace {

std::wstring wide(const QString &s) { return s.toStdWString(); }

// A key handle that closes itself.
struct Key {
    HKEY h = nullptr;
    ~Key()
    {
        if (h) RegCloseKey(h);
    }
};

LONG openKey(const QString &name, REGSAM access, Key *key)
{
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(name).c_str(), 0, access, &key->h);
}

QString systemText(LONG code)
{
    wchar_t *text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, DWORD(code), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString s = n ? QString::fromWCharArray(text, int(n)).trimmed() : QStringLiteral("错误 %1").arg(code);
    LocalFree(text);
    return s;
}

} // namespace

bool inUse() { return qEnvironmentVariableIsEmpty("LECTORIA_SETTINGS"); }

QString location() { return QStringLiteral("HKEY_LOCAL_MACHINE\\") + MachineSettings::keyName(); }

bool keyExists()
{
    Key key;
    return openKey(MachineSettings::keyName(), KEY_READ, &key) == ERROR_SUCCESS;
}

QMap<QString, QString> readAll(QString *error)
{
    if (error) error->clear();
    QMap<QString, QString> values;
    Key key;
    const LONG opened = openKey(MachineSettings::keyName(), KEY_READ, &key);
    if (opened != ERROR_SUCCESS) {
        if (opened != ERROR_FILE_NOT_FOUND && error)
            *error = QStringLiteral("无法读取注册表项 %1：%2").arg(location(), systemText(opened));
        return values;
    }
    DWORD count = 0, longestName = 0, longestData = 0;
    if (RegQueryInfoKeyW(key.h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &longestName, &longestData,
                         nullptr, nullptr)
        != ERROR_SUCCESS)
        return values;
    std::vector<wchar_t> name(longestName + 1);
    std::vector<BYTE> data(longestData + sizeof(wchar_t));
    for (DWORD i = 0; i < count; ++i) {
        DWORD nameLength = DWORD(name.size());
        DWORD dataLength = DWORD(data.size() - sizeof(wchar_t));
        DWORD type = 0;
        if (RegEnumValueW(key.h, i, name.data(), &nameLength, nullptr, &type, data.data(), &dataLength) != ERROR_SUCCESS)
            continue;
        const QString valueName = QString::fromWCharArray(name.data(), int(nameLength)).toUpper();
        QString text;
        if (type == REG_SZ || type == REG_EXPAND_SZ) {
            text = QString::fromWCharArray(reinterpret_cast<const wchar_t *>(data.data()), int(dataLength / sizeof(wchar_t)));
            // A stored string normally carries its terminating zero.
            while (text.endsWith(QChar(0)))
                text.chop(1);
        } else if (type == REG_DWORD && dataLength == sizeof(DWORD)) {
            DWORD n = 0;
            memcpy(&n, data.data(), sizeof n);
            text = QString::number(n);
        } else {
            continue; // a value of a kind the console never writes
        }
        values.insert(valueName, text);
    }
    return values;
}

QString createKeys()
{
    for (const QString &name : {MachineSettings::parentKeyName(), MachineSettings::keyName()}) {
        Key key;
        const LONG r = RegCreateKeyExW(HKEY_LOCAL_MACHINE, wide(name).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                       KEY_READ, nullptr, &key.h, nullptr);
        if (r == ERROR_ACCESS_DENIED)
            return QString();
        if (r != ERROR_SUCCESS)
            return QStringLiteral("HKEY_LOCAL_MACHINE\\") + name;
    }
    return QString();
}

bool write(const QMap<QString, QString> &values)
{
    Key key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, wide(MachineSettings::keyName()).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &key.h, nullptr)
        != ERROR_SUCCESS)
        return false;
    bool ok = true;
    for (auto it = values.begin(); it != values.end(); ++it) {
        const std::wstring data = wide(it.value());
        ok = RegSetValueExW(key.h, wide(it.key()).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(data.c_str()),
                            DWORD((data.size() + 1) * sizeof(wchar_t)))
                 == ERROR_SUCCESS
             && ok;
    }
    return ok;
}

} // namespace lectoria::registrykey
