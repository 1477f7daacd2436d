#pragma once
#include "catalogueexchange.h"

#include <QDialog>
#include <QElapsedTimer>

#include <functional>

class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace lectoria {

// Shows the progress bar at 0 while a blocking export or import runs, moves
// it to done % 100 and repaints it (at most every few hundredths of a
// second, so that painting never slows the work down), keeps the window
// system answered without taking user input, and hides the bar again.
class ProgressPump {
public:
    explicit ProgressPump(QProgressBar *bar);
    ~ProgressPump();
    ProgressPump(const ProgressPump &) = delete;
    ProgressPump &operator=(const ProgressPump &) = delete;

    void step(int done);
    ExchangeProgress callback()
    {
        return [this](int done) { step(done); };
    }

private:
    QProgressBar *m_bar;
    QElapsedTimer m_sincePaint;
};

// What the export and import dialogs share: the kind list, the file name
// row, the progress bar and the exit button, and running one command with
// the bar shown and the window closed to input.
class ExchangeDialog : public QDialog {
    Q_OBJECT
public Q_SLOTS:
    void BitBtn2Click();

protected:
    ExchangeDialog(QWidget *owner, const char *objectName, const QString &caption);

    // cbType with the items verb + " " + kind word, the first shown.
    void addKindRow(int y, const QString &label, const QString &verb);
    void addFileRow(int y, const QString &label);
    // The progress bar, the start button and the exit button; fixes the
    // dialog's size and centres it on the screen.
    QPushButton *addButtonRows(int y, const QString &startCaption, const char *startName);

    // Runs work with the progress bar shown; its message (the closing
    // message) is shown after the bar is hidden, as information, or in the
    // error box when *asError is true once work has run; an error that
    // escapes work in the application's standard error box.
    void runWithProgress(const std::function<QString(const ExchangeProgress &)> &work, const bool *asError = nullptr);

    void closeEvent(QCloseEvent *event) override;
    void reject() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

    QComboBox *cbType = nullptr;
    QLineEdit *edFileName = nullptr;
    QPushButton *btFileName = nullptr;
    QProgressBar *pgBar = nullptr;
    QPushButton *BitBtn2 = nullptr;

private:
    bool m_busy = false;
};

} // namespace lectoria
