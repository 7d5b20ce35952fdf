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
    /// Makes drive ("C:" or "c:") current; emits driveChanged when that changes it.
    void setDrive(const QString &drive);

Q_SIGNALS:
    /// The current drive changed, by the user or by the program.
    void driveChanged(const QString &drive);

protected:
    void showPopup() override;
};
