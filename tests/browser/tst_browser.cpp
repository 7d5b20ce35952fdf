#include "browser/DriveList.h"
#include "browser/FileList.h"
#include "browser/FolderList.h"

#include "desktop/DesktopError.h"
#include "desktop/DriveMap.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/// Runs a scope as an unprivileged user when the tests run as root, who reads any folder
/// whatever its permissions; the saved root id brings root back afterwards.
struct UnprivilegedScope
{
    const bool wasRoot = ::geteuid() == 0;
    const bool ok = !wasRoot || (::setegid(65534) == 0 && ::seteuid(65534) == 0);
    ~UnprivilegedScope()
    {
        if (wasRoot && (::seteuid(0) != 0 || ::setegid(0) != 0))
            qFatal("cannot become root again");
    }
};

/// The error a change throws; number 0 when it throws none.
template<typename Change> DesktopError errorOf(const Change &change)
{
    try {
        change();
    } catch (const DesktopError &error) {
        return error;
    }
    return {};
}

} // namespace

class tst_Browser : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void fileMatching_data();
    void fileMatching();
    void selectionAndRefresh();
    void failureKeepsState_data();
    void failureKeepsState();
    void folderChainAndActivation();
    void bothListsInOneOrder_data();
    void bothListsInOneOrder();
    void namesArriveExactly_data();
    void namesArriveExactly();
    void drivesFollowTheVolumes();

private:
    QString native(const QString &relative) const { return tree->path() + QLatin1Char('/') + relative; }
    /// Creates entries under the D: volume: "name" a file, "name/" a folder, "name->target" a link.
    void make(const QList<QByteArray> &entries);
    QStringList folderTexts() const;
    QModelIndex folderRow(const QString &text) const
    {
        return folders->model()->index(int(folderTexts().indexOf(text)), 0);
    }

    // D: is tree/d, mounted; E: a mount point with nothing mounted.
    std::unique_ptr<QTemporaryDir> tree;
    QList<Volume> volumes;
    std::unique_ptr<DriveMap> drives;
    std::unique_ptr<FolderList> folders;
    std::unique_ptr<FileList> files;
};

void tst_Browser::init()
{
    tree = std::make_unique<QTemporaryDir>();
    // Open to the unprivileged user of the permission case.
    QVERIFY(::chmod(QFile::encodeName(tree->path()).constData(), 0755) == 0);
    QVERIFY(QDir(tree->path()).mkpath(QStringLiteral("d")));
    volumes = { { native("d"), true }, { native("e"), false } };
    drives = std::make_unique<DriveMap>([this] { return volumes; });
    folders = std::make_unique<FolderList>();
    files = std::make_unique<FileList>();
    folders->setDriveMap(*drives);
    files->setDriveMap(*drives);
}

void tst_Browser::cleanup()
{
    files.reset();
    folders.reset();
    drives.reset();
    // QDir cannot remove names that are not valid UTF-8.
    const auto removeOne = [](const char *entry, const struct stat *, int, struct FTW *) { return ::remove(entry); };
    ::chmod(QFile::encodeName(native("d/locked")).constData(), 0755);
    QVERIFY(::nftw(QFile::encodeName(tree->path()).constData(), removeOne, 16, FTW_DEPTH | FTW_PHYS) == 0);
    tree.reset();
}

void tst_Browser::make(const QList<QByteArray> &entries)
{
    const QByteArray d = QFile::encodeName(native("d")) + '/';
    for (const QByteArray &entry : entries) {
        const qsizetype arrow = entry.indexOf("->");
        if (arrow > 0) {
            QVERIFY(::symlink(entry.mid(arrow + 2).constData(), (d + entry.left(arrow)).constData()) == 0);
        } else if (entry.endsWith('/')) {
            QVERIFY(::mkdir((d + entry).constData(), 0755) == 0);
        } else {
            const int fd = ::open((d + entry).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            QVERIFY(fd >= 0 && ::close(fd) == 0);
        }
    }
}

QStringList tst_Browser::folderTexts() const
{
    QStringList texts;
    for (int row = 0; row < folders->model()->rowCount(); ++row)
        texts.append(folders->model()->index(row, 0).data().toString());
    return texts;
}

void tst_Browser::fileMatching_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QList<QByteArray>>("entries");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("question mark is one character, not one byte")
        << QStringLiteral("?.wav") << QList<QByteArray> { "a.wav", "ab.wav", "\xc3\xa9.wav", "\xe2\x82\xac.wav" }
        << QStringList { "a.wav", QStringLiteral("é.wav"), QStringLiteral("€.wav") };
    QTest::newRow("star in the middle backtracks")
        << QStringLiteral("v*01*.w?v") << QList<QByteArray> { "voice01.wav", "v0101x.wOv", "v1.wav", "voice01.wa" }
        << QStringList { "v0101x.wOv", "voice01.wav" };
    QTest::newRow("suffix in any case; dot-files, folders, links to no file and inexact names left out")
        << QStringLiteral("*.WAV")
        << QList<QByteArray> { "B.Wav", "wav", "e.wave", ".hidden.wav", "shown.wav", "dir.wav/", "real.ogg",
               "link.wav->real.ogg", "gone.wav->missing.wav", "dirlink.wav->dir.wav", "bad\xff.wav",
               "private\xef\x81\x9c.wav" }
        << QStringList { "B.Wav", "link.wav", "shown.wav" };
}

void tst_Browser::fileMatching()
{
    QFETCH(QString, pattern);
    QFETCH(QList<QByteArray>, entries);
    QFETCH(QStringList, expected);

    make(entries);
    files->setPattern(pattern);
    files->setPath(QStringLiteral("D:\\"));
    QCOMPARE(files->fileNames(), expected);
}

void tst_Browser::selectionAndRefresh()
{
    make({ "sounds/", "sounds/keep.wav", "sounds/vanish.wav", "sounds/b.txt" });
    files->setPattern(QStringLiteral("*.wav"));
    files->setPath(QStringLiteral("D:\\sounds"));
    files->show();
    files->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(files.get()));
    // Tabbing in puts the caret on the first entry and selects nothing; Home on the caret selects it.
    files->setFocus(Qt::TabFocusReason);
    QCOMPARE(files->fileName(), QString());
    QTest::keyClick(files.get(), Qt::Key_Home);
    QCOMPARE(files->fileName(), QStringLiteral("keep.wav"));

    QVERIFY(QFile::remove(native("d/sounds/vanish.wav")));
    files->refresh();
    QCOMPARE(files->fileNames(), QStringList { "keep.wav" });
    QCOMPARE(files->fileName(), QStringLiteral("keep.wav"));

    // The selected file itself vanishing must not leave another one selected.
    QVERIFY(QFile::remove(native("d/sounds/keep.wav")));
    files->refresh();
    QCOMPARE(files->fileName(), QString());

    // The folder going away fails the refresh, for the program to report.
    QVERIFY(QDir(native("d/sounds")).removeRecursively());
    QCOMPARE(errorOf([this] { files->refresh(); }).number, int(DesktopError::PathNotFound));
}

void tst_Browser::failureKeepsState_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("number");

    QTest::newRow("a file, not a folder") << QStringLiteral("D:\\sounds\\a.wav") << int(DesktopError::PathNotFound);
    QTest::newRow("parent steps") << QStringLiteral("D:\\sounds\\..\\..") << int(DesktopError::PathNotFound);
    QTest::newRow("slash inside a name") << QStringLiteral("D:\\sounds/../..") << int(DesktopError::PathNotFound);
    QTest::newRow("native path") << QStringLiteral("/tmp") << int(DesktopError::PathNotFound);
    QTest::newRow("folder that cannot be read") << QStringLiteral("D:\\locked") << int(DesktopError::PermissionDenied);
}

void tst_Browser::failureKeepsState()
{
    QFETCH(QString, path);
    QFETCH(int, number);

    make({ "sounds/", "sounds/voice/", "sounds/a.wav", "locked/" });
    QVERIFY(::chmod(QFile::encodeName(native("d/locked")).constData(), 0) == 0);
    folders->setPath(QStringLiteral("D:\\sounds"));
    files->setPath(QStringLiteral("D:\\sounds"));
    files->setCurrentIndex(files->model()->index(0, 0));

    UnprivilegedScope unprivileged;
    if (number == DesktopError::PermissionDenied && !unprivileged.ok)
        QSKIP("root cannot give up its privileges here, and root reads any folder");
    const auto failures = { errorOf([&] { folders->setPath(path); }), errorOf([&] { files->setPath(path); }) };
    for (const DesktopError &error : failures) {
        QCOMPARE(error.number, number);
        QVERIFY2(error.description.startsWith(path.left(2)), qPrintable(error.description));
    }
    QCOMPARE(folders->path(), QStringLiteral("D:\\sounds"));
    QCOMPARE(files->path(), QStringLiteral("D:\\sounds"));
    QCOMPARE(files->fileName(), QStringLiteral("a.wav"));
}

void tst_Browser::folderChainAndActivation()
{
    make({ "sounds/", "sounds/voice/", "sounds/voice/deep/", "sounds/Alpha/", "sounds/beta/", "sounds/bad\xff/",
        "sounds/file.wav", "sounds/linked->beta" });
    // Rows' icons larger than the style's folder icons, which are found only when first drawn.
    folders->setIconSize(QSize(300, 300));
    QVERIFY(folders->style()->standardIcon(QStyle::SP_DirOpenIcon).actualSize(folders->iconSize()).height() < 300);
    folders->resize(200, 400);
    folders->show();
    QVERIFY(QTest::qWaitForWindowExposed(folders.get()));
    folders->setPath(QStringLiteral("d:\\\\sounds\\voice\\"));
    QCOMPARE(folders->path(), QStringLiteral("D:\\sounds\\voice"));
    QCOMPARE(folderTexts(), (QStringList { "D:\\", "sounds", "voice", "deep" }));
    // Found when drawn, they still make the rows as high as they would from the start.
    folders->viewport()->repaint();
    QCoreApplication::processEvents();
    const int drawnHeight = folders->visualRect(folderRow(QStringLiteral("deep"))).height();
    folders->doItemsLayout();
    QCOMPARE(folders->visualRect(folderRow(QStringLiteral("deep"))).height(), drawnHeight);

    folders->setPath(QStringLiteral("D:\\sounds"));
    // Files and names without an exact drive form are not listed; links to folders are.
    QCOMPARE(folderTexts(), (QStringList { "D:\\", "sounds", "Alpha", "beta", "linked", "voice" }));
    QCOMPARE(folders->currentIndex().row(), 1);
    QSignalSpy changes(folders.get(), &FolderList::pathChanged);
    QSignalSpy failures(folders.get(), &FolderList::failed);

    // As from a mouse: the view takes a double click only on the entry pressed before.
    const QPoint at = folders->visualRect(folderRow(QStringLiteral("voice"))).center();
    QTest::mouseClick(folders->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(folders->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(folders->path(), QStringLiteral("D:\\sounds\\voice"));
    QCOMPARE(changes.size(), 1);

    // Enter on a chain entry climbs back up; on the current folder it changes nothing.
    folders->setCurrentIndex(folderRow(QStringLiteral("D:\\")));
    QTest::keyClick(folders.get(), Qt::Key_Enter);
    QCOMPARE(folders->path(), QStringLiteral("D:\\"));
    QTest::keyClick(folders.get(), Qt::Key_Return);
    QCOMPARE(changes.size(), 2);

    // A folder gone since it was listed is reported, not thrown: activation runs from the event loop.
    folders->setPath(QStringLiteral("D:\\sounds"));
    QVERIFY(QDir(native("d/sounds/beta")).removeRecursively());
    folders->setCurrentIndex(folderRow(QStringLiteral("beta")));
    QTest::keyClick(folders.get(), Qt::Key_Return);
    QCOMPARE(failures.size(), 1);
    QCOMPARE(failures.at(0).at(0).value<DesktopError>().number, int(DesktopError::PathNotFound));
    QCOMPARE(changes.size(), 3);
}

void tst_Browser::bothListsInOneOrder_data()
{
    QTest::addColumn<QList<QByteArray>>("names");
    // Keys compare sixteen bytes at a time; names equal but for case go by their bytes.
    QTest::newRow("ASCII without case") << QList<QByteArray> { "AB.wav", "Ab.wav", "ab.wav", "b.wav", "C.wav",
        "RECORDING_TAKE_0A", "recording_take_0a", "recording_take_0B" };
    // U+F05C stands for a backslash in a name; UTF-16 order would put the emoji before it.
    QTest::newRow("by code point") << QList<QByteArray> { "z", "\xc3\xa9ta", "\xc3\x89t\xc3\xa9", "\\", "\xef\xbc\xa1",
        "\xf0\x9f\x98\x80" };
}

void tst_Browser::bothListsInOneOrder()
{
    QFETCH(QList<QByteArray>, names);
    // The names as files in D:\ and as folders in D:\folders, which readdir returns in any order.
    QList<QByteArray> entries { "folders/" };
    QStringList expected;
    for (const QByteArray &name : names) {
        entries << name << "folders/" + name + '/';
        expected << DriveMap::nameToDriveForm(name);
    }
    make(entries);
    files->setPath(QStringLiteral("D:\\"));
    folders->setPath(QStringLiteral("D:\\folders"));
    QCOMPARE(files->fileNames(), expected);
    QCOMPARE(folders->subfolders(), expected);
}

void tst_Browser::namesArriveExactly_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("depth");

    // Characters that would break a row are shown as symbols.
    QTest::newRow("newline") << QByteArray("new\nline") << QString::fromUtf8("new␊line") << 1;
    QTest::newRow("DEL") << QByteArray("del\x7f") << QString::fromUtf8("del␡") << 1;
    QTest::newRow("line separator") << QByteArray("a\u2028b") << QString::fromUtf8("a␤b") << 1;
    QTest::newRow("backslash") << QByteArray("back\\slash") << QStringLiteral("back\\slash") << 1;
    QTest::newRow("forty folders deep") << QByteArray("plain") << QStringLiteral("plain") << 40;
}

void tst_Browser::namesArriveExactly()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, shown);
    QFETCH(int, depth);

    // The named folder, depth levels down, holds one subfolder and one file of its name.
    const QByteArray parent = QByteArray("aa/").repeated(depth - 1);
    QVERIFY(QDir().mkpath(native("d/") + parent));
    const QByteArray folder = parent + name;
    make({ folder + '/', folder + "/sub/", folder + '/' + name + ".wav" });

    // Reached through the folder list, as the user does.
    folders->resize(265, 200);
    folders->setPath(QStringLiteral("D:\\") + QString::fromUtf8(parent).replace(QLatin1Char('/'), QLatin1Char('\\')));
    folders->setCurrentIndex(folders->model()->index(depth, 0));
    QTest::keyClick(folders.get(), Qt::Key_Return);
    QCOMPARE(folders->model()->index(depth, 0).data().toString(), shown);
    files->setPattern(QStringLiteral("*.wav"));
    files->setPath(folders->path());
    QCOMPARE(files->model()->index(0, 0).data().toString(), shown + ".wav");
    // What a conversion builds from the lists is the very file.
    files->setCurrentIndex(files->model()->index(0, 0));
    const QString full = files->path() + QLatin1Char('\\') + files->fileName();
    QCOMPARE(drives->toNative(full).toUtf8(), QFile::encodeName(native("d/")) + folder + '/' + name + ".wav");

    // The subfolder sits one step deeper than its folder, in view at any depth.
    const auto width = [&](int row) { return folders->sizeHintForIndex(folders->model()->index(row, 0)).width(); };
    const auto indent
        = [&](int row, const QString &text) { return width(row) - folders->fontMetrics().horizontalAdvance(text); };
    QVERIFY(indent(depth + 1, QStringLiteral("sub")) > indent(depth, shown));
    QVERIFY(width(depth + 1) <= folders->width());
}

void tst_Browser::drivesFollowTheVolumes()
{
    DriveList driveList;
    driveList.setDriveMap(*drives);
    QSignalSpy changes(&driveList, &DriveList::driveChanged);
    driveList.setDrive(QStringLiteral("c:"));
    driveList.setDrive(QStringLiteral("C:"));
    QCOMPARE(changes, QList<QList<QVariant>> { { QStringLiteral("C:") } });
    QTest::keyClick(&driveList, Qt::Key_Down);
    QCOMPARE(changes.size(), 2);
    for (const QString &bad : { QStringLiteral("Q:"), QStringLiteral("D") })
        QCOMPARE(errorOf([&] { driveList.setDrive(bad); }).number, int(DesktopError::DeviceUnavailable));
    QCOMPARE(driveList.drive(), QStringLiteral("D:"));

    // A volume mounted since the last look is found without opening the list.
    volumes.append({ native("f"), true });
    driveList.setDrive(QStringLiteral("F:"));
    QCOMPARE(changes.size(), 3);

    // D: pulled out, G: plugged in: opening the list reads the volumes again; D: stays current, silently.
    driveList.setDrive(QStringLiteral("D:"));
    volumes.removeFirst();
    volumes.append({ native("g"), true });
    static_cast<QComboBox &>(driveList).showPopup();
    QCOMPARE(driveList.itemText(4), QStringLiteral("G:  ") + native("g"));
    QCOMPARE(driveList.currentIndex(), 1);
    QCOMPARE(changes.size(), 4);

    // The folder list reads the volumes itself: G: pulled out unseen, its folder still there.
    QVERIFY(QDir().mkpath(native("g")));
    volumes.removeLast();
    QCOMPARE(errorOf([this] { folders->setPath(QStringLiteral("G:")); }).number, int(DesktopError::DeviceUnavailable));
}

QTEST_MAIN(tst_Browser)
#include "tst_browser.moc"
