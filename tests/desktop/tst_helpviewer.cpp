#include "app/desktop/help/HelpReader.h"
#include "app/desktop/help/HelpViewer.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QWindow>
#include <QtEndian>

namespace {

const QRgb HeadingColour = qRgb(0x00, 0xa0, 0x00);
const QRgb MarkColour = qRgb(255, 0, 255);
const QString Reader = qEnvironmentVariable("OMBRIX_RUNTIME_DIR") + QStringLiteral("/ombrix-help-reader");

bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

template<class Part = QWidget> Part *viewerPart(QWidget *owner, const char *name = nullptr)
{
    auto *viewer = owner->findChild<QWidget *>(QStringLiteral("helpViewer"), Qt::FindDirectChildrenOnly);
    return !viewer || !name ? qobject_cast<Part *>(viewer) : viewer->findChild<Part *>(QLatin1String(name));
}

bool showsColour(QWidget *widget, QRgb colour)
{
    const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const auto *pixels = reinterpret_cast<const QRgb *>(image.constBits());
    const auto *end = pixels + image.sizeInBytes() / sizeof(QRgb);
    return std::find(pixels, end, colour) != end;
}

} // namespace

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

public:
    /// The desktop's web browser, as the viewer reaches it.
    Q_INVOKABLE void openInBrowser(const QUrl &url) { openedInBrowser.append(url); }

private:
    QString compile(const QString &name, const QString &options, const QStringList &files);

    QTemporaryDir work;
    QString source = work.filePath(QStringLiteral("src"));
    QString withWindows;
    QString withSystemTopic;
    QString withoutTopic;
    QList<QUrl> openedInBrowser;
};

void tst_HelpViewer::initTestCase()
{
    QVERIFY(work.isValid());
    QVERIFY2(QFileInfo(Reader).isExecutable(), qPrintable(Reader));
    const auto page = [](const char *css, const QString &body) {
        return QStringLiteral("<html><head><link rel=\"stylesheet\" type=\"text/css\" href=\"%1\"></head>"
                              "<body>%2</body></html>")
            .arg(QLatin1String(css), body)
            .toUtf8();
    };
    // Long enough for several compressed frames and more than one reset interval.
    QString paragraphs;
    QRandomGenerator random(11);
    for (int i = 0; i < 5000; ++i)
        paragraphs += QStringLiteral("<p>Paragraph %1 %2</p>\n").arg(i).arg(random.generate64(), 0, 36);
    QImage mark(24, 24, QImage::Format_RGB32);
    mark.fill(MarkColour);
    QVERIFY(QDir(source).mkpath("images") && mark.save(source + "/images/mark.png"));
    const auto entry = [](const char *name, const char *local) {
        return QStringLiteral("<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"%1\">"
                              "<param name=\"Local\" value=\"%2\"></object>\n")
            .arg(QLatin1String(name), QLatin1String(local));
    };
    const QList<std::pair<QString, QByteArray>> files {
        { "index.htm",
            page("style/help.css",
                "<h1>Welcome page</h1><p><a href=\"sub/second.htm\">Second page</a></p>"
                "<p><img src=\"images/mark.png\"></p>") },
        { "sub/second.htm", page("../style/help.css", "<h1>Second page</h1><p><img src=\"../images/mark.png\"></p>") },
        { "other.htm", page("", "<h1>Other page</h1>") }, { "b_page.htm", page("", "<h1>Page B</h1>") },
        { "a_page.htm", page("", "<h1>Page A</h1>") }, { "long.htm", page("", paragraphs) },
        { "style/help.css", "h1 { color: #00a000; }\n" },
        { "toc.hhc",
            ("<html><body><ul>" + entry("Welcome", "index.htm") + "<ul>" + entry("Second", "sub/second.htm") + "</ul>"
                + entry("Other", "other.htm") + "</ul></body></html>")
                .toUtf8() }
    };
    for (const auto &[name, content] : files)
        QVERIFY(writeFile(source + '/' + name, content));

    const QStringList all { "index.htm", "sub/second.htm", "other.htm", "long.htm", "style/help.css", "images/mark.png",
        "toc.hhc" };
    withWindows = compile("windows",
        "Default topic=other.htm\nContents file=toc.hhc\nDefault Window=main\n\n[WINDOWS]\n"
        "main=\"Test\",\"toc.hhc\",,\"index.htm\",\"index.htm\",,,,,0x2520,,0x3006,,,,,,,,0\n",
        all);
    withSystemTopic = compile("system", "Default topic=other.htm\n", all);
    withoutTopic = compile("plain", QString(), { "b_page.htm", "a_page.htm" });
    QVERIFY(!withWindows.isEmpty() && !withSystemTopic.isEmpty() && !withoutTopic.isEmpty());
}

QString tst_HelpViewer::compile(const QString &name, const QString &options, const QStringList &files)
{
    const QString project
        = QStringLiteral("[OPTIONS]\nCompatibility=1.1 or later\nCompiled file=%1.chm\n"
                         "Language=0x409 English (United States)\nTitle=Test help %1\n%2\n[FILES]\n%3\n")
              .arg(name, options, files.join('\n'));
    QProcess chmcmd;
    chmcmd.setWorkingDirectory(source);
    if (writeFile(source + '/' + name + ".hhp", project.toUtf8()))
        chmcmd.start(QStringLiteral("chmcmd"), { "--no-html-scan", name + ".hhp" });
    return chmcmd.waitForFinished(60000) && chmcmd.exitCode() == 0 ? source + '/' + name + ".chm" : QString();
}

void tst_HelpViewer::readerOpensAtDefaultTopic_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QStringList>("objects");

    // The #SYSTEM default topic wins over the first page; the viewer test shows that a window's
    // start page wins over both.
    QTest::newRow("system default topic")
        << withSystemTopic << "/other.htm" << QStringList { "long.htm", "images/mark.png", "sub/second.htm" };
    QTest::newRow("first page") << withoutTopic << "/a_page.htm" << QStringList { "a_page.htm", "b_page.htm" };
}

void tst_HelpViewer::readerOpensAtDefaultTopic()
{
    QFETCH(QString, file);
    QFETCH(QString, topic);
    QFETCH(QStringList, objects);

    HelpReader reader(Reader);
    QSignalSpy finished(&reader, &HelpReader::finished);
    reader.read(file);
    QVERIFY(finished.wait(HelpReader::TimeoutMs * 2));
    const auto content = finished[0][0].value<HelpContent>();
    QCOMPARE(finished[0][1].toString(), QString());
    QCOMPARE(content.topic, topic);
    // Every object reads back whole, also a page that spans several reset intervals.
    for (const QString &object : objects)
        QCOMPARE(content.objects.value('/' + object), readFile(source + '/' + object));
}

void tst_HelpViewer::viewerShowsPagesAndContents()
{
    QWidget owner;
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    const quintptr id = openHelpViewer(&owner, withWindows, Reader);
    QWidget *viewer = viewerPart(&owner);
    // A window of its own that leaves its owner usable (end to end: transient for it).
    QVERIFY(viewer && viewer->winId() == WId(id) && viewer->isWindow() && !QApplication::activeModalWidget());

    // The window's start page, over the #SYSTEM default topic (other.htm).
    auto *browser = viewerPart<QTextBrowser>(&owner, "helpBrowser");
    QVERIFY(QTest::qWaitForWindowExposed(viewer));
    QTRY_COMPARE(browser->source().path(), QStringLiteral("/index.htm"));
    QTRY_VERIFY(showsColour(browser->viewport(), HeadingColour) && showsColour(browser->viewport(), MarkColour));

    // The sitemap's entries, nested as its lists are; the page shown is the current entry.
    auto *contents = viewerPart<QTreeWidget>(&owner, "helpContents");
    QVERIFY(contents->isVisible());
    QCOMPARE(contents->topLevelItemCount(), 2);
    QTreeWidgetItem *welcome = contents->topLevelItem(0);
    QTreeWidgetItem *other = contents->topLevelItem(1);
    QCOMPARE(welcome->text(0) + ',' + welcome->child(0)->text(0) + ',' + other->text(0), "Welcome,Second,Other");
    QCOMPARE(contents->currentItem(), welcome);

    // Tab selects the page's only link; Return follows it. References from a page in a subfolder
    // resolve against that folder, and the contents follow.
    browser->setFocus();
    QTest::keyClick(browser, Qt::Key_Tab);
    QTest::keyClick(browser, Qt::Key_Return);
    QTRY_COMPARE(browser->source().path(), QStringLiteral("/sub/second.htm"));
    QTRY_VERIFY(showsColour(browser->viewport(), HeadingColour) && showsColour(browser->viewport(), MarkColour));
    QCOMPARE(contents->currentItem(), welcome->child(0));

    // A click on an entry shows its page; without the style sheet it keeps the default colour,
    // so the colour came from the file.
    QTest::mouseClick(contents->viewport(), Qt::LeftButton, {}, contents->visualItemRect(other).center());
    QTRY_VERIFY(browser->toPlainText().contains("Other page"));
    QVERIFY(!showsColour(browser->viewport(), HeadingColour));

    // Links out of the file: the web opens in the desktop's browser; a local file or a script is
    // not followed, and the page stays.
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openInBrowser");
    for (const char *link : { "file:///etc/passwd", "javascript:alert(1)", "https://example.org/help" })
        browser->setSource(QUrl(QLatin1String(link)));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QCOMPARE(openedInBrowser, QList<QUrl> { QUrl(QStringLiteral("https://example.org/help")) });
    QVERIFY(browser->toPlainText().contains("Other page"));

    // Ctrl+F finds in the page.
    QTest::keySequence(viewer, QKeySequence::Find);
    auto *find = viewerPart<QLineEdit>(&owner, "helpFind");
    QTRY_VERIFY(find->hasFocus());
    QTest::keyClicks(find, QStringLiteral("page"));
    QTest::keyClick(find, Qt::Key_Return);
    QCOMPARE(browser->textCursor().selectedText(), QStringLiteral("page"));
}

void tst_HelpViewer::sitemapMarkup()
{
    // Quoting, case and references as help compilers write them; objects of other types, stray and
    // unclosed markup.
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

    const QByteArray valid = readFile(withWindows);
    // Where the structures to spoil lie: the first directory chunk, the LZX control data, and the
    // reset table (version 2, then the offset of its entries, 0x28, two words on).
    const qsizetype chunk = qsizetype(qFromLittleEndian<quint64>(valid.constData() + 0x48) + 0x54);
    const qsizetype control = valid.indexOf("LZXC") - 4;
    const qsizetype reset = valid.indexOf(QByteArray("\x08\0\0\0\x28\0\0\0", 8)) - 8;
    QVERIFY(valid.mid(chunk, 4) == "PMGL" && control >= 0 && valid.mid(reset, 4) == QByteArray("\2\0\0\0", 4));
    const auto setWord = [&valid](qsizetype at, quint32 value) {
        QByteArray copy = valid;
        qToLittleEndian<quint32>(value, copy.data() + at);
        return copy;
    };

    QTest::newRow("header cut short") << valid.left(0x5f) << QByteArray() << "it is not a compiled help file";
    // Each of these hangs or crashes chmlib itself: the listing walks in a circle, a division by
    // zero, a read far outside the buffer.
    QTest::newRow("listing chain loops") << setWord(chunk + 0x10, 0) << QByteArray() << "the file is damaged";
    QTest::newRow("zero windows per reset") << setWord(control + 0x14, 0) << QByteArray() << "the file is damaged";
    // Whether chmlib crashes or spins first here depends on the build and the machine's load.
    QTest::newRow("wild block length") << setWord(reset + 0x20, 0xffffffff) << QByteArray()
                                       << "the file is damaged|reading it takes too long";
    // The reader itself failing in each way it can.
    QTest::newRow("reader hangs") << valid << QByteArray("#!/bin/sh\nexec sleep 60") << "reading it takes too long";
    QTest::newRow("reader cannot start") << valid << QByteArray("#!/absent") << "cannot be started";
    QTest::newRow("malformed stream") << valid << QByteArray("#!/bin/sh\nprintf '\\012\\0\\0\\0/index.htm'")
                                      << "malformed";
}

void tst_HelpViewer::damagedFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, reader);
    QFETCH(QString, reason);
    const QString file = work.filePath(QStringLiteral("damaged.chm"));
    QVERIFY(writeFile(file, content));
    const QString program = reader.isEmpty() ? Reader : work.filePath(QStringLiteral("reader.sh"));
    if (!reader.isEmpty())
        QVERIFY(
            writeFile(program, reader + '\n') && QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));

    QWidget owner;
    QVERIFY(openHelpViewer(&owner, file, program) != 0);
    // The viewer's own window tells why and where it looked (end to end: and nothing else appears).
    auto *browser = viewerPart<QTextBrowser>(&owner, "helpBrowser");
    QTRY_VERIFY_WITH_TIMEOUT(!browser->toPlainText().isEmpty(), HelpReader::TimeoutMs + 2000);
    const QString text = browser->toPlainText();
    QVERIFY2(text.startsWith(QStringLiteral("Cannot open the help file damaged.chm: "))
            && text.contains(QRegularExpression(reason)) && text.contains(QDir::toNativeSeparators(work.path())),
        qPrintable(text));

    // Asked again for a file that is sound by then, the same viewer shows it.
    if (reader.isEmpty()) {
        QVERIFY(writeFile(file, readFile(withWindows)));
        openHelpViewer(&owner, file, Reader);
        QTRY_COMPARE(browser->source().path(), QStringLiteral("/index.htm"));
    }
}

void tst_HelpViewer::hostileNamesNotServed()
{
    // The helper passes on every name the file holds; those that could name a place outside it,
    // or that no link can write, are not served.
    QByteArray stream;
    for (const char *field : { "/a.htm", "A", "/../a.htm", "B", "//host/a.htm", "C", "/sub\\a.htm", "D", "/a\x1b.htm",
             "E", ":topic", "/a.htm", ":end", "" }) {
        char length[4];
        qToLittleEndian<quint32>(quint32(qstrlen(field)), length);
        stream += QByteArray(length, 4) + field;
    }
    QString problem;
    const HelpContent content = HelpReader::parse(stream, &problem);
    QCOMPARE(problem, QString());
    QCOMPARE(content.objects.keys(), QStringList { "/a.htm" });
    QCOMPARE(content.objects.value("/a.htm"), "A");
}

QTEST_MAIN(tst_HelpViewer)
#include "tst_helpviewer.moc"
