#include "systeminputmethods.h"

#include <QList>

#include <windows.h>
#include <imm.h>

#include <iterator>
#include <vector>

namespace lectoria {
namespace {

// The name the system shows for a layout: an IME's own description, else the
// keyboard layout's display text from the registry.
QString layoutName(HKL layout)
{
    wchar_t text[256] = {};
    const UINT n = ImmGetDescriptionW(layout, text, UINT(std::size(text)) - 1);
    if (n > 0)
        return QString::fromWCharArray(text, int(n)).trimmed();
    const auto id = quint32(reinterpret_cast<quintptr>(layout));
    // The layout's identifier: the device part when it names a layout of its own, else the language.
    const quint32 device = id >> 16;
    const quint32 klid = (device & 0xF000) == 0xE000 ? device << 16 : device;
    const std::wstring key = QStringLiteral("SYSTEM\\CurrentControlSet\\Control\\Keyboard Layouts\\%1")
                                 .arg(klid, 8, 16, QLatin1Char('0'))
                                 .toStdWString();
    DWORD size = sizeof text;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"Layout Text", RRF_RT_REG_SZ, nullptr, text, &size) == ERROR_SUCCESS)
        return QString::fromWCharArray(text).trimmed();
    return QStringLiteral("%1").arg(id, 8, 16, QLatin1Char('0'));
}

QList<HKL> layouts()
{
    const int n = GetKeyboardLayoutList(0, nullptr);
    std::vector<HKL> list(size_t(qMax(n, 0)));
    const int got = n > 0 ? GetKeyboardLayoutList(n, list.data()) : 0;
    return QList<HKL>(list.begin(), list.begin() + qMax(got, 0));
}

} // namespace

QStringList systemInputMethods()
{
    QStringList names;
    for (HKL layout : layouts())
        names << layoutName(layout);
    names.removeDuplicates();
    return names;
}

void activateSystemInputMethod(const QString &name)
{
    for (HKL layout : layouts()) {
        if (layoutName(layout).compare(name, Qt::CaseInsensitive) == 0) {
            ActivateKeyboardLayout(layout, 0);
            return;
        }
    }
}

} // namespace lectoria
