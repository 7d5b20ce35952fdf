#include "FileList.h"

#include "desktop/DesktopError.h"
#include "desktop/DriveMap.h"
#include "browser/FolderReader.h"

#include <QAbstractListModel>
#include <QKeyEvent>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

/// One listed name: where its native bytes and its sort key lie in the listing's text. The sort
/// key is the drive-form name case-folded, as UTF-8.
struct FileEntry
{
    qsizetype offset; ///< the native name, followed by the sort key
    quint32 nativeSize;
    quint32 keySize;
    quint64 keyChunk; ///< eight bytes of the key, while sorting
};

/// The names of one folder, with every name and sort key back to back in one text, so that a
/// folder of any size costs a few allocations, not two per entry.
struct Listing
{
    using Entries = std::vector<FileEntry>;
    QByteArray text;
    Entries entries;

    QByteArrayView native(const FileEntry &e) const { return { text.constData() + e.offset, e.nativeSize }; }
    QByteArrayView key(const FileEntry &e) const { return { text.constData() + e.offset + e.nativeSize, e.keySize }; }

    /// Adds a native name and its sort key; a name without a drive form is left out. Plain ASCII
    /// names, nearly all of them, need no decoding: their key is the name lower-cased.
    void append(const char *name, std::size_t size)
    {
        const qsizetype offset = text.size();
        const bool plain
            = std::all_of(name, name + size, [](char c) { return static_cast<unsigned char>(c) < 0x80 && c != '\\'; });
        if (plain) {
            text.append(name, qsizetype(size)).append(name, qsizetype(size));
            char *key = text.data() + offset + qsizetype(size);
            std::transform(key, key + size, key, [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
        } else {
            const QString driveForm = DriveMap::nameToDriveForm(QByteArray(name, qsizetype(size)));
            if (driveForm.isEmpty())
                return;
            text.append(name, qsizetype(size)).append(driveForm.toCaseFolded().toUtf8());
        }
        entries.push_back({ offset, quint32(size), quint32(text.size() - offset - qsizetype(size)), 0 });
    }

    /// Sorts by key, byte by byte; names equal but for case keep one fixed order, by their native
    /// bytes, whatever order the folder returned them in.
    void sort() { sort(entries.begin(), entries.end(), 0); }

private:
    /// Sorts entries whose keys agree before depth by eight key bytes at a time, read as one number
    /// so that the sort compares numbers, not text; each run that agrees on them is then sorted by
    /// the next eight. Keys hold no zero byte, so zero padding sorts a shorter key first, and a
    /// zero chunk means the keys have ended, equal.
    void sort(Entries::iterator begin, Entries::iterator end, qsizetype depth)
    {
        for (auto e = begin; e != end; ++e) {
            const QByteArrayView k = key(*e);
            e->keyChunk = 0;
            for (qsizetype i = depth; i < depth + 8; ++i)
                e->keyChunk = e->keyChunk << 8 | (i < k.size() ? quint8(k[i]) : 0);
        }
        std::sort(begin, end, [](const FileEntry &a, const FileEntry &b) { return a.keyChunk < b.keyChunk; });
        while (begin != end) {
            const quint64 chunk = begin->keyChunk;
            const auto run = std::find_if(begin, end, [&](const FileEntry &e) { return e.keyChunk != chunk; });
            if (chunk == 0)
                std::sort(begin, run, [this](const FileEntry &a, const FileEntry &b) { return native(a) < native(b); });
            else if (run - begin > 1)
                sort(begin, run, depth + 8);
            begin = run;
        }
    }
};

} // namespace

/// The names of a FileList, kept as native bytes; no object per entry.
class FileListModel : public QAbstractListModel
{
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(listing.entries.size());
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= rowCount())
            return QVariant();
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
            return DriveMap::displayName(name(index.row()));
        return QVariant();
    }

    void setListing(Listing newListing)
    {
        beginResetModel();
        listing = std::move(newListing);
        endResetModel();
    }

    /// Names are decoded when asked for, which is mostly for the few rows on screen.
    QString name(int row) const
    {
        const QByteArrayView native = listing.native(listing.entries[std::size_t(row)]);
        return FolderReader::driveFormName(native.data(), std::size_t(native.size()));
    }
    int rowOf(const QString &name) const
    {
        const QByteArray native = DriveMap::nameToNative(name);
        const auto it = std::find_if(listing.entries.begin(), listing.entries.end(),
            [&](const FileEntry &e) { return listing.native(e) == native; });
        return name.isEmpty() || it == listing.entries.end() ? -1 : int(it - listing.entries.begin());
    }

private:
    Listing listing;
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
    Listing listing;
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
