#pragma once
#include <QDialog>
#include <QStringList>

class QComboBox;
class QLabel;

namespace lectoria {

class THelp;

// Choosing the default input method for Chinese text fields.
class TChinese : public QDialog {
    Q_OBJECT
public:
    explicit TChinese(QWidget *owner);

public Q_SLOTS:
    void bbtOkClick();

private:
    QComboBox *cbDefInput;
};

// The about box: a picture with the product line and the program's version;
// a click anywhere closes it.
class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget *owner);

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    QLabel *ProductName;
    QLabel *Version;
    QLabel *lbVerStr;
};

// The desktop programs that stand in for the system's own pages: the first
// one found of each list is started and not waited for; none found, nothing
// happens.
namespace Utilities {
QStringList dateSettingsPrograms();
QStringList printerSettingsPrograms();
QStringList calculatorPrograms();
// Starts the first installed program of the list; false when none is installed.
bool startFirstInstalled(const QStringList &programs);
// "Help/Index.htm" of the current folder, or else the one beside the program.
QString helpIndexPath();
// Shows the help index in the owner's help window (made on first use) and
// brings it to the front; says so and returns nullptr when the page is missing.
THelp *openHelp(QWidget *owner);
} // namespace Utilities

} // namespace lectoria
