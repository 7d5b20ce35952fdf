#include "DriveList.h"

#include "desktop/DesktopError.h"
#include "desktop/DriveMap.h"

#include <QSignalBlocker>

DriveList::DriveList(QWidget *parent)
    : QComboBox(parent)
{
    // Fires for the user's choice; the program's own changes go through setDrive().
    connect(this, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            select(itemData(index).toString());
    });
}

void DriveList::setDriveMap(DriveMap &driveMap)
{
    drives = &driveMap;
    fill();
}

QString DriveList::drive() const
{
    return current;
}

void DriveList::setDrive(const QString &drive)
{
    const QString letter = drive.left(2).toUpper();
    int index = drive.size() >= 2 && drive.at(1) == QLatin1Char(':') ? findData(letter) : -1;
    if (index < 0 && drives && drive.size() >= 2) {
        drives->rescan();
        fill();
        index = findData(letter);
    }
    if (index < 0)
        throw DesktopError { DesktopError::DeviceUnavailable, QStringLiteral("%1: no such drive").arg(drive) };
    {
        const QSignalBlocker blocker(this);
        setCurrentIndex(index);
    }
    select(letter);
}

void DriveList::showPopup()
{
    if (drives) {
        drives->rescan();
        fill();
    }
    QComboBox::showPopup();
}

void DriveList::fill()
{
    const QSignalBlocker blocker(this);
    clear();
    for (const QString &letter : drives->drives())
        addItem(letter + QLatin1String("  ") + drives->mountPoint(letter), letter);
    // Before the program sets a drive none is shown, so that the first setDrive() notifies.
    setCurrentIndex(findData(current));
}

void DriveList::select(const QString &drive)
{
    if (drive == current)
        return;
    current = drive;
    emit driveChanged(current);
}
