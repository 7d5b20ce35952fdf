#include "FileList.h"

#include "app/desktop/DesktopError.h"
#include "app/desktop/DriveMap.h"
#include "browser/FolderReader.h"

#include <QAbstractListModel>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

struct FileEntry
{
    QString name;    ///< drive form
    QString sortKey; ///< case-folded name
};

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
            return DriveMap::displayName(entries[std::size_t(index.row())].name);
        return QVariant();
    }

    void setEntries(std::vector<FileEntry> newEntries)
    {
        beginResetModel();
        entries = std::move(newEntries);
        endResetModel();
    }

    const QString &name(int row) const { return entries[std::size_t(row)].name; }
    int rowOf(const QString &name) const
    {
        const auto it = std::find_if(entries.begin(), entries.end(), [&](const FileEntry &e) { return e.name == name; });
        return it == entries.end() ? -1 : int(it - entries.begin());
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

void FileList::read(const DrivePath &folder, const QString &newPattern)
{
    if (!drives)
        throw DesktopError{DesktopError::PathNotFound, QStringLiteral("%1: no drives").arg(folder.toString())};

    // Everything is read before anything changes, so a failure keeps the old folder and list.
    const FilePatterns patterns(newPattern);
    std::vector<FileEntry> entries;
    FolderReader reader(*drives, folder);
    while (const dirent *entry = reader.next()) {
        const std::size_t size = std::strlen(entry->d_name);
        // Matching the raw bytes first keeps both the lookups and the decoding to the matches.
        if (!patterns.matches(entry->d_name, size) || reader.kind(entry) != FolderReader::File)
            continue;
        QString name = FolderReader::driveFormName(entry->d_name, size);
        if (!name.isEmpty())
            entries.push_back({name, name.toCaseFolded()});
    }
    // Names equal but for case keep one fixed order, whatever order the folder returned them in.
    std::sort(entries.begin(), entries.end(), [](const FileEntry &a, const FileEntry &b) {
        const int byKey = a.sortKey.compare(b.sortKey);
        return byKey != 0 ? byKey < 0 : a.name < b.name;
    });

    folderPath = folder;
    hasFolder = true;
    patternText = newPattern;
    names->setEntries(std::move(entries));
}
