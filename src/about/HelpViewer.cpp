#include "HelpViewer.h"

#include "ChmArchive.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QStyle>
#include <QTextBrowser>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWidget>

namespace {

const QString Scheme = QStringLiteral("chm");
const QString ViewerName = QStringLiteral("helpViewer");
constexpr char FileProperty[] = "helpFile";

// Pages, pictures and style sheets all come out of the archive. Nothing is read from the disk,
// whatever a page links to: an empty answer keeps QTextDocument from trying local files itself.
class ChmBrowser : public QTextBrowser
{
public:
    ChmBrowser(const ChmArchive *archive, QWidget *parent)
        : QTextBrowser(parent)
        , archive(archive)
    {
        setOpenLinks(true);
        setOpenExternalLinks(false);
    }

    QVariant loadResource(int type, const QUrl &name) override
    {
        const QUrl url = name.isRelative() ? source().resolved(name) : name;
        QByteArray data;
        if (url.scheme() == Scheme)
            data = archive->read(url.path());
        if (!data.isNull())
            return data;
        if (type == QTextDocument::HtmlResource)
            return QStringLiteral("<p>This help file has no page %1.</p>").arg(url.path().toHtmlEscaped());
        return QByteArray("");
    }

protected:
    void doSetSource(const QUrl &url, QTextDocument::ResourceType type) override
    {
        if (url.scheme() == Scheme)
            QTextBrowser::doSetSource(url, type);
        else if (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"))
            QDesktopServices::openUrl(url);
    }

private:
    const ChmArchive *archive;
};

// The viewer window: a top-level window owned by the caller's window, so that it stays beside
// it and goes with it, without blocking it.
class HelpWindow : public QWidget
{
public:
    HelpWindow(std::unique_ptr<ChmArchive> file, const QString &path, QWidget *owner)
        : QWidget(owner, Qt::Window)
        , archive(std::move(file))
    {
        setObjectName(ViewerName);
        setProperty(FileProperty, path);
        setAttribute(Qt::WA_DeleteOnClose);
        setWindowTitle(archive->title().isEmpty() ? QStringLiteral("Help") : archive->title());

        auto *browser = new ChmBrowser(archive.get(), this);
        browser->setObjectName(QStringLiteral("helpBrowser"));
        auto *toolBar = new QToolBar(this);
        toolBar->setObjectName(QStringLiteral("helpToolBar"));
        toolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        QAction *back = toolBar->addAction(
            style()->standardIcon(QStyle::SP_ArrowBack), QStringLiteral("Back"), browser, &QTextBrowser::backward);
        QAction *forward = toolBar->addAction(
            style()->standardIcon(QStyle::SP_ArrowForward), QStringLiteral("Forward"), browser, &QTextBrowser::forward);
        toolBar->addAction(
            style()->standardIcon(QStyle::SP_DirHomeIcon), QStringLiteral("Home"), browser, &QTextBrowser::home);
        back->setEnabled(false);
        forward->setEnabled(false);
        connect(browser, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
        connect(browser, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);

        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        layout->addWidget(toolBar);
        layout->addWidget(browser);
        resize(720, 540);

        QUrl start;
        start.setScheme(Scheme);
        start.setPath(archive->defaultTopic());
        browser->setSource(start);
    }

private:
    std::unique_ptr<ChmArchive> archive;
};

} // namespace

quintptr openHelpViewer(QWidget *owner, const QString &fileName)
{
    // The name is used as given: a bare name means the current directory, nothing else.
    const QFileInfo info(fileName);
    if (!info.isFile())
        return 0;
    const QString path = info.absoluteFilePath();

    // One viewer per file and owner: asking again brings it forward.
    const QList<QWidget *> candidates = owner ? owner->findChildren<QWidget *>(ViewerName, Qt::FindDirectChildrenOnly)
                                              : QApplication::topLevelWidgets();
    for (QWidget *window : candidates) {
        if (window->objectName() == ViewerName && window->parentWidget() == owner
            && window->property(FileProperty).toString() == path) {
            window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
            window->show();
            window->raise();
            window->activateWindow();
            return window->winId();
        }
    }

    std::unique_ptr<ChmArchive> archive = ChmArchive::open(path);
    if (!archive || archive->defaultTopic().isEmpty())
        return 0;
    auto *window = new HelpWindow(std::move(archive), path, owner);
    window->show();
    return window->winId();
}
