#include "about/ChmArchive.h"
#include "about/ChmLzx.h"
#include "about/ChmValidator.h"
#include "about/HelpViewer.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QUrl>
#include <QtEndian>

#include <chm_lib.h>
#include <lzx.h>

#include <functional>
#include <memory>

namespace {

const QColor HeadingColour(0x00, 0xa0, 0x00);
const QRgb MarkColour = qRgb(255, 0, 255);

// Writes an LZX bit stream: bits go most significant first into 16-bit little-endian words.
class BitWriter
{
public:
    void bits(quint32 value, int count)
    {
        for (int i = count - 1; i >= 0; --i)
            push((value >> i) & 1);
    }
    void raw(const QByteArray &bytes)
    {
        align();
        stream += bytes;
    }
    QByteArray data()
    {
        align();
        return stream;
    }

private:
    void align()
    {
        while (used)
            push(0);
    }
    void push(quint32 bit)
    {
        word = (word << 1) | bit;
        if (++used == 16) {
            stream.append(char(word & 0xff));
            stream.append(char(word >> 8));
            word = 0;
            used = 0;
        }
    }
    QByteArray stream;
    quint32 word = 0;
    int used = 0;
};

// One 32 KiB frame for a 64 KiB window: an uncompressed block of 16 bytes whose header sets the
// repeated offset R0, then a verbatim block whose first symbol is a match at R0 and whose other
// 32750 symbols are zero literals.
QByteArray repeatedOffsetFrame(quint32 r0)
{
    BitWriter writer;
    writer.bits(0, 1);
    writer.bits(3, 3);
    writer.bits(0, 16);
    writer.bits(16, 8);
    QByteArray header(12, '\0');
    qToLittleEndian<quint32>(r0, header.data());
    qToLittleEndian<quint32>(1, header.data() + 4);
    qToLittleEndian<quint32>(1, header.data() + 8);
    QByteArray literals;
    for (char c = 1; c <= 16; ++c)
        literals.append(c);
    writer.raw(header + literals);

    writer.bits(1, 3);
    writer.bits(32752 >> 8, 16);
    writer.bits(32752 & 0xff, 8);
    const auto pretree = [&](int first, int second) {
        for (int symbol = 0; symbol < 20; ++symbol)
            writer.bits(symbol == first || symbol == second ? 1 : 0, 4);
    };
    // Main tree: symbol 0 and symbol 256 (match, length 2, offset R0) one bit each.
    for (int half = 0; half < 2; ++half) {
        pretree(16, 18);
        writer.bits(0, 1); // pretree 16: length 0 - 16 + 17 = 1
        for (int run = 0; run < 5; ++run) {
            writer.bits(1, 1); // pretree 18: 20 + 31 zeros
            writer.bits(31, 5);
        }
    }
    // Length tree: empty.
    pretree(17, 18);
    for (int run = 0; run < 4; ++run) {
        writer.bits(1, 1);
        writer.bits(31, 5);
    }
    writer.bits(1, 1);
    writer.bits(25, 5);

    writer.bits(1, 1);
    for (int literal = 0; literal < 32750; ++literal)
        writer.bits(0, 1);
    return writer.data();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

QWidget *viewerOf(QWidget *owner)
{
    return owner->findChild<QWidget *>(QStringLiteral("helpViewer"), Qt::FindDirectChildrenOnly);
}

// Where in the browser's viewport the anchor with this text is drawn.
QPoint anchorPoint(QTextBrowser *browser, const QString &text)
{
    for (QTextBlock block = browser->document()->begin(); block.isValid(); block = block.next()) {
        for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
            const QTextFragment part = fragment.fragment();
            if (part.charFormat().isAnchor() && part.text().contains(text)) {
                QTextCursor cursor(browser->document());
                cursor.setPosition(part.position() + 1);
                return browser->cursorRect(cursor).center();
            }
        }
    }
    return {};
}

QColor headingColour(QTextBrowser *browser, const QString &heading)
{
    for (QTextBlock block = browser->document()->begin(); block.isValid(); block = block.next()) {
        if (block.text() == heading)
            return block.begin().fragment().charFormat().foreground().color();
    }
    return {};
}

bool showsColour(QWidget *widget, QRgb colour)
{
    const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if ((line[x] & 0xffffff) == (colour & 0xffffff))
                return true;
        }
    }
    return false;
}

struct RawObject
{
    quint64 start = 0;
    QByteArray data;
};

// An object of the uncompressed section as it lies in the file, read through chmlib.
RawObject rawObject(const QString &file, const char *path)
{
    RawObject object;
    chmFile *handle = chm_open(QFile::encodeName(file).constData());
    if (!handle)
        return object;
    chmUnitInfo unit;
    if (chm_resolve_object(handle, path, &unit) == CHM_RESOLVE_SUCCESS && unit.space == CHM_UNCOMPRESSED) {
        object.start = unit.start;
        object.data.resize(qsizetype(unit.length));
        chm_retrieve_object(
            handle, &unit, reinterpret_cast<unsigned char *>(object.data.data()), 0, LONGINT64(unit.length));
    }
    chm_close(handle);
    return object;
}

} // namespace

class tst_HelpViewer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void opensAtDefaultTopic_data();
    void opensAtDefaultTopic();
    void pagesPicturesAndStyleSheetsComeFromTheFile();
    void readsEveryFrameOfALongPage();
    void secondRequestBringsTheViewerForward();
    void bareNameMeansCurrentDirectory();
    void missingFileOpensNothing();
    void hostileFilesOpenNothing_data();
    void hostileFilesOpenNothing();
    void damagedFilesNeverCrash_data();
    void damagedFilesNeverCrash();
    void systemRecords_data();
    void systemRecords();
    void windowStartPages_data();
    void windowStartPages();
    void lzxMirrorAgreesWithChmlib();
    void lzxMirrorRejectsWildRepeatedOffset();
    void realHelpFileOpensAtItsFirstPage();

private:
    QString compile(const QString &name, const QString &options, const QString &windows, const QStringList &files);
    QTextBrowser *open(QWidget *owner, const QString &file);
    QByteArray patched(const QByteArray &file, const std::function<void(QByteArray &)> &change);

    QTemporaryDir work;
    QString withWindows;
    QString withSystemTopic;
    QString withoutTopic;
    QByteArray longPage;
    std::unique_ptr<QWidget> owner;
};

void tst_HelpViewer::initTestCase()
{
    QVERIFY(work.isValid());
    if (QStandardPaths::findExecutable(QStringLiteral("chmcmd")).isEmpty())
        QSKIP("chmcmd (fp-utils) is not installed");

    const QString css = QStringLiteral("h1 { color: #00a000; }\n");
    QImage mark(24, 24, QImage::Format_RGB32);
    mark.fill(MarkColour);
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(mark.save(&buffer, "PNG"));
    }
    const auto page = [](const QString &css, const QString &body) {
        return QStringLiteral("<html><head><title>t</title><link rel=\"stylesheet\" type=\"text/css\" href=\"%1\">"
                              "</head><body>%2</body></html>")
            .arg(css, body)
            .toUtf8();
    };
    // Long enough for several compressed frames and more than one reset interval.
    QString paragraphs;
    QRandomGenerator random(11);
    for (int i = 0; i < 5000; ++i)
        paragraphs += QStringLiteral("<p>Paragraph %1 %2</p>\n").arg(i).arg(random.generate64(), 0, 36);
    longPage = page(QString(), paragraphs + QStringLiteral("<p>Closing paragraph</p>"));

    const QString source = work.filePath(QStringLiteral("src"));
    QVERIFY(writeFile(source + "/index.htm",
        page(QStringLiteral("style/help.css"),
            QStringLiteral("<h1>Welcome page</h1><p><a href=\"sub/second.htm\">Second page</a></p>"
                           "<p><img src=\"images/mark.png\"></p>"))));
    QVERIFY(writeFile(source + "/sub/second.htm",
        page(QStringLiteral("../style/help.css"),
            QStringLiteral("<h1>Second page heading</h1><p><img src=\"../images/mark.png\"></p>"
                           "<p><a href=\"../index.htm\">Back to the start</a></p>"))));
    QVERIFY(writeFile(source + "/other.htm", page(QString(), QStringLiteral("<h1>Other page</h1>"))));
    QVERIFY(writeFile(source + "/b_page.htm", page(QString(), QStringLiteral("<h1>Page B</h1>"))));
    QVERIFY(writeFile(source + "/a_page.htm", page(QString(), QStringLiteral("<h1>Page A</h1>"))));
    QVERIFY(writeFile(source + "/long.htm", longPage));
    QVERIFY(writeFile(source + "/style/help.css", css.toUtf8()));
    QVERIFY(writeFile(source + "/images/mark.png", png));

    const QStringList all { "index.htm", "sub/second.htm", "other.htm", "long.htm", "style/help.css",
        "images/mark.png" };
    withWindows = compile(QStringLiteral("windows"), QStringLiteral("Default topic=other.htm\nDefault Window=main\n"),
        QStringLiteral("main=\"Test\",,,\"index.htm\",\"index.htm\",,,,,0x2520,,0x3006,,,,,,,,0\n"), all);
    withSystemTopic = compile(QStringLiteral("system"), QStringLiteral("Default topic=other.htm\n"), QString(), all);
    withoutTopic = compile(QStringLiteral("plain"), QString(), QString(), { "b_page.htm", "a_page.htm" });
    QVERIFY(!withWindows.isEmpty() && !withSystemTopic.isEmpty() && !withoutTopic.isEmpty());
}

void tst_HelpViewer::cleanup()
{
    owner.reset();
}

QString tst_HelpViewer::compile(
    const QString &name, const QString &options, const QString &windows, const QStringList &files)
{
    const QString source = work.filePath(QStringLiteral("src"));
    QString project = QStringLiteral("[OPTIONS]\nCompatibility=1.1 or later\nCompiled file=%1.chm\n"
                                     "Language=0x409 English (United States)\nTitle=Test help %1\n%2")
                          .arg(name, options);
    if (!windows.isEmpty())
        project += QStringLiteral("\n[WINDOWS]\n") + windows;
    project += QStringLiteral("\n[FILES]\n") + files.join('\n') + '\n';
    const QString projectFile = source + '/' + name + ".hhp";
    if (!writeFile(projectFile, project.toUtf8()))
        return {};

    QProcess chmcmd;
    chmcmd.setWorkingDirectory(source);
    chmcmd.start(
        QStandardPaths::findExecutable(QStringLiteral("chmcmd")), { QStringLiteral("--no-html-scan"), name + ".hhp" });
    if (!chmcmd.waitForFinished(60000) || chmcmd.exitCode() != 0)
        return {};
    const QString output = work.filePath(name + ".chm");
    QFile::remove(output);
    return QFile::rename(source + '/' + name + ".chm", output) ? output : QString();
}

QTextBrowser *tst_HelpViewer::open(QWidget *owner, const QString &file)
{
    if (openHelpViewer(owner, file) == 0)
        return nullptr;
    QWidget *viewer = viewerOf(owner);
    return viewer ? viewer->findChild<QTextBrowser *>(QStringLiteral("helpBrowser")) : nullptr;
}

QByteArray tst_HelpViewer::patched(const QByteArray &file, const std::function<void(QByteArray &)> &change)
{
    QByteArray copy = file;
    change(copy);
    return copy;
}

void tst_HelpViewer::opensAtDefaultTopic_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QString>("heading");

    // The window's start page wins over the #SYSTEM default topic, which wins over the first page.
    QTest::newRow("window start page") << withWindows << "/index.htm"
                                       << "Welcome page";
    QTest::newRow("system default topic") << withSystemTopic << "/other.htm"
                                          << "Other page";
    QTest::newRow("first page") << withoutTopic << "/a_page.htm"
                                << "Page A";
}

void tst_HelpViewer::opensAtDefaultTopic()
{
    QFETCH(QString, file);
    QFETCH(QString, topic);
    QFETCH(QString, heading);

    // The precedence rows mean something only if the file really carries the topic they skip.
    if (file == withWindows) {
        const auto archive = ChmArchive::open(file);
        QVERIFY(archive);
        QCOMPARE(Chm::systemRecord(archive->read("/#SYSTEM"), 2), QByteArray("other.htm"));
    }

    owner = std::make_unique<QWidget>();
    owner->show();
    const quintptr id = openHelpViewer(owner.get(), file);
    QVERIFY(id != 0);

    QWidget *viewer = viewerOf(owner.get());
    QVERIFY(viewer);
    QVERIFY(viewer->isWindow());
    QCOMPARE(viewer->parentWidget(), owner.get());
    QVERIFY(viewer->isVisible());
    QCOMPARE(viewer->winId(), WId(id));
    // It stands beside its owner without blocking it.
    QVERIFY(!viewer->isModal());
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QVERIFY(owner->isEnabled());

    auto *browser = viewer->findChild<QTextBrowser *>(QStringLiteral("helpBrowser"));
    QVERIFY(browser);
    QCOMPARE(browser->source().path(), topic);
    QVERIFY(browser->toPlainText().contains(heading));
}

void tst_HelpViewer::pagesPicturesAndStyleSheetsComeFromTheFile()
{
    owner = std::make_unique<QWidget>();
    owner->show();
    QTextBrowser *browser = open(owner.get(), withWindows);
    QVERIFY(browser);
    QVERIFY(QTest::qWaitForWindowExposed(browser->window()));
    QCOMPARE(headingColour(browser, QStringLiteral("Welcome page")), HeadingColour);
    QTRY_VERIFY(showsColour(browser->viewport(), MarkColour));

    const QPoint link = anchorPoint(browser, QStringLiteral("Second page"));
    QVERIFY(!link.isNull());
    QTest::mouseClick(browser->viewport(), Qt::LeftButton, {}, link);
    QTRY_COMPARE(browser->source().path(), QStringLiteral("/sub/second.htm"));
    QVERIFY(browser->toPlainText().contains(QStringLiteral("Second page heading")));
    // Relative references from a page in a subfolder resolve against that folder.
    QCOMPARE(headingColour(browser, QStringLiteral("Second page heading")), HeadingColour);
    QTRY_VERIFY(showsColour(browser->viewport(), MarkColour));

    const QPoint back = anchorPoint(browser, QStringLiteral("Back to the start"));
    QVERIFY(!back.isNull());
    QTest::mouseClick(browser->viewport(), Qt::LeftButton, {}, back);
    QTRY_COMPARE(browser->source().path(), QStringLiteral("/index.htm"));

    // A page without the style sheet keeps the default colour: the colour came from the file.
    browser->setSource(QUrl(QStringLiteral("chm:/other.htm")));
    QVERIFY(headingColour(browser, QStringLiteral("Other page")) != HeadingColour);
}

void tst_HelpViewer::readsEveryFrameOfALongPage()
{
    const auto archive = ChmArchive::open(withWindows);
    QVERIFY(archive);
    QCOMPARE(archive->read(QStringLiteral("/long.htm")), longPage);
    QVERIFY(archive->read(QStringLiteral("/nothing.htm")).isNull());
}

void tst_HelpViewer::secondRequestBringsTheViewerForward()
{
    owner = std::make_unique<QWidget>();
    owner->show();
    QTextBrowser *browser = open(owner.get(), withWindows);
    QVERIFY(browser);
    QWidget *viewer = browser->window();
    viewer->showMinimized();

    const quintptr again = openHelpViewer(owner.get(), withWindows);
    QCOMPARE(again, quintptr(viewer->winId()));
    QCOMPARE(owner->findChildren<QWidget *>(QStringLiteral("helpViewer")).size(), 1);
    QVERIFY(!(viewer->windowState() & Qt::WindowMinimized));

    // Another file gets a viewer of its own.
    const quintptr other = openHelpViewer(owner.get(), withSystemTopic);
    QVERIFY(other != 0 && other != again);
    QCOMPARE(owner->findChildren<QWidget *>(QStringLiteral("helpViewer")).size(), 2);
}

void tst_HelpViewer::bareNameMeansCurrentDirectory()
{
    const QString previous = QDir::currentPath();
    owner = std::make_unique<QWidget>();
    const QString name = QFileInfo(withWindows).fileName();

    QVERIFY(QDir::setCurrent(QFileInfo(withWindows).absolutePath()));
    const quintptr found = openHelpViewer(owner.get(), name);
    QVERIFY(QDir::setCurrent(work.filePath(QStringLiteral("src"))));
    const quintptr elsewhere = openHelpViewer(owner.get(), name);
    QVERIFY(QDir::setCurrent(previous));

    QVERIFY(found != 0);
    QCOMPARE(elsewhere, quintptr(0));
}

void tst_HelpViewer::missingFileOpensNothing()
{
    owner = std::make_unique<QWidget>();
    owner->show();
    const qsizetype windowsBefore = QApplication::topLevelWidgets().size();

    QCOMPARE(openHelpViewer(owner.get(), work.filePath(QStringLiteral("absent.chm"))), quintptr(0));
    QCOMPARE(openHelpViewer(owner.get(), work.path()), quintptr(0));
    QCOMPARE(viewerOf(owner.get()), nullptr);
    // No message box or any other window.
    QCOMPARE(QApplication::topLevelWidgets().size(), windowsBefore);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
}

void tst_HelpViewer::hostileFilesOpenNothing_data()
{
    QTest::addColumn<QByteArray>("content");

    const QByteArray valid = readFile(withWindows);
    QVERIFY(valid.size() > 0x1000);
    // Offsets of the structures to spoil, found through chmlib on the valid file.
    const quint64 dataOffset = qFromLittleEndian<quint64>(valid.constData() + 0x58);
    const quint64 directory = qFromLittleEndian<quint64>(valid.constData() + 0x48);
    const quint64 chunk = directory + 0x54;
    QCOMPARE(valid.mid(qsizetype(chunk), 4), QByteArray("PMGL"));
    const RawObject control = rawObject(withWindows, "::DataSpace/Storage/MSCompressed/ControlData");
    const RawObject resetTable = rawObject(withWindows,
        "::DataSpace/Storage/MSCompressed/Transform/"
        "{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/ResetTable");
    QCOMPARE(control.data.mid(4, 4), QByteArray("LZXC"));
    QVERIFY(resetTable.data.size() >= 0x28);
    const qsizetype controlAt = qsizetype(dataOffset + control.start);
    const qsizetype resetAt = qsizetype(dataOffset + resetTable.start);
    const auto setWord
        = [](QByteArray &file, qsizetype at, quint32 value) { qToLittleEndian<quint32>(value, file.data() + at); };

    QTest::newRow("zero length") << QByteArray();
    QTest::newRow("one byte") << valid.left(1);
    QTest::newRow("header cut short") << valid.left(0x5f);
    QTest::newRow("header only") << valid.left(0x60);
    QTest::newRow("directory cut short") << valid.left(qsizetype(chunk) + 100);
    QTest::newRow("random bytes") << [] {
        QByteArray bytes(8192, '\0');
        QRandomGenerator random(3);
        for (char &byte : bytes)
            byte = char(random.bounded(256));
        return bytes;
    }();
    // Each of these crashes, hangs or over-reads inside chmlib itself when it is not caught first.
    QTest::newRow("listing chain loops") << patched(valid, [&](QByteArray &file) {
        setWord(file, qsizetype(chunk) + 0x10, 0); // next chunk: itself
    });
    QTest::newRow("free space larger than the chunk")
        << patched(valid, [&](QByteArray &file) { setWord(file, qsizetype(chunk) + 4, 0xfffffff0); });
    QTest::newRow("empty entry name") << patched(valid, [&](QByteArray &file) { file[qsizetype(chunk) + 0x14] = 0; });
    QTest::newRow("zero windows per reset")
        << patched(valid, [&](QByteArray &file) { setWord(file, controlAt + 0x14, 0); });
    QTest::newRow("window size LZX cannot do")
        << patched(valid, [&](QByteArray &file) { setWord(file, controlAt + 0x10, 3); });
    QTest::newRow("frame longer than its buffer") << patched(valid, [&](QByteArray &file) {
        // A frame ends where the next one starts: move the start of the third far away.
        const quint32 tableOffset = qFromLittleEndian<quint32>(resetTable.data.constData() + 12);
        setWord(file, resetAt + qsizetype(tableOffset) + 16, 0x7fffffff);
    });
    QTest::newRow("reset table without blocks")
        << patched(valid, [&](QByteArray &file) { setWord(file, resetAt + 4, 0); });
}

void tst_HelpViewer::hostileFilesOpenNothing()
{
    QFETCH(QByteArray, content);
    const QString file = work.filePath(QStringLiteral("hostile.chm"));
    QVERIFY(writeFile(file, content));
    owner = std::make_unique<QWidget>();

    QVERIFY(!chmArchiveProblem(content).isEmpty());
    QCOMPARE(openHelpViewer(owner.get(), file), quintptr(0));
    QCOMPARE(viewerOf(owner.get()), nullptr);
}

void tst_HelpViewer::damagedFilesNeverCrash_data()
{
    QTest::addColumn<QByteArray>("content");

    const QByteArray valid = readFile(withWindows);
    for (qsizetype length = 0x40; length < valid.size(); length += valid.size() / 40)
        QTest::addRow("cut at %lld", qlonglong(length)) << valid.left(length);
    QRandomGenerator random(29);
    for (int i = 0; i < 150; ++i) {
        QByteArray damaged = valid;
        const int flips = 1 + int(random.bounded(4));
        for (int flip = 0; flip < flips; ++flip) {
            const qsizetype at = qsizetype(random.bounded(quint32(valid.size())));
            damaged[at] = char(damaged[at] ^ (1 << random.bounded(8)));
        }
        QTest::addRow("bit flips %d", i) << damaged;
    }
}

void tst_HelpViewer::damagedFilesNeverCrash()
{
    QFETCH(QByteArray, content);
    const QString file = work.filePath(QStringLiteral("damaged.chm"));
    QVERIFY(writeFile(file, content));

    // Either nothing opens, or every object reads back without harm.
    if (const auto archive = ChmArchive::open(file)) {
        for (const char *path : { "/index.htm", "/sub/second.htm", "/long.htm", "/style/help.css", "/images/mark.png",
                 "/#SYSTEM", "/#WINDOWS", "/#STRINGS" })
            archive->read(QString::fromLatin1(path));
    }
    owner = std::make_unique<QWidget>();
    if (openHelpViewer(owner.get(), file) != 0)
        QVERIFY(viewerOf(owner.get()));
    else
        QCOMPARE(viewerOf(owner.get()), nullptr);
}

void tst_HelpViewer::systemRecords_data()
{
    QTest::addColumn<QByteArray>("system");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("expected");

    const auto record = [](quint16 code, const QByteArray &data, int length = -1) {
        QByteArray bytes(4, '\0');
        qToLittleEndian<quint16>(code, bytes.data());
        qToLittleEndian<quint16>(quint16(length < 0 ? data.size() : length), bytes.data() + 2);
        return bytes + data;
    };
    const QByteArray version("\x03\0\0\0", 4);
    QTest::newRow("found after another") << version + record(3, "Title\0") + record(2, QByteArray("a.htm\0", 6)) << 2
                                         << QByteArray("a.htm");
    QTest::newRow("absent") << version + record(3, "Title") << 2 << QByteArray();
    QTest::newRow("no terminating NUL") << version + record(2, "a.htm") << 2 << QByteArray("a.htm");
    QTest::newRow("length past the end") << version + record(2, "a.htm", 0xffff) << 2 << QByteArray();
    QTest::newRow("earlier record past the end")
        << version + record(3, "x", 60000) + record(2, "a.htm") << 2 << QByteArray();
    QTest::newRow("record header cut short") << version + QByteArray("\x02\0", 2) << 2 << QByteArray();
    QTest::newRow("empty") << QByteArray() << 2 << QByteArray();
}

void tst_HelpViewer::systemRecords()
{
    QFETCH(QByteArray, system);
    QFETCH(int, code);
    QFETCH(QByteArray, expected);
    QCOMPARE(Chm::systemRecord(system, quint16(code)), expected);
}

void tst_HelpViewer::windowStartPages_data()
{
    QTest::addColumn<QByteArray>("windows");
    QTest::addColumn<QByteArray>("strings");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QList<QByteArray>>("expected");

    const QByteArray strings("\0main\0second\0index.htm\0home.htm\0other.htm\0", 42);
    const auto entry = [](quint32 name, quint32 page, quint32 home, quint32 size = 196, quint32 unicode = 0) {
        QByteArray bytes(0x70, '\0');
        qToLittleEndian<quint32>(size, bytes.data());
        qToLittleEndian<quint32>(unicode, bytes.data() + 4);
        qToLittleEndian<quint32>(name, bytes.data() + 8);
        qToLittleEndian<quint32>(page, bytes.data() + 0x68);
        qToLittleEndian<quint32>(home, bytes.data() + 0x6c);
        bytes.resize(qsizetype(size));
        return bytes;
    };
    const auto table = [](quint32 count, quint32 size, const QByteArray &entries) {
        QByteArray bytes(8, '\0');
        qToLittleEndian<quint32>(count, bytes.data());
        qToLittleEndian<quint32>(size, bytes.data() + 4);
        return bytes + entries;
    };
    const QList<QByteArray> mainPages { "index.htm", "home.htm" };

    QTest::newRow("default and home page")
        << table(1, 196, entry(1, 13, 23)) << strings << QByteArray("main") << mainPages;
    QTest::newRow("named window first") << table(2, 196, entry(6, 32, 0) + entry(1, 13, 23)) << strings
                                        << QByteArray("MAIN") << (mainPages + QList<QByteArray> { "other.htm" });
    QTest::newRow("count larger than the data")
        << table(1000000, 196, entry(1, 13, 23)) << strings << QByteArray() << mainPages;
    QTest::newRow("entries too small to hold pages")
        << table(1, 16, entry(1, 13, 23, 16)) << strings << QByteArray() << QList<QByteArray>();
    QTest::newRow("string offsets past the strings")
        << table(1, 196, entry(1, 4000, 0xffffffff)) << strings << QByteArray() << QList<QByteArray>();
    QTest::newRow("string without its NUL")
        << table(1, 196, entry(1, 13, 0)) << strings.left(20) << QByteArray() << QList<QByteArray>();
    QTest::newRow("unicode entry skipped")
        << table(1, 196, entry(1, 13, 23, 196, 1)) << strings << QByteArray() << QList<QByteArray>();
    QTest::newRow("header cut short") << QByteArray(5, '\1') << strings << QByteArray() << QList<QByteArray>();
}

void tst_HelpViewer::windowStartPages()
{
    QFETCH(QByteArray, windows);
    QFETCH(QByteArray, strings);
    QFETCH(QByteArray, name);
    QFETCH(QList<QByteArray>, expected);
    QCOMPARE(Chm::windowStartPages(windows, strings, name), expected);
}

// The mirror must never accept a frame sequence on which chmlib's own decoder fails: it is what
// stands between a damaged file and chmlib. Frames come from a real compiled file, then damaged.
void tst_HelpViewer::lzxMirrorAgreesWithChmlib()
{
    const RawObject content = rawObject(withWindows, "::DataSpace/Storage/MSCompressed/Content");
    const RawObject table = rawObject(withWindows,
        "::DataSpace/Storage/MSCompressed/Transform/"
        "{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/ResetTable");
    const RawObject control = rawObject(withWindows, "::DataSpace/Storage/MSCompressed/ControlData");
    QVERIFY(!content.data.isEmpty() && table.data.size() >= 0x28 && control.data.size() >= 0x18);
    const quint32 blockCount = qFromLittleEndian<quint32>(table.data.constData() + 4);
    const quint32 tableOffset = qFromLittleEndian<quint32>(table.data.constData() + 12);
    const int blockLength = int(qFromLittleEndian<quint64>(table.data.constData() + 32));
    QCOMPARE(qFromLittleEndian<quint32>(control.data.constData() + 8), 2u);
    const quint32 resetInterval = qFromLittleEndian<quint32>(control.data.constData() + 0x0c) * 0x8000;
    const quint32 windowSize = qFromLittleEndian<quint32>(control.data.constData() + 0x10) * 0x8000;
    const quint32 windowsPerReset = qFromLittleEndian<quint32>(control.data.constData() + 0x14);
    const int windowBits = qCountTrailingZeroBits(windowSize);
    // Both decoders start afresh where chmlib would.
    const qsizetype resetFrames = qsizetype(resetInterval / (windowSize / 2) * windowsPerReset);
    QVERIFY(resetFrames > 0);
    const int frames = 4; // the long page spans these and more
    QVERIFY(blockCount > quint32(frames));
    QList<QByteArray> valid;
    for (int frame = 0; frame < frames; ++frame) {
        const quint64 start = qFromLittleEndian<quint64>(table.data.constData() + tableOffset + frame * 8);
        const quint64 end = qFromLittleEndian<quint64>(table.data.constData() + tableOffset + frame * 8 + 8);
        valid.append(content.data.mid(qsizetype(start), qsizetype(end - start)));
    }
    const qsizetype bufferSize = blockLength + 6144;

    const auto mirrorAccepts = [&](const QList<QByteArray> &sequence) {
        ChmLzxMirror mirror(windowBits);
        for (qsizetype frame = 0; frame < sequence.size(); ++frame) {
            if (frame % resetFrames == 0)
                mirror.reset();
            if (!mirror.decompress(sequence[frame], bufferSize, blockLength))
                return false;
        }
        return true;
    };
    // Only ever called on what the mirror accepted: anything else may crash chmlib.
    const auto chmlibDecodes = [&](const QList<QByteArray> &sequence) {
        LZXstate *state = LZXinit(windowBits);
        QByteArray output(blockLength, '\0');
        bool decoded = true;
        for (qsizetype index = 0; index < sequence.size(); ++index) {
            const QByteArray &frame = sequence[index];
            if (index % resetFrames == 0)
                LZXreset(state);
            QByteArray input(bufferSize, '\0');
            std::copy(frame.begin(), frame.end(), input.begin());
            decoded = decoded
                && LZXdecompress(state, reinterpret_cast<unsigned char *>(input.data()),
                       reinterpret_cast<unsigned char *>(output.data()), int(frame.size()), blockLength)
                    == DECR_OK;
        }
        LZXteardown(state);
        return decoded;
    };

    QVERIFY(mirrorAccepts(valid));
    QVERIFY(chmlibDecodes(valid));

    QRandomGenerator random(41);
    int accepted = 0;
    int rejected = 0;
    for (int trial = 0; trial < 400; ++trial) {
        QList<QByteArray> damaged = valid;
        QByteArray &frame = damaged[int(random.bounded(frames))];
        // Mostly near the start of a frame, where the trees and block headers are.
        const qsizetype at = random.bounded(4) ? qsizetype(random.bounded(quint32(qMin<qsizetype>(frame.size(), 200))))
                                               : qsizetype(random.bounded(quint32(frame.size())));
        frame[at] = char(frame[at] ^ (1 << random.bounded(8)));
        if (!mirrorAccepts(damaged)) {
            ++rejected;
            continue;
        }
        ++accepted;
        QVERIFY2(chmlibDecodes(damaged), qPrintable(QStringLiteral("trial %1").arg(trial)));
    }
    // Both outcomes must occur, or the comparison says nothing.
    QVERIFY(accepted > 20);
    QVERIFY(rejected > 20);
}

void tst_HelpViewer::lzxMirrorRejectsWildRepeatedOffset()
{
    const int frameLength = 32768;
    const qsizetype bufferSize = frameLength + 6144;

    // With R0 = 1 the frame is sound: chmlib decodes it to 1..16, a match repeating 16, then zeros.
    const QByteArray sound = repeatedOffsetFrame(1);
    ChmLzxMirror mirror(16);
    mirror.reset();
    QVERIFY(mirror.decompress(sound, bufferSize, frameLength));
    LZXstate *state = LZXinit(16);
    LZXreset(state);
    QByteArray input(bufferSize, '\0');
    std::copy(sound.begin(), sound.end(), input.begin());
    QByteArray output(frameLength, '\x55');
    QCOMPARE(LZXdecompress(state, reinterpret_cast<unsigned char *>(input.data()),
                 reinterpret_cast<unsigned char *>(output.data()), int(sound.size()), frameLength),
        DECR_OK);
    LZXteardown(state);
    QCOMPARE(output.left(19), QByteArray("\1\2\3\4\5\6\7\10\11\12\13\14\15\16\17\20\20\20\0", 19));

    // The same frame with R0 a gigabyte back: chmlib would copy from far before its window.
    ChmLzxMirror wild(16);
    wild.reset();
    QVERIFY(!wild.decompress(repeatedOffsetFrame(0x40000000), bufferSize, frameLength));
}

void tst_HelpViewer::realHelpFileOpensAtItsFirstPage()
{
    const QString runtime = qEnvironmentVariable("OMBRIX_RUNTIME_DIR");
    const QString name = QStringLiteral("Ombrix_Converter_Help.chm");
    if (runtime.isEmpty() || !QFileInfo::exists(runtime + '/' + name))
        QSKIP("the help file has not been built into the runtime folder");

    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(runtime));
    owner = std::make_unique<QWidget>();
    owner->show();
    const quintptr id = openHelpViewer(owner.get(), name);
    QVERIFY(QDir::setCurrent(previous));
    QVERIFY(id != 0);
    QWidget *viewer = viewerOf(owner.get());
    QVERIFY(viewer);
    QCOMPARE(viewer->windowTitle(), QStringLiteral("Ombrix Converter Help"));
    auto *browser = viewer->findChild<QTextBrowser *>(QStringLiteral("helpBrowser"));
    QCOMPARE(browser->source().path(), QStringLiteral("/index.htm"));
    QVERIFY(browser->toPlainText().contains(QStringLiteral("Ombrix Converter Help")));

    // Every page, picture and style sheet a page refers to is in the file.
    const auto archive = ChmArchive::open(runtime + '/' + name);
    QVERIFY(archive);
    const QRegularExpression reference(QStringLiteral("(?:href|src)=\"([^\"#]+)[^\"]*\""));
    QStringList pages { QStringLiteral("/index.htm") };
    for (int i = 0; i < pages.size(); ++i) {
        const QString html = QString::fromUtf8(archive->read(pages[i]));
        QVERIFY2(!html.isEmpty(), qPrintable(pages[i]));
        for (const QRegularExpressionMatch &match : reference.globalMatch(html)) {
            if (match.captured(1).contains(QLatin1Char(':')))
                continue; // a web address, outside the file
            const QString target = QUrl(QStringLiteral("chm:") + pages[i]).resolved(QUrl(match.captured(1))).path();
            QVERIFY2(archive->contains(target), qPrintable(pages[i] + " -> " + target));
            if (target.endsWith(QLatin1String(".htm")) && !pages.contains(target))
                pages.append(target);
        }
    }
    QVERIFY(pages.size() >= 7);
}

QTEST_MAIN(tst_HelpViewer)
#include "tst_helpviewer.moc"
