#pragma once

#include <QComboBox>

class DriveMap;

/// The drive list: the machine's drives in drive-letter form. Re-reads the volumes whenever
/// its list is opened.
class DriveList : public QComboBox
{
    Q_OBJECT
    Q_PROPERTY(QString drive READ drive WRITE setDrive NOTIFY driveChanged)

public:
    explicit DriveList(QWidget *parent = nullptr);

    /// The drives to list; must outlive the list.
    void setDriveMap(DriveMap &drives);
    /// The current drive as text, "C:"; empty before one is set.
    QString drive() const;
    /// Makes drive ("C:" or "c:") current; emits driveChanged when that changes it. Throws
    /// DesktopError 68 for a drive that is not known even after a rescan.
    void setDrive(const QString &drive);

Q_SIGNALS:
    /// The current drive changed, by the user or by the program.
    void driveChanged(const QString &drive);

protected:
    void showPopup() override;

private:
    /// Lists the drives of the map again, showing the current one, without any notification.
    void fill();
    void select(const QString &drive);

    DriveMap *drives = nullptr;
    QString current;
};
