#include "FolderReader.h"

#include "desktop/DesktopError.h"
#include "desktop/DriveMap.h"
#include "browser/DrivePath.h"

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

FolderReader::FolderReader(const DriveMap &drives, const DrivePath &folder)
    : path(folder.toString())
{
    const int fd = openFolder(drives, folder);
    dir = ::fdopendir(fd);
    if (!dir) {
        const int error = errno;
        ::close(fd);
        throw DesktopError::fromErrno(error, path);
    }
}

FolderReader::~FolderReader()
{
    ::closedir(dir);
}

const dirent *FolderReader::next()
{
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir);
        if (!entry) {
            if (errno != 0)
                throw DesktopError::fromErrno(errno, path);
            return nullptr;
        }
        // Covers "." and "..", and the dot-names that are hidden by convention.
        if (entry->d_name[0] != '.')
            return entry;
    }
}

FolderReader::Kind FolderReader::kind(const dirent *entry) const
{
    switch (entry->d_type) {
    case DT_REG:
        return File;
    case DT_DIR:
        return Folder;
    case DT_LNK:
    case DT_UNKNOWN:
        break;
    default:
        return Other;
    }
    struct stat status;
    if (::fstatat(::dirfd(dir), entry->d_name, &status, 0) != 0)
        return Other;
    if (S_ISREG(status.st_mode))
        return File;
    return S_ISDIR(status.st_mode) ? Folder : Other;
}
