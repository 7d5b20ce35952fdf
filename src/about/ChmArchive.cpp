#include "ChmArchive.h"

#include "ChmValidator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <chm_lib.h>

#include <cstring>

namespace {

quint32 littleEndian(QByteArrayView data, qsizetype offset, int bytes)
{
    quint32 value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | uchar(data[offset + i]);
    return value;
}

// The NUL-terminated string at offset, or an empty one when offset or its end lies outside.
QByteArray stringAt(QByteArrayView data, quint64 offset)
{
    if (offset >= quint64(data.size()))
        return {};
    const char *start = data.data() + offset;
    const void *end = std::memchr(start, '\0', size_t(data.size() - qsizetype(offset)));
    return end ? QByteArray(start, static_cast<const char *>(end) - start) : QByteArray();
}

// Archive names are bytes: UTF-8 from current compilers, a single-byte code page from older ones.
QString decodeName(const QByteArray &name)
{
    const QString text = QString::fromUtf8(name);
    return text.toUtf8() == name ? text : QString::fromLatin1(name);
}

QList<QByteArray> encodedNames(const QString &path)
{
    QList<QByteArray> names { path.toUtf8() };
    const QByteArray latin1 = path.toLatin1();
    if (latin1 != names.first() && QString::fromLatin1(latin1) == path)
        names.append(latin1);
    return names;
}

bool isHtmlPage(const char *path)
{
    const QByteArray name = QByteArray(path).toLower();
    return name.endsWith(".htm") || name.endsWith(".html");
}

} // namespace

QByteArray Chm::systemRecord(QByteArrayView system, quint16 code)
{
    // A version word, then records of code, length and data.
    qsizetype offset = 4;
    while (offset <= system.size() - 4) {
        const quint32 recordCode = littleEndian(system, offset, 2);
        const qsizetype length = littleEndian(system, offset + 2, 2);
        offset += 4;
        if (length > system.size() - offset)
            return {};
        if (recordCode == code) {
            const QByteArrayView value = system.sliced(offset, length);
            const void *end = std::memchr(value.data(), '\0', size_t(length));
            return value.first(end ? static_cast<const char *>(end) - value.data() : length).toByteArray();
        }
        offset += length;
    }
    return {};
}

QList<QByteArray> Chm::windowStartPages(QByteArrayView windows, QByteArrayView strings, QByteArrayView windowName)
{
    // Fields of one window entry: the Unicode flag, the name, the default page and the home page.
    constexpr qsizetype UnicodeField = 0x04, NameField = 0x08, DefaultField = 0x68, HomeField = 0x6c;
    if (windows.size() < 8)
        return {};
    const quint64 count = littleEndian(windows, 0, 4);
    const quint64 entrySize = littleEndian(windows, 4, 4);
    if (entrySize < HomeField + 4)
        return {};
    const quint64 entries = qMin(count, quint64(windows.size() - 8) / entrySize);

    QList<QByteArray> named;
    QList<QByteArray> others;
    for (quint64 i = 0; i < entries; ++i) {
        const qsizetype entry = qsizetype(8 + i * entrySize);
        if (littleEndian(windows, entry + UnicodeField, 4) != 0)
            continue;
        const QByteArray name = stringAt(strings, littleEndian(windows, entry + NameField, 4));
        const bool isNamed
            = !windowName.isEmpty() && QByteArrayView(name).compare(windowName, Qt::CaseInsensitive) == 0;
        for (qsizetype field : { DefaultField, HomeField }) {
            const QByteArray page = stringAt(strings, littleEndian(windows, entry + field, 4));
            if (!page.isEmpty())
                (isNamed ? named : others).append(page);
        }
    }
    return named + others;
}

std::unique_ptr<ChmArchive> ChmArchive::open(const QString &fileName, QString *problem)
{
    QString ignored;
    QString &reason = problem ? *problem : ignored;

    // Only a regular file: opening a FIFO or a device could block or never end.
    const QFileInfo info(fileName);
    if (!info.isFile()) {
        reason = QStringLiteral("%1 is not a file").arg(QDir::toNativeSeparators(fileName));
        return nullptr;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        reason = file.errorString();
        return nullptr;
    }
    if (file.size() > MaxFileSize) {
        reason = QStringLiteral("the file is too large");
        return nullptr;
    }
    // Whatever is read is what gets checked, should the file change meanwhile.
    const QByteArray bytes = file.read(file.size());
    reason = chmArchiveProblem(bytes);
    if (!reason.isEmpty())
        return nullptr;

    // chmlib reads by name; give it the bytes that were checked, not the file that may change.
    QTemporaryFile copy(QDir::tempPath() + QStringLiteral("/ombrix-help-XXXXXX.chm"));
    if (!copy.open() || copy.write(bytes) != bytes.size() || !copy.flush()) {
        reason = copy.errorString();
        return nullptr;
    }
    // The copy is removed when it goes out of scope; chmlib keeps its own descriptor open.
    chmFile *handle = chm_open(QFile::encodeName(copy.fileName()).constData());
    if (!handle) {
        reason = QStringLiteral("chmlib cannot open the file");
        return nullptr;
    }
    std::unique_ptr<ChmArchive> archive(new ChmArchive(handle));
    archive->caption = decodeName(Chm::systemRecord(archive->read(QStringLiteral("/#SYSTEM")), 3));
    archive->topic = archive->findDefaultTopic();
    return archive;
}

ChmArchive::ChmArchive(chmFile *handle)
    : handle(handle)
{
}

ChmArchive::~ChmArchive()
{
    chm_close(handle);
}

QByteArray ChmArchive::read(const QString &path) const
{
    chmUnitInfo unit;
    bool found = false;
    for (const QByteArray &name : encodedNames(path)) {
        if (name.size() <= CHM_MAX_PATHLEN
            && chm_resolve_object(handle, name.constData(), &unit) == CHM_RESOLVE_SUCCESS) {
            found = true;
            break;
        }
    }
    if (!found || unit.length > quint64(MaxObjectSize))
        return {};
    if (unit.length == 0)
        return QByteArray("");
    QByteArray data(qsizetype(unit.length), Qt::Uninitialized);
    const LONGINT64 length = LONGINT64(unit.length);
    if (chm_retrieve_object(handle, &unit, reinterpret_cast<unsigned char *>(data.data()), 0, length) != length)
        return {};
    return data;
}

bool ChmArchive::contains(const QString &path) const
{
    chmUnitInfo unit;
    for (const QByteArray &name : encodedNames(path)) {
        if (name.size() <= CHM_MAX_PATHLEN
            && chm_resolve_object(handle, name.constData(), &unit) == CHM_RESOLVE_SUCCESS)
            return true;
    }
    return false;
}

// A page reference as help files write them ("index.htm", "/sub/page.htm#part",
// "file.chm::/page.htm") made into an archive path, when the archive holds that page.
QString ChmArchive::existingPage(const QByteArray &reference) const
{
    QByteArray path = reference.trimmed();
    if (const qsizetype separator = path.indexOf("::"); separator >= 0)
        path = path.mid(separator + 2);
    if (const qsizetype cut = path.indexOf('#'); cut >= 0)
        path.truncate(cut);
    path.replace('\\', '/');
    if (path.isEmpty() || path.endsWith('/'))
        return {};
    if (!path.startsWith('/'))
        path.prepend('/');
    const QString page = decodeName(path);
    return contains(page) ? page : QString();
}

QString ChmArchive::findDefaultTopic() const
{
    const QByteArray system = read(QStringLiteral("/#SYSTEM"));
    const QList<QByteArray> windowPages = Chm::windowStartPages(
        read(QStringLiteral("/#WINDOWS")), read(QStringLiteral("/#STRINGS")), Chm::systemRecord(system, 5));
    for (const QByteArray &reference : windowPages) {
        if (const QString page = existingPage(reference); !page.isEmpty())
            return page;
    }
    if (const QString page = existingPage(Chm::systemRecord(system, 2)); !page.isEmpty())
        return page;

    QByteArray firstPage;
    chm_enumerate(
        handle, CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES,
        [](chmFile *, chmUnitInfo *unit, void *context) {
            if (!isHtmlPage(unit->path))
                return CHM_ENUMERATOR_CONTINUE;
            *static_cast<QByteArray *>(context) = unit->path;
            return CHM_ENUMERATOR_SUCCESS;
        },
        &firstPage);
    return decodeName(firstPage);
}
