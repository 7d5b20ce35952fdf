#include "FileList.h"

#include "app/desktop/DesktopError.h"
#include "app/desktop/DriveMap.h"
#include "browser/FolderReader.h"

#include <QAbstractListModel>
#include <QKeyEvent>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

struct FileEntry
{
    QByteArray native; ///< the name as the folder holds it
    QByteArray sortKey; ///< the drive-form name case-folded, as UTF-8
};

// The sort key of a native name; empty when the name has no drive form. Plain ASCII names,
// nearly all of them, need neither decoding nor, when already lower-case, a copy.
QByteArray sortKeyOf(const QByteArray &native)
{
    bool hasUpper = false;
    for (const char c : native) {
        if (static_cast<unsigned char>(c) >= 0x80 || c == '\\') {
            const QString name = DriveMap::nameToDriveForm(native);
            return name.isEmpty() ? QByteArray() : name.toCaseFolded().toUtf8();
        }
        hasUpper = hasUpper || (c >= 'A' && c <= 'Z');
    }
    return hasUpper ? native.toLower() : native;
}

} // namespace

/// The names of a FileList; one list of strings, no object per entry.
class FileListModel : public QAbstractListModel
{
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(entries.size());
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= int(entries.size()))
            return QVariant();
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
            return DriveMap::displayName(name(index.row()));
        return QVariant();
    }

    void setEntries(std::vector<FileEntry> newEntries)
    {
        beginResetModel();
        entries = std::move(newEntries);
        endResetModel();
    }

    /// Names are decoded when asked for, which is mostly for the few rows on screen.
    QString name(int row) const
    {
        const QByteArray &native = entries[std::size_t(row)].native;
        return FolderReader::driveFormName(native.constData(), std::size_t(native.size()));
    }
    int rowOf(const QString &name) const
    {
        const QByteArray native = DriveMap::nameToNative(name);
        const auto it
            = std::find_if(entries.begin(), entries.end(), [&](const FileEntry &e) { return e.native == native; });
        return name.isEmpty() || it == entries.end() ? -1 : int(it - entries.begin());
    }

private:
    std::vector<FileEntry> entries;
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
    std::vector<FileEntry> entries;
    FolderReader reader(*drives, folder);
    while (const dirent *entry = reader.next()) {
        const std::size_t size = std::strlen(entry->d_name);
        // Matching the raw bytes first keeps both the lookups and the decoding to the matches.
        if (!patterns.matches(entry->d_name, size) || reader.kind(entry) != FolderReader::File)
            continue;
        QByteArray native(entry->d_name, qsizetype(size));
        QByteArray sortKey = sortKeyOf(native);
        if (!sortKey.isEmpty())
            entries.push_back({ std::move(native), std::move(sortKey) });
    }
    // Names equal but for case keep one fixed order, whatever order the folder returned them in.
    std::sort(entries.begin(), entries.end(), [](const FileEntry &a, const FileEntry &b) {
        const int byKey = a.sortKey.compare(b.sortKey);
        return byKey != 0 ? byKey < 0 : a.native < b.native;
    });

    folderPath = folder;
    hasFolder = true;
    patternText = newPattern;
    names->setEntries(std::move(entries));
}
