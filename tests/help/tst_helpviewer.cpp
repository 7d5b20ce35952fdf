#include "help/HelpProtocol.h"
#include "help/HelpReader.h"
#include "help/HelpViewer.h"
#include "support/Files.h"

#include <QApplication>
#include <QDesktopServices>
#include <QImage>
#include <QLineEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QtEndian>

namespace {

const QRgb HeadingColour = qRgb(0x00, 0xa0, 0x00); // of style/help.css
const QRgb MarkColour = qRgb(255, 0, 255); // all of images/mark.png
const QString Reader = qEnvironmentVariable("OMBRIX_RUNTIME_DIR") + QStringLiteral("/ombrix-help-reader");

bool showsColour(QWidget *widget, QRgb colour)
{
    const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const auto *pixels = reinterpret_cast<const QRgb *>(image.constBits());
    const auto *end = pixels + image.sizeInBytes() / sizeof(QRgb);
    return std::find(pixels, end, colour) != end;
}

} // namespace

/// The help viewer and its reader on files compiled from help/data: windows.hhp names a window with
/// a start page and a default topic, system.hhp a default topic only, plain.hhp neither.
class tst_HelpViewer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void readerOpensAtDefaultTopic_data();
    void readerOpensAtDefaultTopic();
    void viewerShowsPagesAndContents();
    void sitemapMarkup();
    void damagedFiles_data();
    void damagedFiles();
    void hostileNamesNotServed();
    void placedBesideOwner_data();
    void placedBesideOwner();

public:
    /// The desktop's programs for a scheme, as the viewer reaches them.
    Q_INVOKABLE void openOnDesktop(const QUrl &url) { openedOnDesktop.append(url); }

private:
    QTemporaryDir work;
    QString source = work.filePath(QStringLiteral("help"));
    QList<QUrl> openedOnDesktop;
};

void tst_HelpViewer::initTestCase()
{
    QCOMPARE(QProcess::execute("cp", { "-R", OMBRIX_TEST_SOURCE_DIR "/help/data", source }), 0);
    // Long enough for several compressed frames and more than one reset interval.
    QString paragraphs;
    for (quint64 i = 0; i < 5000; ++i)
        paragraphs += QStringLiteral("<p>Paragraph %1 %2</p>\n").arg(i).arg(i * 0x9e3779b97f4a7c15, 0, 36);
    QVERIFY(writeFile(source + "/long.htm", paragraphs.toUtf8()));
    for (const QString name : { "windows", "system", "plain" }) {
        QProcess chmcmd;
        chmcmd.setWorkingDirectory(source);
        chmcmd.start("chmcmd", { "--no-html-scan", name + ".hhp" });
        QVERIFY2(chmcmd.waitForFinished(60000) && chmcmd.exitCode() == 0, qPrintable(name));
    }
}

void tst_HelpViewer::readerOpensAtDefaultTopic_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("topic");

    // Short of a window's start page (the viewer test), the #SYSTEM default topic, then the first page.
    QTest::newRow("system default topic") << "system.chm" << QString("/other.htm");
    QTest::newRow("first page") << "plain.chm" << QString("/a_page.htm");
}

void tst_HelpViewer::readerOpensAtDefaultTopic()
{
    QFETCH(QString, file);
    QFETCH(QString, topic);
    HelpReader reader(Reader);
    QSignalSpy finished(&reader, &HelpReader::finished);
    reader.read(source + '/' + file);
    QVERIFY(finished.wait(HelpReader::TimeoutMs * 2));
    const auto content = finished[0][0].value<HelpContent>();
    QCOMPARE(content.topic, topic);
    // A page read back whole, though it spans several reset intervals.
    QCOMPARE(content.objects.value("/long.htm"), readFile(source + "/long.htm"));
}

void tst_HelpViewer::viewerShowsPagesAndContents()
{
    QWidget owner;
    const quintptr id = openHelpViewer(&owner, source + "/windows.chm", Reader);
    auto *viewer = owner.findChild<QWidget *>("helpViewer");
    // A window of its own that leaves its owner usable (end to end: transient for it).
    QVERIFY(viewer && viewer->winId() == WId(id) && viewer->isWindow() && !QApplication::activeModalWidget());

    // The window's start page, over the #SYSTEM default topic (other.htm).
    auto *browser = owner.findChild<QTextBrowser *>("helpBrowser");
    QTRY_COMPARE(browser->source().path(), QStringLiteral("/index.htm"));
    QTRY_VERIFY(showsColour(browser->viewport(), HeadingColour) && showsColour(browser->viewport(), MarkColour));

    // The sitemap's entries, nested as its lists are; the page shown is the current entry.
    auto *contents = owner.findChild<QTreeWidget *>("helpContents");
    QCOMPARE(contents->topLevelItemCount(), 2);
    QTreeWidgetItem *welcome = contents->topLevelItem(0);
    QTreeWidgetItem *other = contents->topLevelItem(1);
    QCOMPARE(welcome->text(0) + ',' + welcome->child(0)->text(0) + ',' + other->text(0), "Welcome,Second,Other");
    QCOMPARE(contents->currentItem(), welcome);

    // Tab and Return follow the page's link; a subfolder page's references resolve against its folder.
    browser->setFocus();
    QTest::keyClick(browser, Qt::Key_Tab);
    QTest::keyClick(browser, Qt::Key_Return);
    QTRY_COMPARE(browser->source().path(), QStringLiteral("/sub/second.htm"));
    QTRY_VERIFY(showsColour(browser->viewport(), HeadingColour) && showsColour(browser->viewport(), MarkColour));
    QCOMPARE(contents->currentItem(), welcome->child(0));

    // A click on an entry shows its page, which has no style sheet: the colour came from the file.
    QTest::mouseClick(contents->viewport(), Qt::LeftButton, {}, contents->visualItemRect(other).center());
    QTRY_VERIFY(browser->toPlainText().contains("Other page"));
    QVERIFY(!showsColour(browser->viewport(), HeadingColour));

    // The web and mail go to the desktop's programs; no other scheme reaches the desktop or is followed.
    const QList<QUrl> external
        = { QUrl("https://example.org/help"), QUrl("http://example.org/"), QUrl("mailto:a@b.org") };
    const QList<QUrl> others = { QUrl("file:///etc/passwd"), QUrl("javascript:alert(1)"), QUrl("ftp://example.org/a"),
        QUrl("data:text/html,<p>a</p>"), QUrl("x-help:a") };
    for (const QUrl &url : external + others) {
        QDesktopServices::setUrlHandler(url.scheme(), this, "openOnDesktop");
        browser->setSource(url);
        QDesktopServices::unsetUrlHandler(url.scheme());
    }
    QCOMPARE(openedOnDesktop, external);
    QVERIFY(browser->toPlainText().contains("Other page"));

    // Ctrl+F finds in the page.
    QTest::keySequence(viewer, QKeySequence::Find);
    auto *find = owner.findChild<QLineEdit *>("helpFind");
    QTRY_VERIFY(find->hasFocus());
    QTest::keyClicks(find, QStringLiteral("page"));
    QTest::keyClick(find, Qt::Key_Return);
    QCOMPARE(browser->textCursor().selectedText(), QStringLiteral("page"));
}

void tst_HelpViewer::sitemapMarkup()
{
    // Quoting and case as help compilers write them; objects of other types, stray and unclosed markup.
    const QByteArray sitemap
        = QByteArray("<UL><LI><OBJECT TYPE='text/sitemap'><PARAM NAME=Name VALUE='Tom &amp; Jerry'>"
                     "<param name=\"local\" value=a.htm></OBJECT></UL>"
                     "<ul><object type=\"text/site properties\"><param name=\"Name\" value=\"x\"></object></ul></ul>"
                     "<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"Top\"></object><ul><ul><li>"
                     "<object type=\"text/sitemap\"><param name=\"Name\" value=\"Deep\"><param <<< > </object><object")
        + QByteArray(100000, '<');
    QStringList found;
    for (const ContentsEntry &entry : HelpReader::parseContents(sitemap))
        found << QStringLiteral("%1 %2 %3").arg(entry.level).arg(entry.name, entry.local);
    QCOMPARE(found, QStringList({ "0 Tom & Jerry a.htm", "0 Top ", "1 Deep " }));
}

void tst_HelpViewer::damagedFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("reader"); // a stand-in for the helper, as a script
    QTest::addColumn<QString>("reason");

    const QByteArray valid = readFile(source + "/windows.chm");
    // Where the structures to spoil lie: the first directory chunk and the LZX control data.
    const qsizetype chunk = qsizetype(qFromLittleEndian<quint64>(valid.constData() + 0x48) + 0x54);
    const qsizetype control = valid.indexOf("LZXC") - 4;
    QVERIFY(valid.mid(chunk, 4) == "PMGL" && control >= 0);
    const auto setWord = [&valid](qsizetype at, quint32 value) {
        QByteArray copy = valid;
        qToLittleEndian<quint32>(value, copy.data() + at);
        return copy;
    };
    const auto exitWith = [](int code) { return "#!/bin/sh\nexit " + QByteArray::number(code); };

    QTest::newRow("header cut short") << valid.left(0x5f) << QByteArray() << "it is not a compiled help file";
    // chmlib itself hangs on the first, walking the listing in a circle; it divides by zero on the second, a crash
    // (or a sanitizer's abort) that is not called damaged.
    QTest::newRow("listing chain loops") << setWord(chunk + 0x10, 0) << QByteArray() << "the file is damaged";
    QTest::newRow("zero windows per reset")
        << setWord(control + 0x14, 0) << QByteArray() << "its reader crashed (signal";
    // The reader itself failing in each way it can.
    QTest::newRow("reader hangs") << valid << QByteArray("#!/bin/sh\nexec sleep 60") << "its reader ran out of time";
    QTest::newRow("reader cannot start") << valid << QByteArray("#!/absent") << "cannot be started";
    QTest::newRow("malformed stream") << valid << QByteArray("#!/bin/sh\nprintf '\\012\\0\\0\\0/index.htm'")
                                      << "malformed";
    QTest::newRow("unknown exit code") << valid << exitWith(1) << "its reader failed (exit code 1)";
    QTest::newRow("CPU limit") << valid << QByteArray("#!/bin/sh\nkill -XCPU $$") << "its reader hit its CPU limit";
    QTest::newRow("no limit") << valid << exitWith(HelpProtocol::NoLimit) << "its reader cannot set its limits";
    QTest::newRow("output full") << valid << "#!/bin/sh\nexec " + Reader.toUtf8() + " \"$1\" >/dev/full"
                                 << "its reader cannot write its output";
    QTest::newRow("endless output") << valid << QByteArray("#!/bin/sh\nexec cat /dev/zero") << "its output limit";
    QTest::newRow("reader's output cap") << valid << exitWith(HelpProtocol::OutputCap) << "its output limit";
}

void tst_HelpViewer::damagedFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, reader);
    QFETCH(QString, reason);
    const QString file = work.filePath(QStringLiteral("spoilt.chm"));
    QVERIFY(writeFile(file, content));
    const QString program = reader.isEmpty() ? Reader : work.filePath(QStringLiteral("reader.sh"));
    if (!reader.isEmpty())
        QVERIFY(
            writeFile(program, reader + '\n') && QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));

    // The viewer's own window tells why (end to end: where it looked, and that nothing else appears).
    QWidget owner;
    QVERIFY(openHelpViewer(&owner, file, program) != 0);
    auto *browser = owner.findChild<QTextBrowser *>("helpBrowser");
    QTRY_VERIFY2_WITH_TIMEOUT(
        browser->toPlainText().contains(reason), qPrintable(browser->toPlainText()), HelpReader::TimeoutMs + 2000);
    QVERIFY(reason.contains("damaged") || !browser->toPlainText().contains("damaged"));

    // Asked again for a file that is sound by then, the same viewer shows it, contents and all.
    if (reader.isEmpty()) {
        QVERIFY(writeFile(file, readFile(source + "/windows.chm")));
        openHelpViewer(&owner, file, Reader);
        QTRY_COMPARE(browser->source().path(), QStringLiteral("/index.htm"));
        QVERIFY(owner.findChild<QTreeWidget *>("helpContents")->isVisible());
    }
}

void tst_HelpViewer::hostileNamesNotServed()
{
    // Of the names the helper passes on, those that could lead outside the file or no link can write are not served.
    QByteArray stream;
    for (const char *field : { "/a.htm", "A", "/../a.htm", "B", "//host/a.htm", "C", "/sub\\a.htm", "D", "/a\x1b.htm",
             "E", ":topic", "/a.htm", ":end", "" }) {
        char length[4];
        qToLittleEndian<quint32>(quint32(qstrlen(field)), length);
        stream += QByteArray(length, 4) + field;
    }
    QString problem;
    const HelpContent content = HelpReader::parse(stream, &problem);
    QCOMPARE(content.objects.keys(), QStringList { "/a.htm" });
    QCOMPARE(content.objects.value("/a.htm"), "A");
}

void tst_HelpViewer::placedBesideOwner_data()
{
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QRect>("owner");
    QTest::addColumn<QRect>("place");

    // Frames: the viewer's 722 x 565; the owner's 555 x 370, its title bar, menu bar and buttons in the top 80.
    const QRect wide(0, 0, 1920, 1080), square(0, 0, 1280, 1024), small(0, 0, 1024, 768);
    QTest::newRow("right") << wide << QRect(200, 300, 555, 370) << QRect(755, 300, 722, 565);
    QTest::newRow("left, owner at the right") << wide << QRect(1300, 100, 555, 370) << QRect(578, 100, 722, 565);
    QTest::newRow("below, owner as wide as the screen") << square << QRect(0, 0, 1280, 370) << QRect(0, 370, 722, 565);
    QTest::newRow("above, owner at the bottom") << square << QRect(0, 654, 1280, 370) << QRect(0, 89, 722, 565);
    QTest::newRow("narrower, right of a centred owner")
        << square << QRect(362, 327, 555, 370) << QRect(917, 327, 363, 565);
    QTest::newRow("second screen") << QRect(1920, 0, 1280, 1024) << QRect(2000, 100, 555, 370)
                                   << QRect(2555, 100, 645, 565);
    QTest::newRow("shorter, above a low owner")
        << QRect(0, 0, 800, 600) << QRect(100, 500, 555, 370) << QRect(78, 0, 722, 500);
    // No room beside it: over the owner's lists, never its top.
    QTest::newRow("over a centred owner") << small << QRect(234, 199, 555, 370) << QRect(234, 279, 722, 489);
    QTest::newRow("screen smaller than the viewer")
        << QRect(0, 0, 640, 480) << QRect(0, 0, 555, 370) << QRect(0, 80, 640, 400);
}

void tst_HelpViewer::placedBesideOwner()
{
    QFETCH(QRect, available);
    QFETCH(QRect, owner);
    QFETCH(QRect, place);
    QCOMPARE(helpWindowPlace(available, owner, 80, QSize(722, 565)), place);
}

QTEST_MAIN(tst_HelpViewer)
#include "tst_helpviewer.moc"
