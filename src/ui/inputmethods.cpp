#include "inputmethods.h"
#include "unglobal.h"
#include "systeminputmethods.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace lectoria {

namespace {

// Switches the keyboard to a Chinese-text field's named input method when
// the field gets the focus (where the system can switch per field).
class SwitchOnFocus : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::FocusIn) {
            const QString name = watched->property("inputMethod").toString();
            if (!name.isEmpty())
                activateSystemInputMethod(name);
        }
        return false;
    }
};

} // namespace

void ApplyInputMethods(QWidget *window)
{
    // One filter for every field of the run, owned by the application.
    static SwitchOnFocus *const switcher = new SwitchOnFocus(QCoreApplication::instance());
    const QList<QWidget *> fields = window->findChildren<QWidget *>();
    for (QWidget *w : fields) {
        if (!qobject_cast<QLineEdit *>(w) && !qobject_cast<QPlainTextEdit *>(w)
            && !qobject_cast<QTextEdit *>(w) && !qobject_cast<QComboBox *>(w))
            continue;
        const int tag = w->property("tag").toInt();
        if (tag == ChineseTextTag) {
            w->setAttribute(Qt::WA_InputMethodEnabled, true);
            w->setProperty("inputMethod", unGlobal().DefaultInputMethod);
            w->removeEventFilter(switcher);
            w->installEventFilter(switcher);
        } else if (tag == CodeTag) {
            w->setAttribute(Qt::WA_InputMethodEnabled, false);
            w->setProperty("inputMethod", QString());
            w->removeEventFilter(switcher);
        }
    }
}

QStringList installedInputMethods() { return systemInputMethods(); }

} // namespace lectoria
