#include "systeminputmethods.h"

#include <QProcess>
#include <QStandardPaths>

namespace lectoria {

QStringList systemInputMethods()
{
    // Each desktop input framework lists its engines its own way; ask the one
    // that is installed, briefly, and take what it says.
    struct Source { const char *program; QStringList args; };
    const Source sources[] = {{"ibus", {QStringLiteral("list-engine")}},
                              {"fcitx5-remote", {QStringLiteral("-q")}}};
    QStringList names;
    for (const Source &s : sources) {
        const QString exe = QStandardPaths::findExecutable(QString::fromLatin1(s.program));
        if (exe.isEmpty())
            continue;
        QProcess p;
        p.start(exe, s.args);
        if (!p.waitForFinished(2000)) {
            p.kill();
            p.waitForFinished(500);
            continue;
        }
        const QStringList lines = QString::fromLocal8Bit(p.readAllStandardOutput()).split(QLatin1Char('\n'));
        for (QString line : lines) {
            line = line.trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1String("language:")))
                continue;
            names << line;
        }
    }
    names.removeDuplicates();
    return names;
}

void activateSystemInputMethod(const QString &) {}

} // namespace lectoria
