// ombrix-help-reader FILE: reads a compiled help file through chmlib and writes its objects to
// standard output for the help viewer, in the stream and with the exit codes of HelpProtocol.h.
// chmlib trusts every offset and length in the file, so a damaged file may crash or hang it;
// this process is what crashes or hangs then, under limits it sets on itself, and the viewer
// tells the user.

#include "HelpProtocol.h"

#include <chm_lib.h>

#include <strings.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

constexpr std::uint64_t MaxFileSize = 64 << 20;
constexpr std::uint64_t MaxObjectSize = 16 << 20;
constexpr std::uint64_t MaxTotalSize = 64 << 20;
constexpr std::size_t MaxObjects = 20000;

using namespace HelpProtocol;

// Lowers a limit, never raises one set lower by whoever started the reader.
bool limit(int resource, rlim_t soft, rlim_t hard)
{
    rlimit value;
    if (getrlimit(resource, &value) != 0)
        return false;
    value.rlim_max = std::min(value.rlim_max, hard);
    value.rlim_cur = std::min(value.rlim_max, soft);
    return setrlimit(resource, &value) == 0;
}

std::uint32_t littleEndian(std::string_view data, std::size_t offset, int bytes)
{
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(data[offset + i]);
    return value;
}

// The NUL-terminated string at offset, or an empty one when it lies outside data.
std::string stringAt(std::string_view data, std::uint64_t offset)
{
    if (offset >= data.size())
        return {};
    const std::size_t end = data.find('\0', offset);
    return end == std::string_view::npos ? std::string() : std::string(data.substr(offset, end - offset));
}

// The data of the first #SYSTEM record with this code, up to its NUL.
std::string systemRecord(std::string_view system, unsigned code)
{
    for (std::size_t offset = 4; offset + 4 <= system.size();) {
        const std::uint32_t recordCode = littleEndian(system, offset, 2);
        const std::size_t length = littleEndian(system, offset + 2, 2);
        offset += 4;
        if (length > system.size() - offset)
            return {};
        if (recordCode == code)
            return std::string(system.substr(offset, length).substr(0, system.substr(offset, length).find('\0')));
        offset += length;
    }
    return {};
}

// The default and home pages of every #WINDOWS entry, the default window's first; their strings
// are offsets into #STRINGS.
std::vector<std::string> windowPages(std::string_view windows, std::string_view strings, std::string_view name)
{
    constexpr std::size_t UnicodeField = 0x04, NameField = 0x08, DefaultField = 0x68, HomeField = 0x6c;
    if (windows.size() < 8)
        return {};
    const std::uint64_t entrySize = littleEndian(windows, 4, 4);
    if (entrySize < HomeField + 4)
        return {};
    const std::uint64_t entries
        = std::min<std::uint64_t>(littleEndian(windows, 0, 4), (windows.size() - 8) / entrySize);
    std::vector<std::string> named, others;
    for (std::uint64_t i = 0; i < entries; ++i) {
        const std::size_t entry = 8 + i * entrySize;
        if (littleEndian(windows, entry + UnicodeField, 4) != 0)
            continue;
        const bool isNamed = !name.empty()
            && strcasecmp(
                   stringAt(strings, littleEndian(windows, entry + NameField, 4)).c_str(), std::string(name).c_str())
                == 0;
        for (std::size_t field : { DefaultField, HomeField }) {
            if (std::string page = stringAt(strings, littleEndian(windows, entry + field, 4)); !page.empty())
                (isNamed ? named : others).push_back(page);
        }
    }
    named.insert(named.end(), others.begin(), others.end());
    return named;
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

bool isPage(const std::string &path)
{
    const std::string name = lower(path);
    return name.ends_with(".htm") || name.ends_with(".html");
}

// A page reference as help files write them ("index.htm", "/sub/page.htm#part",
// "file.chm::/page.htm") as the object path it names.
std::string objectPath(std::string reference)
{
    if (const std::size_t separator = reference.find("::"); separator != std::string::npos)
        reference.erase(0, separator + 2);
    if (const std::size_t cut = reference.find('#'); cut != std::string::npos)
        reference.erase(cut);
    std::replace(reference.begin(), reference.end(), '\\', '/');
    if (!reference.starts_with('/'))
        reference.insert(0, 1, '/');
    return reference;
}

bool retrieve(chmFile *file, chmUnitInfo &unit, std::string &data)
{
    data.assign(unit.length, '\0');
    return unit.length == 0
        || chm_retrieve_object(file, &unit, reinterpret_cast<unsigned char *>(data.data()), 0, LONGINT64(unit.length))
        == LONGINT64(unit.length);
}

// Appends one record to the output; Read, or why it cannot.
Exit write(std::string_view name, std::string_view data)
{
    static long long written = 0;
    written += 8 + name.size() + data.size();
    if (written > MaxOutput)
        return OutputCap;
    unsigned char lengths[2][4];
    for (int i = 0; i < 4; ++i) {
        lengths[0][i] = static_cast<unsigned char>(name.size() >> (8 * i));
        lengths[1][i] = static_cast<unsigned char>(data.size() >> (8 * i));
    }
    const auto put = [](std::string_view bytes) {
        return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size();
    };
    return put({ reinterpret_cast<char *>(lengths[0]), 4 }) && put(name)
            && put({ reinterpret_cast<char *>(lengths[1]), 4 }) && put(data)
        ? Read
        : WriteFailed;
}

// A damaged file may make chmlib loop or allocate without end: stop it, and leave no core.
// Unbounded, it does not read at all.
bool limitSelf()
{
    bool limited = limit(RLIMIT_CPU, 2, 3) && limit(RLIMIT_CORE, 0, 0);
#ifndef __SANITIZE_ADDRESS__
    // AddressSanitizer reserves terabytes of address space for itself; it bounds allocations on its own.
    limited = limited && limit(RLIMIT_AS, rlim_t(512) << 20, rlim_t(512) << 20);
#endif
    return limited;
}

using HelpFile = std::unique_ptr<chmFile, void (*)(chmFile *)>;

// Opens the help file at fileName into file; Read, or why it cannot.
Exit openHelpFile(const char *fileName, HelpFile &file)
{
    // Only a regular file: a FIFO or a device could block or never end.
    struct stat info;
    if (stat(fileName, &info) != 0 || !S_ISREG(info.st_mode))
        return Unreadable;
    if (std::uint64_t(info.st_size) > MaxFileSize)
        return TooLarge;
    file.reset(chm_open(fileName));
    return file ? Read : NotHelp;
}

// Lists every object of file into units; Read, or why it cannot.
Exit listObjects(chmFile *file, std::vector<chmUnitInfo> &units)
{
    chm_enumerate(
        file, CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_SPECIAL | CHM_ENUMERATE_FILES,
        [](chmFile *, chmUnitInfo *unit, void *context) {
            auto *list = static_cast<std::vector<chmUnitInfo> *>(context);
            list->push_back(*unit);
            return list->size() < MaxObjects ? CHM_ENUMERATOR_CONTINUE : CHM_ENUMERATOR_FAILURE;
        },
        &units);
    // More objects than any help file holds: a directory whose chunks lead back to each other.
    return units.size() < MaxObjects ? Read : Damaged;
}

// What choosing the topic and the contents needs, gathered while the objects are written.
struct Catalog
{
    std::string system, windows, strings;
    std::string firstPage, firstContents;
    std::set<std::string> names; ///< the written objects' paths, in lower case
};

// Notes in catalog what it needs of one object; false for the objects the viewer is not given.
bool noteObject(Catalog &catalog, const std::string &path, const std::string &data)
{
    if (path == "/#SYSTEM")
        catalog.system = data;
    else if (path == "/#WINDOWS")
        catalog.windows = data;
    else if (path == "/#STRINGS")
        catalog.strings = data;
    // The other special objects (indexes, search data) are of no use to the viewer.
    if (path.starts_with("/#") || path.starts_with("/$"))
        return false;
    if (catalog.firstPage.empty() && isPage(path))
        catalog.firstPage = path;
    if (catalog.firstContents.empty() && lower(path).ends_with(".hhc"))
        catalog.firstContents = path;
    catalog.names.insert(lower(path));
    return true;
}

// Writes the objects the viewer is given, within the size limits; Read, or why it cannot.
Exit writeObjects(chmFile *file, std::vector<chmUnitInfo> &units, Catalog &catalog)
{
    std::uint64_t total = 0;
    std::string data;
    for (chmUnitInfo &unit : units) {
        const std::string path = unit.path;
        total += unit.length;
        if (unit.length > MaxObjectSize || total > MaxTotalSize)
            return TooLarge;
        if (!retrieve(file, unit, data))
            return Damaged;
        if (!noteObject(catalog, path, data))
            continue;
        if (const Exit written = write(path, data); written != Read)
            return written;
    }
    return Read;
}

// The start page of the default window, else the #SYSTEM default topic, else the first page.
std::string topicOf(const Catalog &catalog)
{
    std::vector<std::string> candidates
        = windowPages(catalog.windows, catalog.strings, systemRecord(catalog.system, 5));
    candidates.push_back(systemRecord(catalog.system, 2));
    for (const std::string &reference : candidates) {
        const std::string path = objectPath(reference);
        if (path.size() > 1 && !path.ends_with('/') && catalog.names.count(lower(path)))
            return path;
    }
    return catalog.firstPage;
}

// The contents file that #SYSTEM names, else the first one in the file.
std::string contentsOf(const Catalog &catalog)
{
    const std::string named = objectPath(systemRecord(catalog.system, 0));
    return catalog.names.count(lower(named)) ? named : catalog.firstContents;
}

// Writes the records after the objects and flushes the stream; Read, or why it cannot.
Exit finish(const Catalog &catalog)
{
    const std::string topic = topicOf(catalog);
    if (topic.empty())
        return Damaged;
    const std::pair<std::string_view, std::string> records[] = { { TitleRecord, systemRecord(catalog.system, 3) },
        { TopicRecord, topic }, { ContentsRecord, contentsOf(catalog) }, { EndRecord, {} } };
    for (const auto &[name, value] : records) {
        if (const Exit written = write(name, value); written != Read)
            return written;
    }
    return std::fflush(stdout) == 0 ? Read : WriteFailed;
}

} // namespace

#ifdef __SANITIZE_ADDRESS__
// A sanitizer's finding ends the reader as the crash it is, whatever the environment says.
extern "C" const char *__asan_default_options()
{
    return "abort_on_error=1";
}
#endif

int main(int argc, char **argv)
{
    if (!limitSelf())
        return NoLimit;
    if (argc != 2)
        return Usage;
    HelpFile file(nullptr, chm_close);
    if (const Exit opened = openHelpFile(argv[1], file); opened != Read)
        return opened;
    std::vector<chmUnitInfo> units;
    if (const Exit listed = listObjects(file.get(), units); listed != Read)
        return listed;
    Catalog catalog;
    if (const Exit written = writeObjects(file.get(), units, catalog); written != Read)
        return written;
    return finish(catalog);
}
