#include "HelpReader.h"

#include "help/HelpLogging.h"
#include "help/HelpProtocol.h"

#include <QCoreApplication>
#include <QTextDocumentFragment>
#include <QtEndian>

#include <csignal>

using namespace HelpProtocol;

namespace {

// Names are bytes: UTF-8 from current help compilers, a single-byte code page from older ones.
QString decodeName(const QByteArray &name)
{
    const QString text = QString::fromUtf8(name);
    return text.toUtf8() == name ? text : QString::fromLatin1(name);
}

// An object name is a path inside the file ("/sub/page.htm"); anything that could name a place
// outside it, or that no link can write, is not served.
bool isSafeName(const QByteArray &name)
{
    if (!name.startsWith('/') || name.startsWith("//") || name.contains('\\'))
        return false;
    for (const char c : name) {
        if (uchar(c) < 0x20 || uchar(c) == 0x7f)
            return false;
    }
    return !name.split('/').contains("..");
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// The position of the first byte at or after at that is not a space.
qsizetype skipSpaces(const QByteArray &tag, qsizetype at)
{
    while (at < tag.size() && isSpace(tag[at]))
        ++at;
    return at;
}

// The position of the first space at or after at: the end of a word such as the tag's name.
qsizetype wordEnd(const QByteArray &tag, qsizetype at)
{
    while (at < tag.size() && !isSpace(tag[at]))
        ++at;
    return at;
}

// The attribute value starting at at, quoted or not, with at moved past it.
QByteArray takeValue(const QByteArray &tag, qsizetype &at)
{
    const qsizetype start = at;
    if (at >= tag.size() || (tag[at] != '"' && tag[at] != '\'')) {
        at = wordEnd(tag, at);
        return tag.mid(start, at - start);
    }
    // An unclosed quote runs to the end of the tag.
    qsizetype end = tag.indexOf(tag[at], start + 1);
    if (end < 0)
        end = tag.size();
    at = end + 1;
    return tag.mid(start + 1, end - start - 1);
}

// A value as written, with character references resolved.
QString attributeValue(const QByteArray &written)
{
    QString value = decodeName(written);
    if (value.contains('&'))
        value = QTextDocumentFragment::fromHtml(value.replace('<', QLatin1String("&lt;"))).toPlainText();
    return value;
}

// The attributes of the tag text between '<' and '>', by lower-case name; values as written,
// with character references resolved.
QHash<QByteArray, QString> attributes(const QByteArray &tag)
{
    QHash<QByteArray, QString> found;
    qsizetype at = wordEnd(tag, 0);
    while (at < tag.size()) {
        const qsizetype nameStart = skipSpaces(tag, at);
        at = nameStart;
        while (at < tag.size() && !isSpace(tag[at]) && tag[at] != '=')
            ++at;
        const QByteArray name = tag.mid(nameStart, at - nameStart).toLower();
        at = skipSpaces(tag, at);
        if (at >= tag.size() || tag[at] != '=') {
            if (at == nameStart)
                ++at; // a stray character
            continue;
        }
        at = skipSpaces(tag, at + 1);
        found.insert(name, attributeValue(takeValue(tag, at)));
    }
    return found;
}

} // namespace

HelpReader::HelpReader(const QString &program, QObject *parent)
    : QObject(parent)
    , program(program.isEmpty() ? defaultProgram() : program)
{
    timer.setSingleShot(true);
    timer.callOnTimeout(this, [this] { fail(QStringLiteral("its reader ran out of time")); });
}

HelpReader::~HelpReader()
{
    if (process)
        process->disconnect(this);
}

QString HelpReader::defaultProgram()
{
    return QCoreApplication::applicationDirPath() + '/' + QLatin1String(ProgramName);
}

void HelpReader::read(const QString &path)
{
    if (process) {
        process->disconnect(this);
        process->kill();
        process->deleteLater();
    }
    output.clear();
    process = new QProcess(this);
    process->setProgram(program);
    process->setArguments({ path });
    process->setStandardInputFile(QProcess::nullDevice());
#ifdef OMBRIX_SANITIZE
    // A sanitizer's report on the reader is wanted where the tests run.
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
#else
    process->setStandardErrorFile(QProcess::nullDevice());
#endif
    connect(process, &QProcess::readyReadStandardOutput, this, [this] {
        output += process->readAllStandardOutput();
        if (output.size() > MaxOutput)
            fail(QStringLiteral("its reader hit its output limit"));
    });
    connect(process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            fail(QStringLiteral("the help reader %1 cannot be started (%2)")
                     .arg(process->program(), process->errorString()));
    });
    connect(process, &QProcess::finished, this, &HelpReader::processFinished);
    timer.start(TimeoutMs);
    qCDebug(lcHelp, "Reading %s with %s", qUtf8Printable(path), qUtf8Printable(program));
    process->start();
}

void HelpReader::fail(const QString &problem)
{
    timer.stop();
    if (process) {
        process->disconnect(this);
        process->kill();
        process->deleteLater();
        process = nullptr;
    }
    output.clear();
    Q_EMIT finished({}, problem);
}

void HelpReader::processFinished(int exitCode, QProcess::ExitStatus status)
{
    output += process->readAllStandardOutput();
    if (status == QProcess::CrashExit) {
        // The reader's own CPU limit ends it with SIGXCPU, then SIGKILL.
        if (exitCode == SIGXCPU || exitCode == SIGKILL)
            return fail(QStringLiteral("its reader hit its CPU limit"));
        return fail(QStringLiteral("its reader crashed (signal %1)").arg(exitCode));
    }
    switch (exitCode) {
    case Read:
        break;
    case Unreadable:
        return fail(QStringLiteral("the file cannot be read"));
    case NotHelp:
        return fail(QStringLiteral("it is not a compiled help file"));
    case TooLarge:
        return fail(QStringLiteral("the file is too large"));
    case Damaged:
        return fail(QStringLiteral("the file is damaged"));
    case NoLimit:
        return fail(QStringLiteral("its reader cannot set its limits"));
    case WriteFailed:
        return fail(QStringLiteral("its reader cannot write its output"));
    case OutputCap:
        return fail(QStringLiteral("its reader hit its output limit"));
    case Usage:
        return fail(QStringLiteral("its reader was not given the file"));
    default:
        return fail(QStringLiteral("its reader failed (exit code %1)").arg(exitCode));
    }
    QString problem;
    const HelpContent content = parse(output, &problem);
    if (!problem.isEmpty())
        return fail(problem);
    timer.stop();
    process->deleteLater();
    process = nullptr;
    output.clear();
    Q_EMIT finished(content, {});
}

HelpContent HelpReader::parse(const QByteArray &stream, QString *problem)
{
    qsizetype at = 0;
    const auto take = [&stream, &at](QByteArray &field) {
        if (stream.size() - at < 4)
            return false;
        const quint32 length = qFromLittleEndian<quint32>(stream.constData() + at);
        at += 4;
        if (length > quint64(stream.size() - at))
            return false;
        field = stream.mid(at, length);
        at += length;
        return true;
    };
    HelpContent content;
    QByteArray name;
    QByteArray data;
    while (take(name) && take(data)) {
        if (name == EndRecord) {
            if (at != stream.size())
                break;
            if (!content.objects.contains(content.topic.toLower())) {
                *problem = QStringLiteral("the file has no page");
                return {};
            }
            return content;
        }
        if (name == TitleRecord)
            content.title = decodeName(data);
        else if (name == TopicRecord)
            content.topic = decodeName(data);
        else if (name == ContentsRecord)
            content.contents = decodeName(data).toLower();
        else if (isSafeName(name))
            content.objects.insert(decodeName(name).toLower(), data);
    }
    *problem = QStringLiteral("its reader's output is malformed");
    return {};
}

QList<ContentsEntry> HelpReader::parseContents(const QByteArray &sitemap)
{
    QList<ContentsEntry> entries;
    int depth = 0;
    bool inEntry = false;
    ContentsEntry entry;
    // Tag by tag: each byte is looked at a bounded number of times, whatever the markup.
    for (qsizetype at = sitemap.indexOf('<'); at >= 0; at = sitemap.indexOf('<', at)) {
        const qsizetype end = sitemap.indexOf('>', at);
        if (end < 0)
            break;
        const QByteArray tag = sitemap.mid(at + 1, end - at - 1).trimmed();
        at = end + 1;
        const QByteArray name = tag.left(wordEnd(tag, 0)).toLower();
        if (name == "ul") {
            ++depth;
        } else if (name == "/ul") {
            depth = qMax(0, depth - 1);
        } else if (name == "object") {
            inEntry = attributes(tag).value("type").compare(QLatin1String("text/sitemap"), Qt::CaseInsensitive) == 0;
            entry = { qMax(0, depth - 1), {}, {} };
        } else if (name == "param" && inEntry) {
            const QHash<QByteArray, QString> param = attributes(tag);
            const QString field = param.value("name").toLower();
            if (field == QLatin1String("name") && entry.name.isEmpty())
                entry.name = param.value("value");
            else if (field == QLatin1String("local") && entry.local.isEmpty())
                entry.local = param.value("value");
        } else if (name == "/object" && inEntry) {
            inEntry = false;
            if (!entry.name.isEmpty())
                entries.append(entry);
        }
    }
    return entries;
}
