#include "browser/DriveList.h"

#include "BrowserFixture.h"
#include "app/desktop/DesktopError.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

class tst_DriveList : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void listsDrivesWithMountPoints();
    void programChangeNotifiesOnce();
    void userChoiceNotifiesOnce();
    void unknownDriveFails();
    void openingRescansSilently();

private:
    QStringList texts() const;

    std::unique_ptr<BrowserFixture> fixture;
    std::unique_ptr<DriveList> list;
};

void tst_DriveList::init()
{
    fixture = std::make_unique<BrowserFixture>();
    list = std::make_unique<DriveList>();
    list->setDriveMap(*fixture->drives);
}

void tst_DriveList::cleanup()
{
    list.reset();
    fixture.reset();
}

QStringList tst_DriveList::texts() const
{
    QStringList result;
    for (int i = 0; i < list->count(); ++i)
        result.append(list->itemText(i));
    return result;
}

void tst_DriveList::listsDrivesWithMountPoints()
{
    QCOMPARE(texts(), (QStringList{QStringLiteral("C:  /"), QStringLiteral("D:  ") + fixture->native("d"),
                                   QStringLiteral("E:  ") + fixture->native("e")}));
    // Nothing is current until the program sets a drive.
    QCOMPARE(list->drive(), QString());
}

void tst_DriveList::programChangeNotifiesOnce()
{
    QSignalSpy changes(list.get(), &DriveList::driveChanged);
    list->setDrive(QStringLiteral("c:"));
    QCOMPARE(list->drive(), QStringLiteral("C:"));
    QCOMPARE(changes.size(), 1);
    QCOMPARE(changes.at(0).at(0).toString(), QStringLiteral("C:"));

    list->setDrive(QStringLiteral("C:"));
    QCOMPARE(changes.size(), 1);

    // An unavailable drive can still be chosen: the folder list reports it.
    list->setDrive(QStringLiteral("E:"));
    QCOMPARE(changes.size(), 2);
    QCOMPARE(list->drive(), QStringLiteral("E:"));
    QCOMPARE(list->currentText(), QStringLiteral("E:  ") + fixture->native("e"));
    QCOMPARE(list->property("drive").toString(), QStringLiteral("E:"));
}

void tst_DriveList::userChoiceNotifiesOnce()
{
    list->setDrive(QStringLiteral("C:"));
    QSignalSpy changes(list.get(), &DriveList::driveChanged);

    QTest::keyClick(list.get(), Qt::Key_Down);
    QCOMPARE(changes.size(), 1);
    QCOMPARE(changes.at(0).at(0).toString(), QStringLiteral("D:"));
    QCOMPARE(list->drive(), QStringLiteral("D:"));

    QTest::keyClick(list.get(), Qt::Key_Down);
    QTest::keyClick(list.get(), Qt::Key_Up);
    QCOMPARE(changes.size(), 3);
    QCOMPARE(list->drive(), QStringLiteral("D:"));
}

void tst_DriveList::unknownDriveFails()
{
    list->setDrive(QStringLiteral("D:"));
    QSignalSpy changes(list.get(), &DriveList::driveChanged);
    for (const QString &bad : {QStringLiteral("Q:"), QStringLiteral("D"), QString()}) {
        try {
            list->setDrive(bad);
            QFAIL(qPrintable(QStringLiteral("no error for \"%1\"").arg(bad)));
        } catch (const DesktopError &error) {
            QCOMPARE(error.number, int(DesktopError::DeviceUnavailable));
        }
    }
    QCOMPARE(list->drive(), QStringLiteral("D:"));
    QCOMPARE(changes.size(), 0);

    // A volume mounted since the last look is found without opening the list.
    fixture->volumes.append({fixture->native("f"), true});
    list->setDrive(QStringLiteral("F:"));
    QCOMPARE(list->drive(), QStringLiteral("F:"));
    QCOMPARE(changes.size(), 1);
}

void tst_DriveList::openingRescansSilently()
{
    list->show();
    QVERIFY(QTest::qWaitForWindowExposed(list.get()));
    list->setDrive(QStringLiteral("D:"));
    QSignalSpy changes(list.get(), &DriveList::driveChanged);

    fixture->volumes.append({fixture->native("f"), true});
    fixture->volumes.removeFirst();
    static_cast<QComboBox *>(list.get())->showPopup();
    QCOMPARE(list->count(), 4);
    QCOMPARE(list->itemText(3), QStringLiteral("F:  ") + fixture->native("f"));
    // D: was pulled out but keeps its letter and stays the current drive.
    QCOMPARE(list->drive(), QStringLiteral("D:"));
    QCOMPARE(list->currentIndex(), 1);
    QCOMPARE(changes.size(), 0);
    QVERIFY(!fixture->drives->isAvailable(QStringLiteral("D:")));
    list->hidePopup();
    QCOMPARE(changes.size(), 0);
}

QTEST_MAIN(tst_DriveList)
#include "tst_drivelist.moc"
