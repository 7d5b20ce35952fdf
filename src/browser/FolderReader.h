#pragma once

#include <QString>

#include <dirent.h>

class DriveMap;
struct DrivePath;

/// Reads one folder's entries straight from readdir, without a stat per entry: only entries
/// whose type the listing does not tell (symbolic links, some file systems) are looked up.
class FolderReader
{
public:
    enum Kind { Other, File, Folder };

    /// Opens the folder of path; throws DesktopError as openFolder() does.
    FolderReader(const DriveMap &drives, const DrivePath &path);
    ~FolderReader();
    FolderReader(const FolderReader &) = delete;
    FolderReader &operator=(const FolderReader &) = delete;

    /// The next entry whose name does not start with a dot, or nullptr at the end; throws
    /// DesktopError when the folder cannot be read on.
    const dirent *next();
    /// What entry is, following a symbolic link; a dangling link is Other.
    Kind kind(const dirent *entry) const;

private:
    DIR *dir = nullptr;
    QString path;
};
