#include "browser/FolderList.h"

#include "BrowserFixture.h"
#include "app/desktop/DesktopError.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

class tst_FolderList : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void chainThenSubfolders();
    void acceptedPathForms_data();
    void acceptedPathForms();
    void notifiesOnlyRealChanges();
    void failureKeepsPathAndContents_data();
    void failureKeepsPathAndContents();
    void permissionDenied();
    void pulledMediumIsUnavailable();
    void activationMakesCurrent();
    void activatingVanishedFolderReportsFailure();
    void oddNamesNavigate();

private:
    QStringList shownTexts() const;
    QList<int> levels() const;
    QModelIndex rowOf(const QString &text) const;
    void doubleClick(const QModelIndex &index);

    std::unique_ptr<BrowserFixture> fixture;
    std::unique_ptr<FolderList> list;
    QString workingDirectory;
};

void tst_FolderList::init()
{
    workingDirectory = QDir::currentPath();
    fixture = std::make_unique<BrowserFixture>();
    list = std::make_unique<FolderList>();
    list->setDriveMap(*fixture->drives);
    // sounds/{voice, Alpha, beta, .cache} plus files and links beside them.
    for (const char *folder : {"d/sounds", "d/sounds/voice", "d/sounds/Alpha", "d/sounds/beta", "d/sounds/.cache",
                               "d/sounds/voice/deep"})
        QVERIFY(makeFolder(fixture->nativeBytes(folder)));
    QVERIFY(makeFile(fixture->nativeBytes("d/sounds/file.wav")));
    QVERIFY(::symlink("beta", fixture->nativeBytes("d/sounds/linked").constData()) == 0);
    QVERIFY(::symlink("nowhere", fixture->nativeBytes("d/sounds/dangling").constData()) == 0);
    QVERIFY(::symlink("file.wav", fixture->nativeBytes("d/sounds/filelink").constData()) == 0);
    QVERIFY(makeFolder(fixture->nativeBytes("d/sounds/bad\xff")));
}

void tst_FolderList::cleanup()
{
    list.reset();
    fixture.reset();
    QCOMPARE(QDir::currentPath(), workingDirectory);
}

QStringList tst_FolderList::shownTexts() const
{
    QStringList texts;
    for (int row = 0; row < list->model()->rowCount(); ++row)
        texts.append(list->model()->index(row, 0).data().toString());
    return texts;
}

QList<int> tst_FolderList::levels() const
{
    QList<int> result;
    for (int row = 0; row < list->model()->rowCount(); ++row)
        result.append(list->model()->index(row, 0).data(Qt::UserRole).toInt());
    return result;
}

QModelIndex tst_FolderList::rowOf(const QString &text) const
{
    const qsizetype row = shownTexts().indexOf(text);
    return row < 0 ? QModelIndex() : list->model()->index(int(row), 0);
}

void tst_FolderList::doubleClick(const QModelIndex &index)
{
    QVERIFY(index.isValid());
    list->scrollTo(index);
    const QPoint at = list->visualRect(index).center();
    // A double click is a press, release, then a double-click event.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

void tst_FolderList::chainThenSubfolders()
{
    list->setPath(QStringLiteral("D:\\sounds\\voice"));
    QCOMPARE(shownTexts(), (QStringList{"D:\\", "sounds", "voice", "deep"}));
    QCOMPARE(levels(), (QList<int>{0, 1, 2, 3}));

    list->setPath(QStringLiteral("D:\\sounds"));
    // Dot-folders, files, dangling links and names without an exact drive form are not listed.
    QCOMPARE(shownTexts(), (QStringList{"D:\\", "sounds", "Alpha", "beta", "linked", "voice"}));
    QCOMPARE(list->subfolders(), (QStringList{"Alpha", "beta", "linked", "voice"}));
    QCOMPARE(levels(), (QList<int>{0, 1, 2, 2, 2, 2}));
    QVERIFY(!list->model()->index(1, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
    // The current folder is the highlighted entry.
    QCOMPARE(list->currentIndex().row(), 1);

    list->setPath(QStringLiteral("D:"));
    QCOMPARE(shownTexts(), (QStringList{"D:\\", "sounds"}));
}

void tst_FolderList::acceptedPathForms_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("path");

    QTest::newRow("drive text") << QStringLiteral("D:") << QStringLiteral("D:\\");
    QTest::newRow("lower-case drive root") << QStringLiteral("d:\\") << QStringLiteral("D:\\");
    QTest::newRow("full path") << QStringLiteral("D:\\sounds\\voice") << QStringLiteral("D:\\sounds\\voice");
    QTest::newRow("trailing backslash") << QStringLiteral("D:\\sounds\\") << QStringLiteral("D:\\sounds");
    QTest::newRow("doubled backslash") << QStringLiteral("D:\\\\sounds") << QStringLiteral("D:\\sounds");
    QTest::newRow("root drive") << QStringLiteral("C:") << QStringLiteral("C:\\");
}

void tst_FolderList::acceptedPathForms()
{
    QFETCH(QString, given);
    QFETCH(QString, path);

    list->setPath(given);
    QCOMPARE(list->path(), path);
    QCOMPARE(list->model()->index(0, 0).data().toString(), path.left(3));
}

void tst_FolderList::notifiesOnlyRealChanges()
{
    QSignalSpy changes(list.get(), &FolderList::pathChanged);
    QCOMPARE(list->path(), QString());

    list->setPath(QStringLiteral("D:"));
    QCOMPARE(changes.size(), 1);
    QCOMPARE(changes.at(0).at(0).toString(), QStringLiteral("D:\\"));

    list->setPath(QStringLiteral("d:\\"));
    QCOMPARE(changes.size(), 1);

    list->setPath(QStringLiteral("D:\\sounds\\"));
    list->setPath(QStringLiteral("D:\\sounds"));
    QCOMPARE(changes.size(), 2);
    QCOMPARE(changes.at(1).at(0).toString(), QStringLiteral("D:\\sounds"));

    // The same folder set again is read again: a new subfolder shows, still without a notification.
    QVERIFY(makeFolder(fixture->nativeBytes("d/sounds/gamma")));
    list->setPath(QStringLiteral("D:\\sounds"));
    QVERIFY(list->subfolders().contains(QStringLiteral("gamma")));
    QCOMPARE(changes.size(), 2);

    // Reaching C: through the temporary folder's real path.
    const QString onC = onDriveC(fixture->native("d/sounds"));
    list->setPath(onC);
    QCOMPARE(list->path(), onC);
    QCOMPARE(changes.size(), 3);
    QCOMPARE(shownTexts().first(), QStringLiteral("C:\\"));
    QVERIFY(list->subfolders().contains(QStringLiteral("voice")));
}

void tst_FolderList::failureKeepsPathAndContents_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("number");

    QTest::newRow("drive without a medium") << QStringLiteral("E:") << int(DesktopError::DeviceUnavailable);
    QTest::newRow("unknown drive") << QStringLiteral("Q:") << int(DesktopError::DeviceUnavailable);
    QTest::newRow("missing folder") << QStringLiteral("D:\\nothing") << int(DesktopError::PathNotFound);
    QTest::newRow("a file, not a folder") << QStringLiteral("D:\\sounds\\file.wav") << int(DesktopError::PathNotFound);
    QTest::newRow("dangling link") << QStringLiteral("D:\\sounds\\dangling") << int(DesktopError::PathNotFound);
    QTest::newRow("parent step") << QStringLiteral("D:\\..") << int(DesktopError::PathNotFound);
    QTest::newRow("slash inside a name") << QStringLiteral("D:\\sounds/voice") << int(DesktopError::PathNotFound);
    QTest::newRow("no drive letter") << QStringLiteral("sounds") << int(DesktopError::PathNotFound);
}

void tst_FolderList::failureKeepsPathAndContents()
{
    QFETCH(QString, path);
    QFETCH(int, number);

    list->setPath(QStringLiteral("D:\\sounds"));
    const QStringList before = shownTexts();
    QSignalSpy changes(list.get(), &FolderList::pathChanged);
    try {
        list->setPath(path);
        QFAIL("setPath did not fail");
    } catch (const DesktopError &error) {
        QCOMPARE(error.number, number);
    }
    QCOMPARE(list->path(), QStringLiteral("D:\\sounds"));
    QCOMPARE(shownTexts(), before);
    QCOMPARE(changes.size(), 0);
}

void tst_FolderList::permissionDenied()
{
    QVERIFY(::chmod(QFile::encodeName(fixture->tree.path()).constData(), 0755) == 0);
    QVERIFY(makeFolder(fixture->nativeBytes("d/sounds/locked")));
    QVERIFY(::chmod(QFile::encodeName(fixture->native("d/sounds/locked")).constData(), 0) == 0);
    list->setPath(QStringLiteral("D:\\sounds"));
    QSignalSpy changes(list.get(), &FolderList::pathChanged);
    QSignalSpy failures(list.get(), &FolderList::failed);

    {
        UnprivilegedScope unprivileged;
        if (!unprivileged.ok())
            QSKIP("root cannot give up its privileges here, and root reads any folder");
        try {
            list->setPath(QStringLiteral("D:\\sounds\\locked"));
            QFAIL("setPath did not fail");
        } catch (const DesktopError &error) {
            QCOMPARE(error.number, int(DesktopError::PermissionDenied));
            QVERIFY(error.description.contains(QStringLiteral("D:\\sounds\\locked")));
        }
        // The same through the user's activation: reported, not thrown.
        list->setCurrentIndex(rowOf(QStringLiteral("locked")));
        QTest::keyClick(list.get(), Qt::Key_Return);
    }
    QVERIFY(::chmod(QFile::encodeName(fixture->native("d/sounds/locked")).constData(), 0755) == 0);
    QCOMPARE(failures.size(), 1);
    QCOMPARE(failures.at(0).at(0).value<DesktopError>().number, int(DesktopError::PermissionDenied));
    QCOMPARE(list->path(), QStringLiteral("D:\\sounds"));
    QCOMPARE(changes.size(), 0);
}

void tst_FolderList::pulledMediumIsUnavailable()
{
    list->setPath(QStringLiteral("D:\\sounds"));
    list->setPath(QStringLiteral("C:\\"));
    // The stick is pulled out: the scan no longer lists it, though its folder is still there.
    fixture->volumes.removeFirst();
    try {
        list->setPath(QStringLiteral("D:\\sounds"));
        QFAIL("setPath did not fail");
    } catch (const DesktopError &error) {
        QCOMPARE(error.number, int(DesktopError::DeviceUnavailable));
    }
    QCOMPARE(list->path(), QStringLiteral("C:\\"));

    // Plugged in again, at a mount point whose folder is gone meanwhile.
    fixture->volumes.prepend({fixture->native("d"), true});
    list->setPath(QStringLiteral("D:\\sounds"));
    QVERIFY(removeTree(fixture->nativeBytes("d")));
    try {
        list->setPath(QStringLiteral("D:"));
        QFAIL("setPath did not fail");
    } catch (const DesktopError &error) {
        QCOMPARE(error.number, int(DesktopError::DeviceUnavailable));
    }
    QCOMPARE(list->path(), QStringLiteral("D:\\sounds"));
}

void tst_FolderList::activationMakesCurrent()
{
    list->resize(200, 400);
    list->show();
    QVERIFY(QTest::qWaitForWindowExposed(list.get()));
    list->setPath(QStringLiteral("D:\\sounds"));
    QSignalSpy changes(list.get(), &FolderList::pathChanged);
    QSignalSpy failures(list.get(), &FolderList::failed);

    doubleClick(rowOf(QStringLiteral("voice")));
    QCOMPARE(list->path(), QStringLiteral("D:\\sounds\\voice"));
    QCOMPARE(changes.size(), 1);
    QCOMPARE(changes.at(0).at(0).toString(), QStringLiteral("D:\\sounds\\voice"));

    // Enter on a chain entry climbs back up.
    list->setCurrentIndex(rowOf(QStringLiteral("D:\\")));
    QTest::keyClick(list.get(), Qt::Key_Return);
    QCOMPARE(list->path(), QStringLiteral("D:\\"));
    QCOMPARE(changes.size(), 2);

    // Activating the current folder changes nothing.
    list->setCurrentIndex(rowOf(QStringLiteral("D:\\")));
    QTest::keyClick(list.get(), Qt::Key_Enter);
    QCOMPARE(changes.size(), 2);

    // A link to a folder opens under its own name.
    list->setPath(QStringLiteral("D:\\sounds"));
    doubleClick(rowOf(QStringLiteral("linked")));
    QCOMPARE(list->path(), QStringLiteral("D:\\sounds\\linked"));
    QCOMPARE(failures.size(), 0);
}

void tst_FolderList::activatingVanishedFolderReportsFailure()
{
    list->resize(200, 400);
    list->show();
    QVERIFY(QTest::qWaitForWindowExposed(list.get()));
    list->setPath(QStringLiteral("D:\\sounds"));
    QSignalSpy changes(list.get(), &FolderList::pathChanged);
    QSignalSpy failures(list.get(), &FolderList::failed);

    QVERIFY(QDir(fixture->native("d/sounds/beta")).removeRecursively());
    doubleClick(rowOf(QStringLiteral("beta")));
    QCOMPARE(failures.size(), 1);
    const DesktopError error = failures.at(0).at(0).value<DesktopError>();
    QCOMPARE(error.number, int(DesktopError::PathNotFound));
    QVERIFY(error.description.contains(QStringLiteral("D:\\sounds\\beta")));
    QCOMPARE(list->path(), QStringLiteral("D:\\sounds"));
    QCOMPARE(changes.size(), 0);
    QVERIFY(list->subfolders().contains(QStringLiteral("beta")));
}

void tst_FolderList::oddNamesNavigate()
{
    const QByteArray odd = "it's $(x) `y`; a&b|c\nd -e \\ f \xc3\xa9";
    QVERIFY(makeFolder(fixture->nativeBytes("d/" + odd)));
    QVERIFY(makeFolder(fixture->nativeBytes("d/" + odd + "/inner")));
    const QString driveForm = QString::fromUtf8(odd).replace(QLatin1Char('\\'), DriveMap::BackslashInName);

    list->setPath(QStringLiteral("D:\\"));
    QCOMPARE(list->subfolders(), (QStringList{driveForm, "sounds"}));
    QCOMPARE(shownTexts().at(1), QString::fromUtf8(odd));

    list->setCurrentIndex(list->model()->index(1, 0));
    QTest::keyClick(list.get(), Qt::Key_Return);
    QCOMPARE(list->path(), QStringLiteral("D:\\") + driveForm);
    QCOMPARE(list->subfolders(), QStringList{"inner"});
    QCOMPARE(shownTexts().at(1), QString::fromUtf8(odd));
}

QTEST_MAIN(tst_FolderList)
#include "tst_folderlist.moc"
