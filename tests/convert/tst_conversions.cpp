#include "browser/FileList.h"
#include "convert/Conversions.h"
#include "support/FakeDesktop.h"
#include "support/TempFolder.h"

#include <QTest>

/// The conversion command against a real file list on a temporary folder and the fake desktop.
class tst_Conversions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void commandLines_data();
    void commandLines();
    void driveRootGivesTwoBackslashes();
    void nothingSelectedWarnsAndStartsNothing();
    void failedStartIsRaisedAfterClearingAndRefreshing();

private:
    void select(const QString &name);

    std::unique_ptr<FakeDesktop> desktop;
    std::unique_ptr<TempFolder> folder;
    std::unique_ptr<FileList> files;
    QString selectedPath;
};

void tst_Conversions::init()
{
    desktop = std::make_unique<FakeDesktop>();
    folder = std::make_unique<TempFolder>();
    folder->touch(QStringList{"voice01.wav", "voice01.ogg", "my voice.wav"});
    files = std::make_unique<FileList>();
    files->setDriveMap(desktop->drives());
    files->setPattern("*.wav;*.ogg;*.lip;*.wss");
    files->setPath(driveFormOf(folder->path()));
    selectedPath.clear();
}

void tst_Conversions::cleanup()
{
    files.reset();
    folder.reset();
    desktop.reset();
}

void tst_Conversions::select(const QString &name)
{
    const int row = int(files->fileNames().indexOf(name));
    QVERIFY2(row >= 0, qPrintable(name + " is not listed"));
    files->setCurrentIndex(files->QAbstractItemView::model()->index(row, 0));
    QCOMPARE(files->fileName(), name);
}

void tst_Conversions::commandLines_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("programs");

    const QString enc = "data\\oggenc.exe ", dec = "data\\oggdec.exe ", lip = "data\\wavtolip.exe ",
                  wss = "data\\wavtowss.exe ";
    // Every entry through Main is in tst_main; these are the cases of the command itself.
    QTest::newRow("toLIP starts the encoder, then the LIP tool") << "toLIP" << "voice01.wav" << QStringList{enc, lip};
    QTest::newRow("OGG to LIP is the LIP tool on the file") << "mnuOGGtoLIP" << "voice01.ogg" << QStringList{lip};
    QTest::newRow("WAV to WSS") << "mnuToWSS" << "voice01.wav" << QStringList{wss};
    QTest::newRow("a WAV to the decoder all the same") << "mnuToWAV" << "voice01.wav" << QStringList{dec};
    QTest::newRow("unknown entry starts nothing") << "mnuNothing" << "voice01.wav" << QStringList{};
    QTest::newRow("spaces go unquoted") << "toOGG" << "my voice.wav" << QStringList{enc};
}

void tst_Conversions::commandLines()
{
    QFETCH(QString, entry);
    QFETCH(QString, file);
    QFETCH(QStringList, programs);

    select(file);
    runConversion(toolsOf(entry), *files, *desktop, nullptr, selectedPath);

    QStringList expected;
    for (const QString &program : programs)
        expected << program + driveFormOf(folder->path()) + "\\" + file;
    QCOMPARE(desktop->startedCommandLines, expected);
    QCOMPARE(desktop->windowStyles, QList<int>(programs.size(), 0));
    QVERIFY(desktop->messageBoxes.isEmpty());
    QVERIFY(selectedPath.isEmpty());
}

void tst_Conversions::driveRootGivesTwoBackslashes()
{
    desktop->volumes = {{folder->path(), true}};
    desktop->drives().rescan();
    files->setPath("D:\\");
    select("voice01.wav");
    runConversion(toolsOf("toOGG"), *files, *desktop, nullptr, selectedPath);
    QCOMPARE(desktop->startedCommandLines, QStringList{"data\\oggenc.exe D:\\\\voice01.wav"});
}

void tst_Conversions::nothingSelectedWarnsAndStartsNothing()
{
    QVERIFY(files->fileName().isEmpty());
    folder->touch(QStringList{"new.wav"});
    runConversion(toolsOf("toLIP"), *files, *desktop, nullptr, selectedPath);

    QCOMPARE(desktop->messageBoxes.size(), 1);
    QCOMPARE(desktop->messageBoxes[0].text, QStringLiteral("No file selected !"));
    QCOMPARE(desktop->messageBoxes[0].flags, 48);
    QCOMPARE(desktop->messageBoxes[0].title, QStringLiteral("Ombrix Converter"));
    QVERIFY(desktop->startedCommandLines.isEmpty());
    QVERIFY(selectedPath.isEmpty());
    QVERIFY(files->fileNames().contains("new.wav")); // refreshed all the same
}

void tst_Conversions::failedStartIsRaisedAfterClearingAndRefreshing()
{
    desktop->unstartable = {"data\\wavtolip.exe"};
    select("voice01.wav");
    folder->touch(QStringList{"voice01.lip"});
    try {
        runConversion(toolsOf("toLIP"), *files, *desktop, nullptr, selectedPath);
        QFAIL("the failed start was not raised");
    } catch (const DesktopError &error) {
        QCOMPARE(error.number, int(DesktopError::FileNotFound));
        QVERIFY(error.description.contains("wavtolip.exe"));
    }
    // The encoder had started and keeps running; the path is cleared and the list re-read.
    QCOMPARE(desktop->startedCommandLines.size(), 1);
    QVERIFY(desktop->startedCommandLines[0].startsWith("data\\oggenc.exe "));
    QVERIFY(selectedPath.isEmpty());
    QVERIFY(files->fileNames().contains("voice01.lip"));
}

QTEST_MAIN(tst_Conversions)
#include "tst_conversions.moc"
