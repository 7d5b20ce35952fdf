#include "about/ChmArchive.h"
#include "about/ChmLzx.h"
#include "about/ChmValidator.h"
#include "about/HelpViewer.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QUrl>
#include <QtEndian>

#include <chm_lib.h>
#include <lzx.h>

#include <array>

namespace {

const QRgb HeadingColour = qRgb(0x00, 0xa0, 0x00);
const QRgb MarkColour = qRgb(255, 0, 255);

// Packs '0' and '1' characters as LZX reads them: most significant first into 16-bit
// little-endian words.
QByteArray packBits(QString bits)
{
    bits = bits.leftJustified((bits.size() + 15) / 16 * 16, '0');
    QByteArray packed;
    for (qsizetype at = 0; at < bits.size(); at += 16) {
        const quint16 word = bits.mid(at, 16).toUShort(nullptr, 2);
        packed += char(word & 0xff);
        packed += char(word >> 8);
    }
    return packed;
}

// One 32 KiB frame for a 64 KiB window: an uncompressed block of 16 bytes whose header sets the
// repeated offset R0, then a verbatim block whose first symbol is a match at R0 and whose other
// 32750 symbols are zero literals.
QByteArray repeatedOffsetFrame(quint32 r0)
{
    const auto bits = [](quint32 value, int count) { return QString::number(value, 2).rightJustified(count, '0'); };
    // Pretree lengths that give the two symbols named one bit each.
    const auto pretree = [&bits](int first, int second) {
        QString lengths;
        for (int symbol = 0; symbol < 20; ++symbol)
            lengths += bits(symbol == first || symbol == second ? 1 : 0, 4);
        return lengths;
    };
    QByteArray header(12, '\0'); // R0, R1, R2
    qToLittleEndian<quint32>(r0, header.data());
    header[4] = header[8] = 1;
    // No E8 translation; the uncompressed block's type and length.
    QByteArray frame = packBits(bits(3, 4) + bits(16, 24)) + header + "\1\2\3\4\5\6\7\10\11\12\13\14\15\16\17\20";
    // Main tree: symbols 0 and 256 (match, length 2, offset R0) one bit each, in two halves:
    // pretree 16 then 0 gives length 1, pretree 18 then 31 skips 51 symbols. Length tree: empty.
    const QString mainHalf = pretree(16, 18) + '0' + QString("111111").repeated(5);
    return frame
        + packBits(bits(1, 3) + bits(32752, 24) + mainHalf + mainHalf + pretree(17, 18) + QString("111111").repeated(4)
            + "111001" + '1' + QString(32750, '0'));
}

// Runs frames through the replay, or through chmlib's decoder (only ever on frames the replay
// accepted: anything else may crash it), restarting every resetFrames frames as chmlib does.
bool decodes(const QList<QByteArray> &frames, int windowBits, int frameLength, int resetFrames, bool chmlib,
    QByteArray *output = nullptr)
{
    const qsizetype bufferSize = frameLength + 6144; // chmlib's frame buffer
    ChmLzxMirror replay(windowBits);
    LZXstate *state = LZXinit(windowBits);
    QByteArray decoded(frameLength, '\0');
    bool ok = true;
    for (qsizetype i = 0; ok && i < frames.size(); ++i) {
        if (i % resetFrames == 0) {
            replay.reset();
            LZXreset(state);
        }
        QByteArray input = frames[i] + QByteArray(bufferSize - frames[i].size(), '\0');
        if (chmlib)
            ok = LZXdecompress(state, reinterpret_cast<uchar *>(input.data()),
                     reinterpret_cast<uchar *>(decoded.data()), int(frames[i].size()), frameLength)
                == DECR_OK;
        else
            ok = replay.decompress(frames[i], bufferSize, frameLength);
    }
    LZXteardown(state);
    if (output)
        *output = decoded;
    return ok;
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

bool showsColour(QWidget *widget, QRgb colour)
{
    const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) == colour)
                return true;
        }
    }
    return false;
}

// An object of the uncompressed section and where it starts in the file, read through chmlib.
QByteArray rawObject(const QString &file, const char *path, qsizetype *at = nullptr)
{
    QByteArray data;
    chmFile *handle = chm_open(QFile::encodeName(file).constData());
    chmUnitInfo unit;
    if (handle && chm_resolve_object(handle, path, &unit) == CHM_RESOLVE_SUCCESS && unit.space == CHM_UNCOMPRESSED) {
        data.resize(qsizetype(unit.length));
        chm_retrieve_object(handle, &unit, reinterpret_cast<uchar *>(data.data()), 0, LONGINT64(unit.length));
        // The section starts where the file header's content offset says.
        QFile raw(file);
        if (at && raw.open(QIODevice::ReadOnly))
            *at = qsizetype(unit.start + qFromLittleEndian<quint64>(raw.read(0x60).constData() + 0x58));
    }
    if (handle)
        chm_close(handle);
    return data;
}

const char ControlData[] = "::DataSpace/Storage/MSCompressed/ControlData";
const char ResetTable[]
    = "::DataSpace/Storage/MSCompressed/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/ResetTable";

} // namespace

class tst_HelpViewer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void archiveOpensAtDefaultTopic();
    void viewerShowsLinksPicturesAndStyleSheets();
    void missingFileShowsNothing();
    void hostileFiles_data();
    void hostileFiles();
    void recordsStayInBounds();
    void lzxReplayAgreesWithChmlib();
    void lzxReplayRejectsWildRepeatedOffset();

private:
    QString compile(const QString &name, const QString &options, const QStringList &files);

    QTemporaryDir work;
    QString withWindows;
    QString withSystemTopic;
    QString withoutTopic;
    QByteArray longPage;
};

void tst_HelpViewer::initTestCase()
{
    QVERIFY(work.isValid());
    if (QStandardPaths::findExecutable(QStringLiteral("chmcmd")).isEmpty())
        QSKIP("chmcmd (fp-utils) is not installed");

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
    longPage = page(QString(), paragraphs);

    const QString source = work.filePath(QStringLiteral("src"));
    QImage mark(24, 24, QImage::Format_RGB32);
    mark.fill(MarkColour);
    QVERIFY(QDir(source).mkpath("images") && mark.save(source + "/images/mark.png"));
    QVERIFY(writeFile(source + "/index.htm",
        page("style/help.css",
            "<h1>Welcome page</h1><p><a href=\"sub/second.htm\">Second page</a></p><p><img "
            "src=\"images/mark.png\"></p>")));
    QVERIFY(writeFile(source + "/sub/second.htm",
        page("../style/help.css", "<h1>Second page heading</h1><p><img src=\"../images/mark.png\"></p>")));
    QVERIFY(writeFile(source + "/other.htm", page(QString(), "<h1>Other page</h1>")));
    QVERIFY(writeFile(source + "/b_page.htm", page(QString(), "<h1>Page B</h1>")));
    QVERIFY(writeFile(source + "/a_page.htm", page(QString(), "<h1>Page A</h1>")));
    QVERIFY(writeFile(source + "/long.htm", longPage));
    QVERIFY(writeFile(source + "/style/help.css", "h1 { color: #00a000; }\n"));

    const QStringList all { "index.htm", "sub/second.htm", "other.htm", "long.htm", "style/help.css",
        "images/mark.png" };
    withWindows = compile("windows",
        "Default topic=other.htm\nDefault Window=main\n\n[WINDOWS]\n"
        "main=\"Test\",,,\"index.htm\",\"index.htm\",,,,,0x2520,,0x3006,,,,,,,,0\n",
        all);
    withSystemTopic = compile("system", "Default topic=other.htm\n", all);
    withoutTopic = compile("plain", QString(), { "b_page.htm", "a_page.htm" });
    QVERIFY(!withWindows.isEmpty() && !withSystemTopic.isEmpty() && !withoutTopic.isEmpty());
}

QString tst_HelpViewer::compile(const QString &name, const QString &options, const QStringList &files)
{
    const QString source = work.filePath(QStringLiteral("src"));
    const QString project
        = QStringLiteral("[OPTIONS]\nCompatibility=1.1 or later\nCompiled file=%1.chm\n"
                         "Language=0x409 English (United States)\nTitle=Test help %1\n%2\n[FILES]\n%3\n")
              .arg(name, options, files.join('\n'));
    if (!writeFile(source + '/' + name + ".hhp", project.toUtf8()))
        return {};
    QProcess chmcmd;
    chmcmd.setWorkingDirectory(source);
    chmcmd.start(QStandardPaths::findExecutable("chmcmd"), { "--no-html-scan", name + ".hhp" });
    if (!chmcmd.waitForFinished(60000) || chmcmd.exitCode() != 0)
        return {};
    const QString output = work.filePath(name + ".chm");
    return QFile::rename(source + '/' + name + ".chm", output) ? output : QString();
}

void tst_HelpViewer::archiveOpensAtDefaultTopic()
{
    // The window's start page wins over the #SYSTEM default topic, which wins over the first page.
    const auto archive = ChmArchive::open(withWindows);
    QVERIFY(archive);
    QCOMPARE(Chm::systemRecord(archive->read("/#SYSTEM"), 2), QByteArray("other.htm")); // present, yet skipped
    QCOMPARE(archive->defaultTopic(), QStringLiteral("/index.htm"));
    QCOMPARE(ChmArchive::open(withSystemTopic)->defaultTopic(), QStringLiteral("/other.htm"));
    QCOMPARE(ChmArchive::open(withoutTopic)->defaultTopic(), QStringLiteral("/a_page.htm"));

    // Every frame of a page that spans several reset intervals reads back.
    QCOMPARE(archive->read("/long.htm"), longPage);
    QVERIFY(archive->read("/nothing.htm").isNull());
}

void tst_HelpViewer::viewerShowsLinksPicturesAndStyleSheets()
{
    QWidget owner;
    owner.show();
    const quintptr id = openHelpViewer(&owner, withWindows);
    QWidget *viewer = viewerOf(&owner);
    QVERIFY(id != 0 && viewer);
    QCOMPARE(viewer->winId(), WId(id));
    // A window of its own beside its owner, which stays usable.
    QVERIFY(viewer->isWindow() && viewer->isVisible() && !viewer->isModal());
    QVERIFY(owner.isEnabled() && !QApplication::activeModalWidget());

    auto *browser = viewer->findChild<QTextBrowser *>(QStringLiteral("helpBrowser"));
    QVERIFY(QTest::qWaitForWindowExposed(viewer));
    QCOMPARE(browser->source().path(), QStringLiteral("/index.htm"));
    QTRY_VERIFY(showsColour(browser->viewport(), HeadingColour) && showsColour(browser->viewport(), MarkColour));

    // Tab selects the page's only link; Return follows it. References from a page in a subfolder
    // resolve against that folder.
    QTest::keyClick(browser, Qt::Key_Tab);
    QTest::keyClick(browser, Qt::Key_Return);
    QTRY_COMPARE(browser->source().path(), QStringLiteral("/sub/second.htm"));
    QTRY_VERIFY(showsColour(browser->viewport(), HeadingColour) && showsColour(browser->viewport(), MarkColour));

    // A page without the style sheet keeps the default colour: the colour came from the file.
    browser->setSource(QUrl(QStringLiteral("chm:/other.htm")));
    QVERIFY(browser->toPlainText().contains("Other page"));
    QVERIFY(!showsColour(browser->viewport(), HeadingColour));

    // Asking again brings the same viewer forward.
    viewer->showMinimized();
    QCOMPARE(openHelpViewer(&owner, withWindows), id);
    QCOMPARE(owner.findChildren<QWidget *>(QStringLiteral("helpViewer")).size(), 1);
    QVERIFY(!(viewer->windowState() & Qt::WindowMinimized));
}

void tst_HelpViewer::missingFileShowsNothing()
{
    QWidget owner;
    owner.show();
    const qsizetype windowsBefore = QApplication::topLevelWidgets().size();
    QCOMPARE(openHelpViewer(&owner, work.filePath("absent.chm")), quintptr(0));
    QCOMPARE(openHelpViewer(&owner, work.path()), quintptr(0)); // a folder
    // No viewer, message box or any other window.
    QCOMPARE(QApplication::topLevelWidgets().size(), windowsBefore);
    QVERIFY(!viewerOf(&owner));
}

void tst_HelpViewer::hostileFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("refused");

    QFile file(withWindows);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray valid = file.readAll();
    // Where the structures to spoil lie: the first directory chunk, the control data, the reset table.
    const qsizetype chunk = qsizetype(qFromLittleEndian<quint64>(valid.constData() + 0x48) + 0x54);
    QCOMPARE(valid.mid(chunk, 4), QByteArray("PMGL"));
    qsizetype control = 0;
    qsizetype reset = 0;
    QCOMPARE(rawObject(withWindows, ControlData, &control).mid(4, 4), QByteArray("LZXC"));
    const QByteArray table = rawObject(withWindows, ResetTable, &reset);
    QVERIFY(table.size() >= 0x28);
    const auto setWord = [&valid](qsizetype at, quint32 value) {
        QByteArray copy = valid;
        qToLittleEndian<quint32>(value, copy.data() + at);
        return copy;
    };
    QByteArray noName = valid;
    noName[chunk + 0x14] = 0;
    QByteArray randomBytes(8192, '\0');
    QRandomGenerator random(3);
    random.fillRange(reinterpret_cast<quint32 *>(randomBytes.data()), randomBytes.size() / 4);

    QTest::newRow("zero length") << QByteArray() << true;
    QTest::newRow("header cut short") << valid.left(0x5f) << true;
    QTest::newRow("directory cut short") << valid.left(chunk + 100) << true;
    QTest::newRow("random bytes") << randomBytes << true;
    // Each of these crashes, hangs or over-reads inside chmlib itself when it is not caught first.
    QTest::newRow("listing chain loops") << setWord(chunk + 0x10, 0) << true; // next chunk: itself
    QTest::newRow("free space larger than the chunk") << setWord(chunk + 4, 0xfffffff0) << true;
    QTest::newRow("empty entry name") << noName << true;
    QTest::newRow("zero windows per reset") << setWord(control + 0x14, 0) << true;
    QTest::newRow("window size LZX cannot do") << setWord(control + 0x10, 3) << true;
    // A frame ends where the next one starts: move the start of the third far away.
    const qsizetype thirdFrame = reset + qFromLittleEndian<quint32>(table.constData() + 12) + 16;
    QTest::newRow("frame longer than its buffer") << setWord(thirdFrame, 0x7fffffff) << true;
    QTest::newRow("reset table without blocks") << setWord(reset + 4, 0) << true;

    // Damage anywhere: the file may open or not, but nothing reads out of bounds.
    for (qsizetype length = 0x40; length < valid.size(); length += valid.size() / 40)
        QTest::addRow("cut at %lld", qlonglong(length)) << valid.left(length) << false;
    QRandomGenerator flips(29);
    for (int i = 0; i < 150; ++i) {
        QByteArray damaged = valid;
        for (int flip = 1 + int(flips.bounded(4)); flip > 0; --flip) {
            const qsizetype at = qsizetype(flips.bounded(quint32(valid.size())));
            damaged[at] = char(damaged[at] ^ (1 << flips.bounded(8)));
        }
        QTest::addRow("bit flips %d", i) << damaged << false;
    }
}

void tst_HelpViewer::hostileFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, refused);
    const QString file = work.filePath(QStringLiteral("hostile.chm"));
    QVERIFY(writeFile(file, content));

    QVERIFY(!refused || !chmArchiveProblem(content).isEmpty());
    if (const auto archive = ChmArchive::open(file)) {
        QVERIFY(!refused);
        for (const char *path : { "/index.htm", "/sub/second.htm", "/long.htm", "/style/help.css", "/images/mark.png",
                 "/#SYSTEM", "/#WINDOWS", "/#STRINGS" })
            archive->read(QString::fromLatin1(path));
    }
    QWidget owner;
    const quintptr id = openHelpViewer(&owner, file);
    QCOMPARE(viewerOf(&owner) != nullptr, id != 0);
    QVERIFY(!refused || id == 0);
}

// #SYSTEM and #WINDOWS come out of the file too: their lengths, counts and offsets are not trusted.
void tst_HelpViewer::recordsStayInBounds()
{
    // #SYSTEM: a version, then records of code, length and data.
    const QByteArray title("\3\0\0\0\3\0\5\0Title", 13);
    const QByteArray page("\2\0\5\0a.htm", 9);
    const QByteArray tooLong("\xff\xff");
    QCOMPARE(Chm::systemRecord(title + page, 2), QByteArray("a.htm"));
    QVERIFY(Chm::systemRecord(QByteArray(title).replace(6, 2, tooLong) + page, 2).isEmpty());
    QVERIFY(Chm::systemRecord(title + QByteArray(page).replace(2, 2, tooLong), 2).isEmpty());

    // #WINDOWS: a count and an entry size, then entries whose name, default page and home page are
    // offsets into #STRINGS.
    const QByteArray strings("\0main\0second\0index.htm\0home.htm\0other.htm\0", 42);
    QByteArray windows(8 + 2 * 196, '\0');
    const auto set = [&windows](qsizetype at, quint32 value) { qToLittleEndian<quint32>(value, windows.data() + at); };
    const auto entry = [&set](int index, quint32 name, quint32 page, quint32 home) {
        set(8 + index * 196 + 0x08, name);
        set(8 + index * 196 + 0x68, page);
        set(8 + index * 196 + 0x6c, home);
    };
    set(0, 2);
    set(4, 196);
    entry(0, 6, 32, 0);
    entry(1, 1, 13, 23);
    // The named window first, whatever the case of its name.
    QCOMPARE(
        Chm::windowStartPages(windows, strings, "MAIN"), (QList<QByteArray> { "index.htm", "home.htm", "other.htm" }));
    set(0, 1000000); // a count beyond the data
    entry(1, 1, 13, 4000); // a home page past the strings
    QCOMPARE(Chm::windowStartPages(windows, strings, "MAIN"), (QList<QByteArray> { "index.htm", "other.htm" }));
    QVERIFY(Chm::windowStartPages(windows, strings.left(20), "MAIN").isEmpty()); // no NUL after index.htm
    set(4, 0x6c); // entries too small to hold a home page
    QVERIFY(Chm::windowStartPages(windows, strings, "MAIN").isEmpty());
}

// The replay stands between a damaged file and chmlib's decoder, so it must never accept frames
// on which chmlib fails: damage real frames, and give chmlib only what the replay accepted.
void tst_HelpViewer::lzxReplayAgreesWithChmlib()
{
    const QByteArray content = rawObject(withWindows, "::DataSpace/Storage/MSCompressed/Content");
    const QByteArray table = rawObject(withWindows, ResetTable);
    const QByteArray control = rawObject(withWindows, ControlData);
    QVERIFY(!content.isEmpty() && table.size() >= 0x28 && control.size() >= 0x18);
    const auto word
        = [](const QByteArray &bytes, qsizetype at) { return qFromLittleEndian<quint32>(bytes.data() + at); };
    const int frameLength = int(word(table, 32));
    const quint32 windowSize = word(control, 0x10) * 0x8000;
    const int windowBits = qCountTrailingZeroBits(windowSize);
    const int resetFrames = int(word(control, 0x0c) * 0x8000 / (windowSize / 2) * word(control, 0x14));
    QVERIFY(resetFrames > 0 && word(table, 4) > 4);
    QList<QByteArray> valid;
    for (qsizetype frame = 0, at = word(table, 12); frame < 4; ++frame, at += 8)
        valid += content.mid(word(table, at), word(table, at + 8) - word(table, at));
    QVERIFY(decodes(valid, windowBits, frameLength, resetFrames, false));
    QVERIFY(decodes(valid, windowBits, frameLength, resetFrames, true));

    QRandomGenerator random(41);
    int accepted = 0;
    for (int trial = 0; trial < 400; ++trial) {
        QList<QByteArray> damaged = valid;
        QByteArray &frame = damaged[int(random.bounded(4))];
        // Mostly near the start of a frame, where the trees and block headers are.
        const qsizetype at = random.bounded(4) ? qsizetype(random.bounded(quint32(qMin<qsizetype>(frame.size(), 200))))
                                               : qsizetype(random.bounded(quint32(frame.size())));
        frame[at] = char(frame[at] ^ (1 << random.bounded(8)));
        if (decodes(damaged, windowBits, frameLength, resetFrames, false)) {
            ++accepted;
            QVERIFY2(decodes(damaged, windowBits, frameLength, resetFrames, true), qPrintable(QString::number(trial)));
        }
    }
    // Both outcomes must occur, or the comparison says nothing.
    QVERIFY(accepted > 20 && accepted < 380);
}

void tst_HelpViewer::lzxReplayRejectsWildRepeatedOffset()
{
    // With R0 = 1 the frame is sound: chmlib decodes it to 1..16, a match repeating 16, then zeros.
    QByteArray output;
    QVERIFY(decodes({ repeatedOffsetFrame(1) }, 16, 32768, 1, false));
    QVERIFY(decodes({ repeatedOffsetFrame(1) }, 16, 32768, 1, true, &output));
    QCOMPARE(output.left(19), QByteArray("\1\2\3\4\5\6\7\10\11\12\13\14\15\16\17\20\20\20\0", 19));

    // The same frame with R0 a gigabyte back: chmlib would copy from far before its window.
    QVERIFY(!decodes({ repeatedOffsetFrame(0x40000000) }, 16, 32768, 1, false));
}

QTEST_MAIN(tst_HelpViewer)
#include "tst_helpviewer.moc"
