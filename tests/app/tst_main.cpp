#include "app/Main.h"
#include "app/StatusBar.h"
#include "desktop/KeyLockMonitor.h"
#include "browser/DriveList.h"
#include "browser/FileList.h"
#include "browser/FolderList.h"
#include "support/FakeDesktop.h"
#include "support/Files.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

/// Main's form, load step, routing, quit, tray and status bar, on the fake desktop and real folders.
class tst_Main : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void loadThenDriveAndFolderChangesChain();
    void failingNestedFolderChangeIsReportedByItself_data();
    void failingNestedFolderChangeIsReportedByItself();
    void commands_data();
    void commands();
    void quit_data();
    void quit();
    void shortcutsFromEveryControl_data();
    void shortcutsFromEveryControl();
    void hideThenAddAndRestoreOn513Or517Only_data();
    void hideThenAddAndRestoreOn513Or517Only();
    void noTrayKeepsWindowAndWarnsOnce_data();
    void noTrayKeepsWindowAndWarnsOnce();
    void panelsFollowDesktop();
    void insertTogglesOncePerPress();
    void locksFromKeyEvents_data();
    void locksFromKeyEvents();

private:
    template<typename T> T *child(const char *name) const
    {
        auto *found = main->findChild<T *>(QLatin1String(name));
        if (!found)
            qFatal("no %s", name);
        return found;
    }
    void select(const QString &name);
    void navigateTo(const QString &nativeFolder);
    void showActive()
    {
        main->show();
        main->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(main.get()));
        QTRY_VERIFY(main->focusWidget());
    }
    void minimize() { child<QAction>("mnuMinimize")->trigger(); }
    void expectOneBox(const char *text, int flags) const
    {
        QCOMPARE(desktop->messageBoxes.size(), 1);
        QCOMPARE(desktop->messageBoxes[0].text, QLatin1String(text));
        QCOMPARE(desktop->messageBoxes[0].flags, flags);
        QCOMPARE(desktop->messageBoxes[0].title, QStringLiteral("Ombrix Converter"));
    }
    const TrayIconData &record() const { return main->state().trayIconData; }

    std::unique_ptr<FakeDesktop> desktop;
    std::unique_ptr<Main> main;
    std::unique_ptr<TempFolder> sounds;
    std::unique_ptr<TempFolder> stick;
};

void tst_Main::init()
{
    // A handler whose control was renamed is not connected: Qt warns.
    QTest::failOnWarning(QRegularExpression("connectSlotsByName"));
    desktop = std::make_unique<FakeDesktop>();
    sounds = std::make_unique<TempFolder>();
    stick = std::make_unique<TempFolder>();
    sounds->touch({ "voice01.wav", "voice01.ogg", "my voice.wav", "readme.txt", "Loud.WAV", "talk.lip", "x.wss" });
    stick->touch({ "stick.ogg" });
    desktop->volumes = { { stick->path(), true }, { QStringLiteral("/nonexistent/cdrom"), false } };
    desktop->drives().rescan();
    main = std::make_unique<Main>(*desktop);
}

void tst_Main::cleanup()
{
    // Before the desktop and the folders it shows.
    main.reset();
}

void tst_Main::select(const QString &name)
{
    auto *files = child<FileList>("File1");
    files->setCurrentIndex(files->QAbstractItemView::model()->index(int(files->fileNames().indexOf(name)), 0));
}

void tst_Main::navigateTo(const QString &nativeFolder)
{
    main->load();
    child<FolderList>("Dir1")->setPath(driveFormOf(nativeFolder));
}

void tst_Main::loadThenDriveAndFolderChangesChain()
{
    // A fixed frame around a fixed client area.
    main->show();
    QCOMPARE(main->centralWidget()->size(), QSize(553, 324));
    QCOMPARE(main->minimumSize(), main->maximumSize());
    main->load();
    QCOMPARE(child<DriveList>("Drive1")->drive(), QStringLiteral("C:"));
    QCOMPARE(child<FileList>("File1")->path(), QStringLiteral("C:\\"));

    child<DriveList>("Drive1")->setDrive("D:");
    QCOMPARE(child<FileList>("File1")->fileNames(), QStringList { "stick.ogg" });
    navigateTo(sounds->path());
    const QStringList shown { "Loud.WAV", "my voice.wav", "talk.lip", "voice01.ogg", "voice01.wav", "x.wss" };
    QCOMPARE(child<FileList>("File1")->fileNames(), shown);

    // An unavailable drive warns once, and the folder and its files stay.
    child<DriveList>("Drive1")->setDrive("E:");
    expectOneBox("Selected drive is unavailable !", 16);
    QVERIFY(desktop->errors.isEmpty());
    QCOMPARE(child<DriveList>("Drive1")->drive(), QStringLiteral("E:"));
    QCOMPARE(child<FileList>("File1")->fileNames(), shown);
}

void tst_Main::failingNestedFolderChangeIsReportedByItself_data()
{
    QTest::addColumn<bool>("pulled"); // else a link to itself where the stick's folder was
    QTest::addColumn<int>("error");
    QTest::newRow("stick pulled") << true << int(DesktopError::DeviceUnavailable);
    QTest::newRow("folder that cannot be opened") << false << int(DesktopError::PathFileAccessError);
}

void tst_Main::failingNestedFolderChangeIsReportedByItself()
{
    QFETCH(bool, pulled);
    QFETCH(int, error);
    main->load();
    // The stick changes after the folder list read it, before the file list follows.
    connect(child<FolderList>("Dir1")->QAbstractItemView::model(), &QAbstractItemModel::modelReset, this,
        [this, pulled] {
            QDir(stick->path()).removeRecursively();
            if (!pulled)
                QFile::link(stick->path(), stick->path());
        });
    child<DriveList>("Drive1")->setDrive("D:");

    // Reported by the folder change itself: the drive change's trap would have shown its own box for
    // 68 and dropped any other error.
    QCOMPARE(desktop->errors.size(), 1);
    QCOMPARE(desktop->errors[0].number, error);
    QVERIFY(desktop->messageBoxes.isEmpty());
    QCOMPARE(child<FileList>("File1")->path(), QStringLiteral("C:\\"));
}

void tst_Main::commands_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("tools");
    QTest::addColumn<QString>("unstartable");
    const auto row
        = [](const char *name, const char *entry, const char *file, QStringList tools, const char *unstartable = "") {
              QTest::newRow(name) << QString(entry) << QString(file) << tools << QString(unstartable);
          };
    const QString oggenc = "data\\oggenc.exe ", wavtolip = "data\\wavtolip.exe ";

    // Every entry, on the sounds folder unless the file is on the stick at D:'s root.
    row("toOGG button", "toOGG", "voice01.wav", { oggenc });
    row("toLIP button", "toLIP", "voice01.wav", { oggenc, wavtolip });
    row("mnuToOGG", "mnuToOGG", "voice01.wav", { oggenc });
    row("mnuWAVtoLIP", "mnuWAVtoLIP", "voice01.wav", { wavtolip });
    row("mnuToWSS", "mnuToWSS", "voice01.wav", { "data\\wavtowss.exe " });
    row("mnuOGGtoLIP", "mnuOGGtoLIP", "voice01.ogg", { wavtolip });
    row("mnuToWAV", "mnuToWAV", "voice01.ogg", { "data\\oggdec.exe " });
    row("spaces go unquoted", "toOGG", "my voice.wav", { oggenc });
    row("a drive root gives two backslashes", "mnuToWAV", "stick.ogg", { "data\\oggdec.exe " });
    row("nothing selected", "toOGG", "", {});
    row("the second tool cannot start", "toLIP", "voice01.wav", { oggenc }, "data\\wavtolip.exe");
}

void tst_Main::commands()
{
    QFETCH(QString, entry);
    QFETCH(QString, file);
    QFETCH(QStringList, tools);
    QFETCH(QString, unstartable);

    desktop->unstartable = { unstartable };
    const bool onStick = file == QLatin1String("stick.ogg");
    navigateTo(sounds->path());
    if (onStick)
        child<DriveList>("Drive1")->setDrive("D:");
    const QString folder = onStick ? QStringLiteral("D:\\") : driveFormOf(sounds->path());
    if (!file.isEmpty())
        select(file);
    // Written by the tool; the list shows it after every command, failed or not.
    (onStick ? stick : sounds)->touch({ "new.wav" });
    if (auto *button = main->findChild<QPushButton *>(entry))
        QTest::mouseClick(button, Qt::LeftButton);
    else
        child<QAction>(qPrintable(entry))->trigger();

    QStringList expected;
    for (const QString &tool : tools)
        expected << tool + folder + "\\" + file;
    QCOMPARE(desktop->startedCommandLines, expected);
    if (file.isEmpty())
        expectOneBox("No file selected !", 48);
    else
        QVERIFY(desktop->messageBoxes.isEmpty());
    QCOMPARE(desktop->errors.size(), unstartable.isEmpty() ? 0 : 1);
    QVERIFY(main->state().selectedPath.isEmpty());
    QVERIFY(child<FileList>("File1")->fileNames().contains("new.wav"));

    // What the tools write shows when they end, in one re-read for tools that end together,
    // the selection kept.
    (onStick ? stick : sounds)->touch({ "later.wav" });
    QSignalSpy reads(child<FileList>("File1")->QAbstractItemView::model(), &QAbstractItemModel::modelReset);
    desktop->endTool();
    desktop->endTool();
    QTRY_VERIFY(child<FileList>("File1")->fileNames().contains("later.wav"));
    QCOMPARE(child<FileList>("File1")->fileName(), file);
    QTest::qWait(400);
    QCOMPARE(reads.count(), 1);
}

void tst_Main::quit_data()
{
    QTest::addColumn<bool>("fromMenu");
    QTest::addColumn<int>("answer");

    QTest::newRow("Exit answered No") << true << int(DesktopServices::No);
    QTest::newRow("Exit answered Yes") << true << int(DesktopServices::Yes);
    // As from the title bar, but with an icon of record to delete.
    QTest::newRow("closed while in the tray") << false << 0;
}

void tst_Main::quit()
{
    QFETCH(bool, fromMenu);
    QFETCH(int, answer);
    main->show();
    if (!fromMenu)
        minimize();
    const auto notifications = desktop->notifyCalls.size();
    QSignalSpy unloaded(main.get(), &Main::unloaded);
    if (fromMenu) {
        desktop->answers.enqueue(answer);
        child<QAction>("mnuExit")->trigger();
        expectOneBox("Do you really want to quit ?", 36);
    } else {
        main->close();
        QVERIFY(desktop->messageBoxes.isEmpty());
    }
    const bool quits = answer != DesktopServices::No;
    QCOMPARE(unloaded.count(), quits ? 1 : 0);
    QCOMPARE(main->isVisible(), !quits);
    // Unloading asks the tray to delete the icon of record, all zero before any Minimize.
    QCOMPARE(desktop->notifyCalls.size(), notifications + (quits ? 1 : 0));
    if (quits) {
        QCOMPARE(desktop->notifyCalls.last().message, quint32(DesktopServices::DeleteIcon));
        QCOMPARE(desktop->notifyCalls.last().data, record());
    }
}

void tst_Main::shortcutsFromEveryControl_data()
{
    QTest::addColumn<QString>("focus");
    for (const char *name : { "Drive1", "Dir1", "File1", "toOGG", "toLIP", "refreshFile" })
        QTest::newRow(name) << name;
}

void tst_Main::shortcutsFromEveryControl()
{
    QFETCH(QString, focus);
    navigateTo(sounds->path());
    showActive();
    auto *widget = main->findChild<QWidget *>(focus);
    widget->setFocus();
    QTRY_VERIFY(widget->hasFocus());

    // The bare name: the viewer looks for it in the working directory.
    QTest::keyClick(widget, Qt::Key_F1);
    QCOMPARE(desktop->helpFiles, QByteArrayList { "Ombrix_Converter_Help.chm" });
    QTest::keyClick(widget, Qt::Key_M, Qt::ControlModifier);
    QCOMPARE(desktop->notifyCalls.size(), 1);
}

void tst_Main::hideThenAddAndRestoreOn513Or517Only_data()
{
    QTest::addColumn<qint32>("mouseMessage");
    QTest::addColumn<quint32>("otherWindow");
    QTest::addColumn<quint32>("otherIcon");
    QTest::addColumn<bool>("restores");

    QTest::newRow("513 left press") << 513 << 0u << 0u << true;
    QTest::newRow("514 left release") << 514 << 0u << 0u << false;
    QTest::newRow("516 right press") << 516 << 0u << 0u << false;
    QTest::newRow("517 right release") << 517 << 0u << 0u << true;
    QTest::newRow("513 for another window") << 513 << 1u << 0u << false;
    QTest::newRow("517 for another icon number") << 517 << 0u << 1u << false;
}

void tst_Main::hideThenAddAndRestoreOn513Or517Only()
{
    QFETCH(qint32, mouseMessage);
    QFETCH(quint32, otherWindow);
    QFETCH(quint32, otherIcon);
    QFETCH(bool, restores);
    main->show();
    minimize();
    QCOMPARE(desktop->notifyCalls.size(), 1);
    QVERIFY2(!desktop->notifyCalls.first().ownerVisible, "the icon was added while the window was still shown");
    TrayIconData target = record();
    target.hWnd += otherWindow;
    target.uID += otherIcon;
    desktop->clickTray(target, mouseMessage);

    QCOMPARE(main->isVisible(), restores);
    QCOMPARE(desktop->notifyCalls.size(), restores ? 2 : 1);
    if (restores) {
        const FakeDesktop::NotifyCall &removal = desktop->notifyCalls.last();
        QCOMPARE(removal.message, quint32(DesktopServices::DeleteIcon));
        QVERIFY2(removal.ownerVisible, "the icon went before the window came back");
        QCOMPARE(removal.data, record());
    }
}

void tst_Main::noTrayKeepsWindowAndWarnsOnce_data()
{
    QTest::addColumn<bool>("lostLater");

    QTest::newRow("add refused") << false;
    QTest::newRow("tray gone with the icon") << true;
}

void tst_Main::noTrayKeepsWindowAndWarnsOnce()
{
    QFETCH(bool, lostLater);
    main->show();
    desktop->trayAvailable = lostLater;
    minimize();
    const quint32 firstIcon = record().hIcon;
    if (lostLater) {
        desktop->loseTray(record());
        // As on restore: the icon is deleted.
        QCOMPARE(desktop->notifyCalls.last().message, quint32(DesktopServices::DeleteIcon));
    }
    QVERIFY(main->isVisible());
    QCOMPARE(desktop->notifyCalls.size(), lostLater ? 2 : 1);
    expectOneBox("The notification area is not available !", 48);

    // The tray came back: the next Minimize works as usual, with the window's current icon.
    desktop->trayAvailable = true;
    minimize();
    QVERIFY(!main->isVisible());
    QCOMPARE(desktop->messageBoxes.size(), 1);
    QCOMPARE(desktop->notifyCalls.last().message, quint32(DesktopServices::AddIcon));
    // The fake hands out handles one up on every request: the record must hold the new one.
    QCOMPARE(desktop->notifyCalls.last().data.hIcon, firstIcon + 1);
    // Size, icon number, flags (message, icon, tip) and callback message, as the tray expects them.
    QCOMPARE((QList<quint32> { record().cbSize, record().uID, record().uFlags, record().uCallbackMessage }),
        (QList<quint32> { 88, 1, 7, 512 }));
}

void tst_Main::panelsFollowDesktop()
{
    showActive();
    auto *bar = child<StatusBar>("StatusBar1");
    // The first panel's text fits in full.
    QLabel *text = bar->panel(StatusBar::TextPanel);
    const int room = text->contentsRect().width() - 2 * text->margin() - text->indent();
    QVERIFY2(text->fontMetrics().horizontalAdvance(text->text()) <= room, "the text is cut");
    QVERIFY(text->fontMetrics().height() <= text->contentsRect().height());

    // Unknown until the desktop says otherwise, and then not greyed as off is: slanted, with a
    // tip that says so. NUM and CAPS each follow their own indicator.
    QLabel *num = bar->panel(StatusBar::NumPanel);
    const auto lightness = [num] { return num->palette().color(QPalette::WindowText).lightness(); };
    QVERIFY(num->font().italic() && num->toolTip() == "Num Lock state unknown");
    const int unknown = lightness();
    desktop->setKeyLocks({ true, false });
    QCOMPARE(bar->keyShownOn(StatusBar::NumPanel), std::optional<bool>(true));
    QCOMPARE(bar->keyShownOn(StatusBar::CapsPanel), std::optional<bool>(false));
    QVERIFY(!num->font().italic() && num->toolTip().isEmpty());
    const int on = lightness();
    desktop->setKeyLocks({ false, true });
    QCOMPARE(bar->keyShownOn(StatusBar::NumPanel), std::optional<bool>(false));
    QCOMPARE(bar->keyShownOn(StatusBar::CapsPanel), std::optional<bool>(true));
    const int off = lightness();
    QVERIFY(on + 90 < off && unknown + 90 < off);
}

void tst_Main::insertTogglesOncePerPress()
{
    showActive();
    auto *bar = child<StatusBar>("StatusBar1");
    const auto send = [](QWindow *target, QEvent::Type type, quint64 timestamp, bool autoRepeat = false) {
        QKeyEvent event(type, Qt::Key_Insert, Qt::NoModifier, QString(), autoRepeat);
        event.setTimestamp(timestamp);
        QCoreApplication::sendEvent(target, &event);
    };
    const auto insShown = [bar] { return bar->keyShownOn(StatusBar::InsPanel); };
    const std::optional<bool> on = true, off = false;
    QWindow *handle = main->windowHandle();
    QCOMPARE(insShown(), off);

    // The press reaches the focused control and then its parents, and counts once. Held, it
    // repeats as Qt recognised, then once as what Qt took for a release and a new press: a
    // release and a press that share a timestamp are a key repeating.
    send(handle, QEvent::KeyPress, 1400);
    QCOMPARE(insShown(), on);
    send(handle, QEvent::KeyRelease, 1500, true);
    send(handle, QEvent::KeyPress, 1500, true);
    send(handle, QEvent::KeyRelease, 1530);
    send(handle, QEvent::KeyPress, 1530);
    send(handle, QEvent::KeyRelease, 1560);
    QCOMPARE(insShown(), on);

    // The next press, in another window of the program, counts as well.
    QWidget other;
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));
    send(other.windowHandle(), QEvent::KeyPress, 2400);
    QCOMPARE(insShown(), off);
}

void tst_Main::locksFromKeyEvents_data()
{
    // Each event: pressed or not, key and native modifiers, xkb's Lock (2) for Caps Lock and Mod2
    // (16) for Num Lock. A lock key's press carries the state before it, its release the key held.
    QTest::addColumn<QList<QList<int>>>("events");
    QTest::addColumn<QString>("expected");
    using Events = QList<QList<int>>;
    QTest::newRow("no key yet") << Events {} << "NUM ?, CAPS ?";
    QTest::newRow("a letter, Caps Lock on") << Events { { 1, Qt::Key_A, 2 } } << "NUM off, CAPS on";
    QTest::newRow("a letter, Shift and Num Lock on") << Events { { 0, Qt::Key_A, 1 | 16 } } << "NUM on, CAPS off";
    QTest::newRow("Num Lock pressed and released while on")
        << Events { { 1, Qt::Key_NumLock, 16 }, { 0, Qt::Key_NumLock, 16 } } << "NUM off, CAPS off";
}

void tst_Main::locksFromKeyEvents()
{
    QFETCH(QList<QList<int>>, events);
    QFETCH(QString, expected);
    const std::unique_ptr<KeyLockMonitor> locks = KeyLockMonitor::fromKeyEvents();
    QWindow window;
    for (const QList<int> &e : events) {
        QKeyEvent event(e[0] ? QEvent::KeyPress : QEvent::KeyRelease, e[1], Qt::NoModifier, 0, 0, quint32(e[2]));
        QCoreApplication::sendEvent(&window, &event);
    }
    const auto shown = [](std::optional<bool> lock) { return lock ? (*lock ? "on" : "off") : "?"; };
    const KeyLockState state = locks->state();
    QCOMPARE(QString("NUM %1, CAPS %2").arg(shown(state.numLock), shown(state.capsLock)), expected);
}

QTEST_MAIN(tst_Main)
#include "tst_main.moc"
