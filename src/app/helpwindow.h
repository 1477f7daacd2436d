#pragma once
#include <QTextBrowser>
#include <QWidget>

class QPushButton;

namespace lectoria {

// Shows the console's help pages, which are GBK HTML files like every file of
// the console, and follows their links between pages and within a page. Links
// to the web go to the desktop's browser.
class HelpBrowser : public QTextBrowser {
    Q_OBJECT
public:
    explicit HelpBrowser(QWidget *parent = nullptr);
    QVariant loadResource(int type, const QUrl &name) override;
};

// The help window: a window of its own beside the main window, not modal, so
// that the operator can read while working. One per owner; F1 again brings it
// to the front on its first page.
class THelp : public QWidget {
    Q_OBJECT
public:
    explicit THelp(QWidget *owner);
    HelpBrowser *browser() const { return m_browser; }
    // Shows the page; false, and nothing shown, when the file does not exist.
    bool showPage(const QString &path);

private:
    void updateTitle();
    HelpBrowser *m_browser;
};

} // namespace lectoria
