#include "HelpViewer.h"

#include "help/HelpLogging.h"
#include "help/HelpReader.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenuBar>
#include <QScreen>
#include <QShortcut>
#include <QSplitter>
#include <QStyle>
#include <QTextBrowser>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWidget>

namespace {

const QString Scheme = QStringLiteral("chm");
const QStringList ExternalSchemes = { QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("mailto") };
const QString ViewerName = QStringLiteral("helpViewer");
const QString ViewerTitle = QStringLiteral("Help");
constexpr char FileProperty[] = "helpFile";

// A link inside the file ("sub/page.htm#part", "file.chm::/page.htm") as a page URL.
QUrl pageUrl(QString reference)
{
    if (const qsizetype separator = reference.indexOf(QLatin1String("::")); separator >= 0)
        reference.remove(0, separator + 2);
    reference.replace('\\', '/');
    QUrl root;
    root.setScheme(Scheme);
    root.setPath(QStringLiteral("/"));
    return root.resolved(QUrl(reference));
}

// The contents pane: each entry under the nearest entry before it that is one level up.
void fillContents(QTreeWidget *tree, const QByteArray &sitemap)
{
    QList<QTreeWidgetItem *> parents;
    for (const ContentsEntry &entry : HelpReader::parseContents(sitemap)) {
        parents.resize(qMin<qsizetype>(entry.level, parents.size()));
        auto *item = parents.isEmpty() ? new QTreeWidgetItem(tree) : new QTreeWidgetItem(parents.last());
        item->setText(0, entry.name);
        if (!entry.local.isEmpty())
            item->setData(0, Qt::UserRole, pageUrl(entry.local));
        parents.append(item);
    }
    tree->expandAll();
}

// Pages, pictures and style sheets all come out of the help file. Nothing is read from the disk,
// whatever a page links to: an empty answer keeps QTextDocument from trying local files itself.
class HelpBrowser : public QTextBrowser
{
public:
    using QTextBrowser::QTextBrowser;

    HelpContent content;

    QVariant loadResource(int type, const QUrl &name) override
    {
        const QUrl url = name.isRelative() ? source().resolved(name) : name;
        if (url.scheme() == Scheme) {
            if (const auto found = content.objects.constFind(url.path().toLower()); found != content.objects.cend())
                return *found;
        }
        if (type == QTextDocument::HtmlResource)
            return QStringLiteral("<p>This help file has no page %1.</p>").arg(url.path().toHtmlEscaped());
        return QByteArray("");
    }

protected:
    void doSetSource(const QUrl &url, QTextDocument::ResourceType type) override
    {
        // Only the web and mail leave the file, to the desktop's own programs; a page may link
        // to anything (file:, javascript:, a scheme some handler registered), and is not obeyed.
        if (url.scheme() == Scheme)
            QTextBrowser::doSetSource(url, type);
        else if (!ExternalSchemes.contains(url.scheme()))
            qCDebug(lcHelp, "A help page links to %s: not followed", qUtf8Printable(url.toDisplayString()));
        else if (!QDesktopServices::openUrl(url))
            qCWarning(lcHelp, "No program of the desktop opens %s", qUtf8Printable(url.toDisplayString()));
    }
};

// The viewer window: a top-level child of its owner, transient for the owner's window (it stays
// above it, hence placed beside it, and has no task-bar entry of its own), and it goes with it.
// Qt on X11 writes WM_TRANSIENT_FOR for dialogs only; a viewer still wants its minimise and
// maximise buttons.
class HelpWindow : public QWidget
{
public:
    HelpWindow(const QString &path, const QString &readerProgram, QWidget *owner)
        : QWidget(owner, Qt::Dialog | Qt::WindowMinMaxButtonsHint)
        , path(path)
        , reader(readerProgram)
    {
        setObjectName(ViewerName);
        setProperty(FileProperty, path);
        setAttribute(Qt::WA_DeleteOnClose);
        setWindowTitle(ViewerTitle);

        browser = new HelpBrowser(this);
        browser->setObjectName(QStringLiteral("helpBrowser"));
        browser->setOpenExternalLinks(false);
        contents = new QTreeWidget(this);
        contents->setObjectName(QStringLiteral("helpContents"));
        contents->setHeaderHidden(true);
        auto *splitter = new QSplitter(this);
        splitter->addWidget(contents);
        splitter->addWidget(browser);
        splitter->setSizes({ 220, 500 });
        findField = new QLineEdit(this);
        findField->setObjectName(QStringLiteral("helpFind"));
        findField->setPlaceholderText(QStringLiteral("Find in page"));
        findField->setClearButtonEnabled(true);
        findField->hide();

        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        layout->addWidget(createToolBar());
        layout->addWidget(splitter);
        layout->addWidget(findField);
        resize(720, 540);

        connect(contents, &QTreeWidget::itemClicked, this, &HelpWindow::showEntry);
        connect(contents, &QTreeWidget::itemActivated, this, &HelpWindow::showEntry);
        connect(browser, &QTextBrowser::sourceChanged, this, &HelpWindow::followPage);
        connect(new QShortcut(QKeySequence::Find, this), &QShortcut::activated, this, [this] {
            findField->show();
            findField->setFocus();
            findField->selectAll();
        });
        connect(new QShortcut(Qt::Key_Escape, findField), &QShortcut::activated, findField, &QWidget::hide);
        connect(findField, &QLineEdit::returnPressed, this, &HelpWindow::findNext);
        connect(&reader, &HelpReader::finished, this, &HelpWindow::showContent);
    }

    void load()
    {
        const QFileInfo info(path);
        if (!info.exists())
            return showProblem(QStringLiteral("it does not exist"));
        if (!info.isFile())
            return showProblem(QStringLiteral("it is not a file"));
        failed = false;
        reader.read(info.absoluteFilePath());
    }

    bool failed = false;

private:
    QToolBar *createToolBar()
    {
        auto *toolBar = new QToolBar(this);
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
        return toolBar;
    }

    void showContent(const HelpContent &content, const QString &problem)
    {
        if (!problem.isEmpty())
            return showProblem(problem);
        browser->content = content;
        setWindowTitle(content.title.isEmpty() ? ViewerTitle : content.title);
        contents->clear();
        fillContents(contents, content.objects.value(content.contents));
        contents->setVisible(contents->topLevelItemCount() > 0);
        browser->setSource(pageUrl(content.topic));
    }

    void showProblem(const QString &problem)
    {
        failed = true;
        qCWarning(lcHelp, "Cannot open the help file %s: %s", qUtf8Printable(path), qUtf8Printable(problem));
        const QFileInfo info(path);
        browser->content = {};
        browser->clearHistory();
        browser->setHtml(QStringLiteral("<p>Cannot open the help file %1: %2.</p><p>Looked in the folder %3.</p>")
                             .arg(info.fileName().toHtmlEscaped(), problem.toHtmlEscaped(),
                                 QDir::toNativeSeparators(info.absolutePath()).toHtmlEscaped()));
        contents->hide();
    }

    void showEntry(QTreeWidgetItem *item)
    {
        if (const QUrl url = item->data(0, Qt::UserRole).toUrl(); url.isValid())
            browser->setSource(url);
    }

    // The contents entry of the page shown is the current one.
    void followPage(const QUrl &url)
    {
        const QSignalBlocker blocker(contents);
        for (QTreeWidgetItemIterator it(contents); *it; ++it) {
            if ((*it)->data(0, Qt::UserRole).toUrl().path().compare(url.path(), Qt::CaseInsensitive) == 0) {
                contents->setCurrentItem(*it);
                return;
            }
        }
        contents->setCurrentItem(nullptr);
    }

    void findNext()
    {
        if (browser->find(findField->text()))
            return;
        browser->moveCursor(QTextCursor::Start);
        browser->find(findField->text());
    }

    QString path;
    HelpReader reader;
    HelpBrowser *browser;
    QTreeWidget *contents;
    QLineEdit *findField;
};

// Beside the owner, which stays usable: its menu bar and buttons at least are never covered.
// On Wayland the compositor places windows.
void placeBeside(QWidget *viewer, const QWidget *owner)
{
    if (!owner || !owner->isVisible() || QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return;
    const QRect frame = owner->frameGeometry();
    const QRect inner = owner->geometry();
    int keepHeight = inner.top() - frame.top();
    for (const QWidget *control : owner->findChildren<QWidget *>()) {
        if (control->window() == owner && control->isVisible()
            && (qobject_cast<const QMenuBar *>(control) || qobject_cast<const QAbstractButton *>(control)))
            keepHeight
                = qMax(keepHeight, inner.top() - frame.top() + control->mapTo(owner, QPoint(0, control->height())).y());
    }
    // The same window manager decorates both windows alike. A move() places the frame, not the
    // window inside it.
    const QMargins decorations(inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
        frame.bottom() - inner.bottom());
    const QRect place
        = helpWindowPlace(owner->screen()->availableGeometry(), frame, keepHeight, viewer->size().grownBy(decorations));
    viewer->resize(place.size().shrunkBy(decorations));
    viewer->move(place.topLeft());
}

} // namespace

QRect helpWindowPlace(const QRect &available, const QRect &owner, int keepHeight, QSize size)
{
    size = size.boundedTo(available.size());
    const auto fitX
        = [&available, &size](int x) { return qBound(available.left(), x, available.right() + 1 - size.width()); };
    const auto fitY
        = [&available, &size](int y) { return qBound(available.top(), y, available.bottom() + 1 - size.height()); };
    const int right = qMin(size.width(), available.right() - owner.right());
    const int left = qMin(size.width(), owner.left() - available.left());
    const int below = qMin(size.height(), available.bottom() - owner.bottom());
    const int above = qMin(size.height(), owner.top() - available.top());
    const QRect sides[] = { { owner.right() + 1, fitY(owner.top()), right, size.height() },
        { owner.left() - left, fitY(owner.top()), left, size.height() },
        { fitX(owner.left()), owner.bottom() + 1, size.width(), below },
        { fitX(owner.left()), owner.top() - above, size.width(), above } };
    for (const QRect &side : sides) {
        if (side.size() == size)
            return side;
    }
    for (const QRect &side : sides) {
        if (side.width() * 2 >= size.width() && side.height() * 2 >= size.height())
            return side;
    }
    const int top = qMax(available.top(), owner.top() + keepHeight);
    const int room = available.bottom() + 1 - top;
    if (room < above)
        return sides[3];
    return { fitX(owner.left()), top, size.width(), qMin(size.height(), room) };
}

quintptr openHelpViewer(QWidget *owner, const QString &fileName, const QString &readerProgram)
{
    // The name is used as given: a bare name means the current directory, nothing else.
    const QString path = QFileInfo(fileName).absoluteFilePath();

    // One viewer per file and owner: asking again brings it forward where it is, and tries again
    // a file that could not be opened.
    HelpWindow *viewer = nullptr;
    const QList<QWidget *> candidates = owner ? owner->findChildren<QWidget *>(ViewerName, Qt::FindDirectChildrenOnly)
                                              : QApplication::topLevelWidgets();
    for (QWidget *window : candidates) {
        if (window->objectName() == ViewerName && window->parentWidget() == owner
            && window->property(FileProperty).toString() == path)
            viewer = static_cast<HelpWindow *>(window);
    }
    if (!viewer) {
        viewer = new HelpWindow(path, readerProgram, owner);
        placeBeside(viewer, owner);
        viewer->load();
    } else if (viewer->failed) {
        viewer->load();
    }
    viewer->setWindowState(viewer->windowState() & ~Qt::WindowMinimized);
    viewer->show();
    viewer->raise();
    viewer->activateWindow();
    return viewer->winId();
}
