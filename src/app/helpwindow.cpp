#include "helpwindow.h"
#include "gbk.h"

#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextDocument>
#include <QVBoxLayout>

namespace lectoria {

HelpBrowser::HelpBrowser(QWidget *parent) : QTextBrowser(parent)
{
    setObjectName(QStringLiteral("HelpBrowser"));
    setOpenLinks(true);
    setOpenExternalLinks(true);
}

QVariant HelpBrowser::loadResource(int type, const QUrl &name)
{
    const QUrl url = name.isRelative() ? source().resolved(name) : name;
    const QString suffix = QFileInfo(url.path()).suffix().toLower();
    const bool page = type == QTextDocument::HtmlResource
                      || suffix == QLatin1String("htm") || suffix == QLatin1String("html");
    if (page && url.isLocalFile()) {
        // Qt would read the bytes as UTF-8 unless the page names a charset it
        // knows, and GBK is not among them.
        QFile file(url.toLocalFile());
        if (!file.open(QIODevice::ReadOnly))
            return QVariant();
        return Gbk::decode(file.readAll());
    }
    return QTextBrowser::loadResource(type, url);
}

THelp::THelp(QWidget *owner) : QWidget(owner, Qt::Window)
{
    setObjectName(QStringLiteral("THelp"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    m_browser = new HelpBrowser(this);

    auto button = [this](const char *name, const QString &caption) {
        auto *b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        b->setFocusPolicy(Qt::TabFocus);
        return b;
    };
    QPushButton *btBack = button("btBack", QStringLiteral("后退"));
    QPushButton *btForward = button("btForward", QStringLiteral("前进"));
    QPushButton *btHome = button("btHome", QStringLiteral("目录"));
    QPushButton *btClose = button("btClose", QStringLiteral("关闭"));
    btBack->setEnabled(false);
    btForward->setEnabled(false);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(btBack);
    buttons->addWidget(btForward);
    buttons->addWidget(btHome);
    buttons->addStretch();
    buttons->addWidget(btClose);
    auto *col = new QVBoxLayout(this);
    col->addLayout(buttons);
    col->addWidget(m_browser);

    connect(btBack, &QPushButton::clicked, m_browser, &QTextBrowser::backward);
    connect(btForward, &QPushButton::clicked, m_browser, &QTextBrowser::forward);
    connect(btHome, &QPushButton::clicked, m_browser, &QTextBrowser::home);
    connect(btClose, &QPushButton::clicked, this, &QWidget::close);
    connect(m_browser, &QTextBrowser::backwardAvailable, btBack, &QWidget::setEnabled);
    connect(m_browser, &QTextBrowser::forwardAvailable, btForward, &QWidget::setEnabled);
    connect(m_browser, &QTextBrowser::sourceChanged, this, &THelp::updateTitle);
    resize(760, 560);
    updateTitle();
}

bool THelp::showPage(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return false;
    const QUrl url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    // Showing the first page again starts the history afresh.
    m_browser->clearHistory();
    m_browser->setSource(url);
    m_browser->setFocus();
    return true;
}

void THelp::updateTitle()
{
    const QString title = m_browser->documentTitle().trimmed();
    setWindowTitle(title.isEmpty() ? QStringLiteral("帮助索引") : title);
}

} // namespace lectoria
