#include "FolderList.h"

#include "desktop/DriveMap.h"
#include "browser/FolderReader.h"
#include "browser/NameOrder.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QIconEngine>
#include <QKeyEvent>
#include <QPointer>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>

namespace {

constexpr int LevelRole = Qt::UserRole;
/// The deepest indentation, in levels: deeper chains give up the steps at their top, so the
/// current folder and its subfolders stay in view at any depth.
constexpr int MaxShownLevel = 6;

/// Shifts each entry right by its level in the folder tree.
class IndentingDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem shifted = option;
        shifted.rect.setLeft(option.rect.left() + indent(option, index));
        QStyledItemDelegate::paint(painter, shifted, index);
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        return QStyledItemDelegate::sizeHint(option, index) + QSize(indent(option, index), 0);
    }

private:
    static int indent(const QStyleOptionViewItem &option, const QModelIndex &index)
    {
        return index.data(LevelRole).toInt() * option.fontMetrics.averageCharWidth() * 2;
    }
};

/// A standard icon of a view's style, looked up when first drawn rather than when made: finding
/// it in the icon theme takes milliseconds, and the rows are laid out before the window is shown.
/// Until then it claims the size asked for; should the icon found be smaller, the view lays its
/// rows out again.
class StyleIconEngine : public QIconEngine
{
public:
    StyleIconEngine(QAbstractItemView *view, QStyle::StandardPixmap which)
        : shared(std::make_shared<Shared>(view, which))
    {
    }

    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        if (shared->icon)
            return shared->icon->actualSize(size, mode, state);
        if (!shared->claimed.contains(size))
            shared->claimed.append(size);
        return size;
    }
    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().pixmap(size, mode, state);
    }
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        return icon().pixmap(size / scale, scale, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return icon().availableSizes(mode, state);
    }
    QString iconName() override { return icon().name(); }
    bool isNull() override { return icon().isNull(); }
    QString key() const override { return QStringLiteral("StyleIconEngine"); }
    // Copies share the icon, found once.
    QIconEngine *clone() const override { return new StyleIconEngine(*this); }

private:
    struct Shared
    {
        QPointer<QAbstractItemView> view;
        QStyle::StandardPixmap which;
        std::optional<QIcon> icon;
        QList<QSize> claimed;
    };

    const QIcon &icon()
    {
        Shared &d = *shared;
        if (!d.icon) {
            d.icon = (d.view ? d.view->style() : QApplication::style())->standardIcon(d.which);
            bool claimedTooMuch = false;
            for (const QSize &size : std::as_const(d.claimed))
                claimedTooMuch = claimedTooMuch || d.icon->actualSize(size) != size;
            if (claimedTooMuch && d.view)
                QTimer::singleShot(0, d.view, &QAbstractItemView::doItemsLayout);
            d.claimed.clear();
        }
        return *d.icon;
    }

    std::shared_ptr<Shared> shared;
};

} // namespace

/// The rows of a FolderList: the chain names, then the subfolder names.
class FolderListModel : public QAbstractListModel
{
public:
    explicit FolderListModel(QAbstractItemView *view)
        : QAbstractListModel(view)
        , openIcon(new StyleIconEngine(view, QStyle::SP_DirOpenIcon))
        , closedIcon(new StyleIconEngine(view, QStyle::SP_DirClosedIcon))
    {
    }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(chainLength() + subfolders.size());
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        const qsizetype row = index.row();
        if (!index.isValid() || row >= rowCount())
            return QVariant();
        const bool inChain = row < chainLength();
        switch (role) {
        case Qt::DisplayRole:
            if (row == 0)
                return folder.drive + QLatin1Char('\\');
            return DriveMap::displayName(inChain ? folder.names[row - 1] : subfolders[row - chainLength()]);
        case Qt::DecorationRole:
            return inChain ? openIcon : closedIcon;
        case LevelRole:
            return int(std::max<qsizetype>(0, (inChain ? row : chainLength()) - levelsGivenUp()));
        default:
            return QVariant();
        }
    }

    void setFolder(const DrivePath &newFolder, QStringList newSubfolders)
    {
        beginResetModel();
        folder = newFolder;
        subfolders = std::move(newSubfolders);
        endResetModel();
    }

    qsizetype chainLength() const { return folder.drive.isEmpty() ? 0 : folder.names.size() + 1; }
    qsizetype levelsGivenUp() const { return std::max<qsizetype>(0, chainLength() - MaxShownLevel); }

    /// The folder a row stands for.
    DrivePath pathOf(qsizetype row) const
    {
        return row < chainLength() ? folder.leading(row) : folder.child(subfolders[row - chainLength()]);
    }

    DrivePath folder;
    QStringList subfolders;

private:
    QIcon openIcon;
    QIcon closedIcon;
};

FolderList::FolderList(QWidget *parent)
    : QListView(parent)
    , rows(new FolderListModel(this))
{
    setModel(rows);
    setItemDelegate(new IndentingDelegate(this));
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(this, &QAbstractItemView::doubleClicked, this, &FolderList::activate);
}

void FolderList::setDriveMap(DriveMap &driveMap)
{
    drives = &driveMap;
}

QString FolderList::path() const
{
    return hasFolder ? current.toString() : QString();
}

void FolderList::setPath(const QString &path)
{
    if (load(DrivePath::parse(path)))
        emit pathChanged(current.toString());
}

QStringList FolderList::subfolders() const
{
    return rows->subfolders;
}

void FolderList::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        activate(currentIndex());
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}

bool FolderList::load(const DrivePath &folder)
{
    if (!drives)
        throw DesktopError { DesktopError::PathNotFound, QStringLiteral("%1: no drives").arg(folder.toString()) };
    // A medium may have come or gone since the last look.
    drives->rescan();

    NameListing listing;
    {
        FolderReader reader(*drives, folder);
        while (const dirent *entry = reader.next()) {
            // Files are told apart by the listing's type alone, never looked up.
            if (reader.kind(entry) == FolderReader::Folder)
                listing.append(entry->d_name, std::strlen(entry->d_name));
        }
    }
    listing.sort();
    QStringList names;
    names.reserve(qsizetype(listing.size()));
    for (std::size_t i = 0; i < listing.size(); ++i)
        names.append(listing.name(i));

    const bool changed = !hasFolder || folder.toString() != current.toString();
    current = folder;
    hasFolder = true;
    rows->setFolder(folder, names);
    setCurrentIndex(rows->index(int(folder.names.size())));
    return changed;
}

void FolderList::activate(const QModelIndex &index)
{
    if (!index.isValid())
        return;
    const DrivePath folder = rows->pathOf(index.row());
    bool changed = false;
    // Reported, not thrown: this runs from the event loop.
    try {
        changed = load(folder);
    } catch (const DesktopError &error) {
        emit failed(error);
        return;
    }
    if (changed)
        emit pathChanged(current.toString());
}
