#pragma once

#include "desktop/DesktopError.h"
#include "browser/DrivePath.h"

#include <QListView>

class DriveMap;
class FolderListModel;

/// The folder list: the chain of folders from the drive's root to the current folder, then the
/// current folder's subfolders, indented. Activating an entry (double click, Enter) makes it current.
class FolderList : public QListView
{
    Q_OBJECT
    Q_PROPERTY(QString path READ path NOTIFY pathChanged)

public:
    explicit FolderList(QWidget *parent = nullptr);

    /// The drives that paths are read through; must outlive the list.
    void setDriveMap(DriveMap &drives);
    /// The current folder in drive form, "C:\" or "D:\sounds"; empty before one is set.
    QString path() const;
    /// Makes a folder current: a full drive-form path, or a drive's text such as "D:" (its root).
    /// Emits pathChanged when the path changes. Throws DesktopError and keeps the path when the
    /// folder cannot be read: 68 for a drive without a medium, 76 for a missing folder.
    void setPath(const QString &path);
    /// The current folder's subfolders in drive form, in the order listed.
    QStringList subfolders() const;

Q_SIGNALS:
    /// The current folder changed, by the user or by the program.
    void pathChanged(const QString &path);
    /// A folder the user activated could not be opened.
    void failed(const DesktopError &error);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    /// Reads folder and shows it; throws and changes nothing on failure. True when the path changed.
    bool load(const DrivePath &folder);
    void activate(const QModelIndex &index);

    DriveMap *drives = nullptr;
    FolderListModel *rows;
    bool hasFolder = false;
    DrivePath current;
};
