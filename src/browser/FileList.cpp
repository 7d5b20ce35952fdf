#include "FileList.h"

#include "desktop/DesktopError.h"
#include "desktop/DriveMap.h"
#include "browser/FolderReader.h"
#include "browser/NameOrder.h"

#include <QAbstractListModel>
#include <QKeyEvent>

#include <cstring>

/// The names of a FileList, kept as native bytes; no object per entry.
class FileListModel : public QAbstractListModel
{
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(listing.size());
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= rowCount())
            return QVariant();
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
            return DriveMap::displayName(name(index.row()));
        return QVariant();
    }

    void setListing(NameListing newListing)
    {
        beginResetModel();
        listing = std::move(newListing);
        endResetModel();
    }

    QString name(int row) const { return listing.name(std::size_t(row)); }
    int rowOf(const QString &name) const
    {
        const QByteArray native = DriveMap::nameToNative(name);
        for (std::size_t row = 0; row < listing.size() && !name.isEmpty(); ++row) {
            if (listing.native(row) == native)
                return int(row);
        }
        return -1;
    }

private:
    NameListing listing;
};

FileList::FileList(QWidget *parent)
    : QListView(parent)
    , names(new FileListModel(this))
{
    setModel(names);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void FileList::setDriveMap(DriveMap &driveMap)
{
    drives = &driveMap;
}

QString FileList::path() const
{
    return hasFolder ? folderPath.toString() : QString();
}

void FileList::setPath(const QString &folder)
{
    read(DrivePath::parse(folder), patternText);
}

QString FileList::pattern() const
{
    return patternText;
}

void FileList::setPattern(const QString &pattern)
{
    if (!hasFolder) {
        patternText = pattern;
        return;
    }
    const QString selected = fileName();
    read(folderPath, pattern);
    const int row = names->rowOf(selected);
    if (row >= 0)
        setCurrentIndex(names->index(row));
}

QString FileList::fileName() const
{
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? QString() : names->name(selected.first().row());
}

QStringList FileList::fileNames() const
{
    QStringList result;
    result.reserve(names->rowCount());
    for (int row = 0; row < names->rowCount(); ++row)
        result.append(names->name(row));
    return result;
}

void FileList::refresh()
{
    if (!hasFolder)
        return;
    setPattern(patternText);
}

void FileList::keyPressEvent(QKeyEvent *event)
{
    QListView::keyPressEvent(event);
    switch (event->key()) {
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: {
        // The view selects only when the caret moves; Home on the caret's own entry must select it too.
        const QModelIndex caret = currentIndex();
        if (caret.isValid() && !selectionModel()->isSelected(caret))
            selectionModel()->select(caret, QItemSelectionModel::ClearAndSelect);
        break;
    }
    default:
        break;
    }
}

void FileList::read(const DrivePath &folder, const QString &newPattern)
{
    if (!drives)
        throw DesktopError { DesktopError::PathNotFound, QStringLiteral("%1: no drives").arg(folder.toString()) };

    // Everything is read before anything changes, so a failure keeps the old folder and list.
    const FilePatterns patterns(newPattern);
    NameListing listing;
    FolderReader reader(*drives, folder);
    while (const dirent *entry = reader.next()) {
        const std::size_t size = std::strlen(entry->d_name);
        // Matching the raw bytes first keeps both the lookups and the decoding to the matches.
        if (patterns.matches(entry->d_name, size) && reader.kind(entry) == FolderReader::File)
            listing.append(entry->d_name, size);
    }
    listing.sort();

    folderPath = folder;
    hasFolder = true;
    patternText = newPattern;
    names->setListing(std::move(listing));
}
