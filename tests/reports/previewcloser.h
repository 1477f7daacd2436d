#pragma once
#include <QApplication>
#include <QObject>
#include <QTimer>
#include <QWidget>

namespace lectoria::test {

// Closes every modal print preview as soon as it shows, counting them.
class PreviewCloser : public QObject {
public:
    PreviewCloser()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (QWidget *w = QApplication::activeModalWidget())
                if (w->objectName() == QLatin1String("ReportPreview")) {
                    ++shown;
                    w->close();
                }
        });
        m_timer.start(20);
    }
    int shown = 0;

private:
    QTimer m_timer;
};

} // namespace lectoria::test
