#pragma once

#include "browser/DrivePath.h"
#include "browser/FilePatterns.h"

#include <QListView>

class DriveMap;
class FileListModel;

/// The file list: the files of one folder whose names match any of its ";"-separated wildcard
/// patterns, case-insensitively, sorted by name, dot-files hidden. One entry can be selected;
/// as in a list box, the keyboard selects the entry its caret lands on.
class FileList : public QListView
{
    Q_OBJECT

public:
    explicit FileList(QWidget *parent = nullptr);

    /// The drives that paths are read through; must outlive the list.
    void setDriveMap(DriveMap &drives);
    /// The folder listed, in drive form.
    QString path() const;
    /// Lists folder; throws DesktopError and keeps the old folder and list when it cannot be read.
    void setPath(const QString &folder);
    QString pattern() const;
    /// Sets the patterns, such as "*.wav;*.ogg", and re-reads the folder.
    void setPattern(const QString &pattern);
    /// The bare name of the selected entry in drive form; empty when nothing is selected.
    QString fileName() const;
    /// Every name listed, in order.
    QStringList fileNames() const;
    /// Re-reads the folder with the current path and pattern; throws DesktopError on failure.
    void refresh();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void read(const DrivePath &folder, const QString &patternText);

    DriveMap *drives = nullptr;
    FileListModel *names;
    bool hasFolder = false;
    DrivePath folderPath;
    QString patternText;
};
