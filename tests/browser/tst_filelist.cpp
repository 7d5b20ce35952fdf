#include "browser/FileList.h"

#include "BrowserFixture.h"
#include "app/desktop/DesktopError.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

using Link = QPair<QByteArray, QByteArray>;

class tst_FileList : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void matching_data();
    void matching();
    void hostileNamesComeBackExactly();
    void selection();
    void refreshFollowsTheFolder();
    void patternChangeRereads();
    void failureKeepsFolderAndList_data();
    void failureKeepsFolderAndList();
    void permissionDeniedKeepsFolderAndList();

private:
    QString onD(const QString &relative) const { return QStringLiteral("D:\\") + relative; }
    void select(const QString &name);

    std::unique_ptr<BrowserFixture> fixture;
    std::unique_ptr<FileList> list;
    QString workingDirectory;
};

void tst_FileList::init()
{
    workingDirectory = QDir::currentPath();
    fixture = std::make_unique<BrowserFixture>();
    list = std::make_unique<FileList>();
    list->setDriveMap(*fixture->drives);
}

void tst_FileList::cleanup()
{
    list.reset();
    fixture.reset();
    // Listing never moves the process: the tool strings are relative to this folder.
    QCOMPARE(QDir::currentPath(), workingDirectory);
}

void tst_FileList::select(const QString &name)
{
    const int row = int(list->fileNames().indexOf(name));
    QVERIFY2(row >= 0, qPrintable(name));
    list->setCurrentIndex(list->model()->index(row, 0));
}

void tst_FileList::matching_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QList<QByteArray>>("files");
    QTest::addColumn<QList<QByteArray>>("folders");
    QTest::addColumn<QList<Link>>("links");
    QTest::addColumn<QStringList>("expected");

    const QString sounds = QStringLiteral("*.wav;*.ogg;*.lip;*.wss");
    const QList<QByteArray> none;
    const QList<Link> noLinks;

    QTest::newRow("letters in any case")
        << QStringLiteral("*.wav") << QList<QByteArray>{"a.WAV", "b.wav", "c.Wav", "d.wa", "e.wave"} << none
        << noLinks << QStringList{"a.WAV", "b.wav", "c.Wav"};
    QTest::newRow("upper-case pattern")
        << QStringLiteral("*.WAV") << QList<QByteArray>{"a.wav", "b.Wav"} << none << noLinks
        << QStringList{"a.wav", "b.Wav"};
    QTest::newRow("all four sound patterns")
        << sounds << QList<QByteArray>{"x.wav", "y.OGG", "z.lip", "w.Wss", "v.mp3", "u.wav.bak", "wav"} << none
        << noLinks << QStringList{"w.Wss", "x.wav", "y.OGG", "z.lip"};
    QTest::newRow("question mark is one character")
        << QStringLiteral("?.wav") << QList<QByteArray>{"a.wav", "ab.wav", "\xc3\xa9.wav", "\xe2\x82\xac.wav", ".wav"}
        << none << noLinks << QStringList{"a.wav", QStringLiteral("é.wav"), QStringLiteral("€.wav")};
    QTest::newRow("question marks never split a character")
        << QStringLiteral("??.wav") << QList<QByteArray>{"\xc3\xa9.wav", "\xc3\xa9x.wav"} << none << noLinks
        << QStringList{QStringLiteral("éx.wav")};
    QTest::newRow("star in the middle backtracks")
        << QStringLiteral("v*01*.w?v") << QList<QByteArray>{"voice01.wav", "v01.wav", "v0101x.wOv", "v1.wav", "voice01.wa"}
        << none << noLinks << QStringList{"v01.wav", "v0101x.wOv", "voice01.wav"};
    QTest::newRow("pattern without a dot")
        << QStringLiteral("voice*") << QList<QByteArray>{"voice01.wav", "Voiceover", "avoice", "Voice.txt"} << none
        << noLinks << QStringList{"Voice.txt", "voice01.wav", "Voiceover"};
    QTest::newRow("no pattern lists every file")
        << QString() << QList<QByteArray>{"b", "a.txt"} << none << noLinks << QStringList{"a.txt", "b"};
    QTest::newRow("dot-files hidden")
        << sounds << QList<QByteArray>{".hidden.wav", "..wav", "shown.wav"} << none << noLinks << QStringList{"shown.wav"};
    QTest::newRow("folders excluded")
        << sounds << QList<QByteArray>{"file.wav"} << QList<QByteArray>{"folder.wav", "Folder.OGG"} << noLinks
        << QStringList{"file.wav"};
    QTest::newRow("symbolic link to a file included")
        << QStringLiteral("*.wav") << QList<QByteArray>{"real.ogg"} << none
        << QList<Link>{{"link.wav", "real.ogg"}} << QStringList{"link.wav"};
    QTest::newRow("dangling symbolic link left out")
        << QStringLiteral("*.wav") << QList<QByteArray>{"kept.wav"} << none << QList<Link>{{"gone.wav", "missing.wav"}}
        << QStringList{"kept.wav"};
    QTest::newRow("symbolic link to a folder left out")
        << QStringLiteral("*.wav") << none << QList<QByteArray>{"dir"} << QList<Link>{{"dir.wav", "dir"}} << QStringList();
    QTest::newRow("non-ASCII letters compare exactly")
        << QStringLiteral("é*.wav") << QList<QByteArray>{"\xc3\xa9t\xc3\xa9.WAV", "\xc3\x89t\xc3\xa9.wav"} << none
        << noLinks << QStringList{QStringLiteral("été.WAV")};
    QTest::newRow("non-ASCII names sort without case")
        << QStringLiteral("*.wav") << QList<QByteArray>{"\xc3\x89t\xc3\xa9.wav", "zebra.wav", "\xc3\xa9ta.wav", "alpha.wav"}
        << none << noLinks << QStringList{"alpha.wav", "zebra.wav", QStringLiteral("éta.wav"), QStringLiteral("Été.wav")};
    QTest::newRow("names equal but for case in a fixed order")
        << QStringLiteral("*.wav") << QList<QByteArray>{"b.wav", "a.wav", "C.wav", "A.wav", "c.wav"} << none << noLinks
        << QStringList{"A.wav", "a.wav", "b.wav", "C.wav", "c.wav"};
    QTest::newRow("backslash in a name")
        << QStringLiteral("*.wav") << QList<QByteArray>{"left\\right.wav"} << none << noLinks
        << QStringList{QStringLiteral("left") + DriveMap::BackslashInName + QStringLiteral("right.wav")};
    QTest::newRow("invalid UTF-8 left out")
        << QStringLiteral("*.wav") << QList<QByteArray>{"bad\xff.wav", "bad\xc3.wav", "good.wav"} << none << noLinks
        << QStringList{"good.wav"};
    QTest::newRow("native U+F05C left out")
        << QStringLiteral("*.wav") << QList<QByteArray>{"private\xef\x81\x9c.wav", "plain.wav"} << none << noLinks
        << QStringList{"plain.wav"};
}

void tst_FileList::matching()
{
    QFETCH(QString, pattern);
    QFETCH(QList<QByteArray>, files);
    QFETCH(QList<QByteArray>, folders);
    QFETCH(QList<Link>, links);
    QFETCH(QStringList, expected);

    for (const QByteArray &file : files)
        QVERIFY(makeFile(fixture->nativeBytes("d/" + file)));
    for (const QByteArray &folder : folders)
        QVERIFY(makeFolder(fixture->nativeBytes("d/" + folder)));
    for (const Link &link : links)
        QVERIFY(::symlink(link.second.constData(), fixture->nativeBytes("d/" + link.first).constData()) == 0);

    list->setPattern(pattern);
    list->setPath(QStringLiteral("D:\\"));
    QCOMPARE(list->fileNames(), expected);
    QCOMPARE(list->model()->rowCount(), expected.size());
    QCOMPARE(list->path(), QStringLiteral("D:\\"));
}

void tst_FileList::hostileNamesComeBackExactly()
{
    const QList<QByteArray> names = {
        "with space.wav", "quote'single.wav", "quote\"double.wav", "$(touch pwned).wav", "`id`.wav",
        "semi;colon.wav", "amp&ersand.wav", "pi|pe.wav", "new\nline.wav", "-leading-dash.wav",
        "back\\slash.wav", "na\xc3\xafve \xe6\x97\xa5\xe6\x9c\xac.wav", "*star?.wav",
    };
    QVERIFY(makeFolder(fixture->nativeBytes("d/odd $folder")));
    for (const QByteArray &name : names)
        QVERIFY(makeFile(fixture->nativeBytes("d/odd $folder/" + name)));

    list->setPattern(QStringLiteral("*.wav"));
    list->setPath(onD(QStringLiteral("odd $folder")));
    QCOMPARE(list->fileNames().size(), names.size());
    for (const QByteArray &name : names) {
        const QString driveForm = QString::fromUtf8(name).replace(QLatin1Char('\\'), DriveMap::BackslashInName);
        select(driveForm);
        QCOMPARE(list->fileName(), driveForm);
        QCOMPARE(DriveMap::nameToNative(list->fileName()), name);
        // What a conversion builds from the list reaches the same file.
        const QString full = list->path() + QLatin1Char('\\') + list->fileName();
        QVERIFY(QFileInfo::exists(fixture->drives->toNative(full)));
    }
}

void tst_FileList::selection()
{
    QVERIFY(makeFolder(fixture->nativeBytes("d/other")));
    for (const QByteArray name : {"a.wav", "b.ogg"})
        QVERIFY(makeFile(fixture->nativeBytes("d/" + name)));
    list->setPath(QStringLiteral("D:\\"));
    QCOMPARE(list->fileName(), QString());

    select(QStringLiteral("b.ogg"));
    QCOMPARE(list->fileName(), QStringLiteral("b.ogg"));
    QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
    list->clearSelection();
    QCOMPARE(list->fileName(), QString());

    // Another folder starts with nothing selected.
    select(QStringLiteral("a.wav"));
    list->setPath(onD(QStringLiteral("other")));
    QCOMPARE(list->fileName(), QString());
    QCOMPARE(list->fileNames(), QStringList());
}

void tst_FileList::refreshFollowsTheFolder()
{
    for (const QByteArray name : {"keep.wav", "vanish.wav", "voice01.wav"})
        QVERIFY(makeFile(fixture->nativeBytes("d/" + name)));
    list->setPattern(QStringLiteral("*.wav;*.ogg"));
    list->setPath(QStringLiteral("D:\\"));
    select(QStringLiteral("keep.wav"));

    QVERIFY(makeFile(fixture->nativeBytes("d/voice01.ogg")));
    QVERIFY(makeFile(fixture->nativeBytes("d/voice01.txt")));
    QVERIFY(QFile::remove(fixture->native("d/vanish.wav")));
    list->refresh();
    QCOMPARE(list->fileNames(), (QStringList{"keep.wav", "voice01.ogg", "voice01.wav"}));
    QCOMPARE(list->fileName(), QStringLiteral("keep.wav"));

    // The selected file itself vanishing leaves nothing selected.
    QVERIFY(QFile::remove(fixture->native("d/keep.wav")));
    list->refresh();
    QCOMPARE(list->fileNames(), (QStringList{"voice01.ogg", "voice01.wav"}));
    QCOMPARE(list->fileName(), QString());
}

void tst_FileList::patternChangeRereads()
{
    for (const QByteArray name : {"a.wav", "b.txt"})
        QVERIFY(makeFile(fixture->nativeBytes("d/" + name)));
    list->setPath(QStringLiteral("D:\\"));
    list->setPattern(QStringLiteral("*.txt"));
    QCOMPARE(list->pattern(), QStringLiteral("*.txt"));
    QCOMPARE(list->fileNames(), QStringList{"b.txt"});
}

void tst_FileList::failureKeepsFolderAndList_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("number");

    QTest::newRow("drive without a medium") << QStringLiteral("E:\\") << int(DesktopError::DeviceUnavailable);
    QTest::newRow("unknown drive") << QStringLiteral("Q:\\") << int(DesktopError::DeviceUnavailable);
    QTest::newRow("missing folder") << QStringLiteral("D:\\missing") << int(DesktopError::PathNotFound);
    QTest::newRow("a file, not a folder") << QStringLiteral("D:\\sounds\\a.wav") << int(DesktopError::PathNotFound);
    QTest::newRow("parent step") << QStringLiteral("D:\\sounds\\..\\..") << int(DesktopError::PathNotFound);
    QTest::newRow("no drive-form path") << QStringLiteral("/tmp") << int(DesktopError::PathNotFound);
}

void tst_FileList::failureKeepsFolderAndList()
{
    QFETCH(QString, path);
    QFETCH(int, number);

    QVERIFY(makeFolder(fixture->nativeBytes("d/sounds")));
    QVERIFY(makeFile(fixture->nativeBytes("d/sounds/a.wav")));
    list->setPath(onD(QStringLiteral("sounds")));
    select(QStringLiteral("a.wav"));

    try {
        list->setPath(path);
        QFAIL("setPath did not fail");
    } catch (const DesktopError &error) {
        QCOMPARE(error.number, number);
        QVERIFY(!error.description.isEmpty());
    }
    QCOMPARE(list->path(), onD(QStringLiteral("sounds")));
    QCOMPARE(list->fileNames(), QStringList{"a.wav"});
    QCOMPARE(list->fileName(), QStringLiteral("a.wav"));

    // The folder itself going away fails the refresh the same way.
    QVERIFY(QDir(fixture->native("d/sounds")).removeRecursively());
    try {
        list->refresh();
        QFAIL("refresh did not fail");
    } catch (const DesktopError &error) {
        QCOMPARE(error.number, int(DesktopError::PathNotFound));
        QVERIFY(error.description.contains(onD(QStringLiteral("sounds"))));
    }
    QCOMPARE(list->fileNames(), QStringList{"a.wav"});
}

void tst_FileList::permissionDeniedKeepsFolderAndList()
{
    QVERIFY(::chmod(QFile::encodeName(fixture->tree.path()).constData(), 0755) == 0);
    QVERIFY(::chmod(QFile::encodeName(fixture->native("d")).constData(), 0755) == 0);
    QVERIFY(makeFile(fixture->nativeBytes("d/a.wav")));
    QVERIFY(makeFolder(fixture->nativeBytes("d/locked")));
    QVERIFY(::chmod(QFile::encodeName(fixture->native("d/locked")).constData(), 0) == 0);
    list->setPath(QStringLiteral("D:\\"));

    {
        UnprivilegedScope unprivileged;
        if (!unprivileged.ok())
            QSKIP("root cannot give up its privileges here, and root reads any folder");
        try {
            list->setPath(onD(QStringLiteral("locked")));
            QFAIL("setPath did not fail");
        } catch (const DesktopError &error) {
            QCOMPARE(error.number, int(DesktopError::PermissionDenied));
            QVERIFY(error.description.contains(onD(QStringLiteral("locked"))));
        }
    }
    QVERIFY(::chmod(QFile::encodeName(fixture->native("d/locked")).constData(), 0755) == 0);
    QCOMPARE(list->path(), QStringLiteral("D:\\"));
    QCOMPARE(list->fileNames(), QStringList{"a.wav"});
}

QTEST_MAIN(tst_FileList)
#include "tst_filelist.moc"
