#include "ChmValidator.h"

#include "ChmLzx.h"

#include <QByteArray>
#include <QHash>
#include <QList>

#include <optional>
#include <vector>

namespace {

struct Invalid
{
    const char *reason;
};

// Layout and limits as chmlib has them.
constexpr quint64 ItsfLength = 0x60;
constexpr quint64 ItspLength = 0x54;
constexpr quint64 ListingHeaderLength = 0x14;
constexpr quint64 IndexHeaderLength = 0x08;
constexpr quint64 MaxPathLength = 512;
constexpr quint64 ResetTableLength = 0x28;
constexpr quint64 ControlDataMinLength = 0x18;
constexpr quint64 ControlDataMaxLength = 256;
constexpr quint64 FrameSlack = 6144;
// Our own limits: directory chunks are 4 KiB in practice, help files a few megabytes at most.
constexpr quint64 MaxChunkLength = 1 << 20;
constexpr quint64 MaxContentLength = quint64(64) << 20;
// Real help files hold a few thousand entries; these bound the memory a hostile directory costs.
constexpr qsizetype MaxChunks = 1 << 16;
constexpr qsizetype MaxEntries = 1 << 18;

constexpr char ResetTablePath[] = "::DataSpace/Storage/MSCompressed/Transform/"
                                  "{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/ResetTable";
constexpr char ContentPath[] = "::DataSpace/Storage/MSCompressed/Content";
constexpr char ControlDataPath[] = "::DataSpace/Storage/MSCompressed/ControlData";

struct Entry
{
    QByteArray path;
    quint64 space;
    quint64 start;
    quint64 length;
};

struct IndexEntry
{
    QByteArray name;
    qint32 chunk;
};

struct Chunk
{
    bool listing = false;
    qint32 next = -1;
    QList<Entry> entries;
    QList<IndexEntry> index;
};

// strcasecmp over ASCII, the way chmlib compares directory names.
int compareNames(const QByteArray &left, const QByteArray &right)
{
    const qsizetype common = qMin(left.size(), right.size());
    const auto lower = [](char c) { return int(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : uchar(c)); };
    for (qsizetype i = 0; i < common; ++i) {
        const int a = lower(left[i]);
        const int b = lower(right[i]);
        if (a != b)
            return a - b;
    }
    return int(left.size() > common) - int(right.size() > common);
}

class ArchiveCheck
{
public:
    explicit ArchiveCheck(QByteArrayView data)
        : data(data)
        , size(quint64(data.size()))
    {
    }

    void run()
    {
        readHeaders();
        walkDirectory();
        checkEntries();
        checkCompression();
    }

private:
    bool fits(quint64 offset, quint64 length) const { return offset <= size && length <= size - offset; }

    quint32 u32(quint64 offset) const
    {
        if (!fits(offset, 4))
            throw Invalid { "a header runs past the end of the file" };
        const auto *p = reinterpret_cast<const uchar *>(data.data()) + offset;
        return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
    }
    quint64 u64(quint64 offset) const { return u32(offset) | quint64(u32(offset + 4)) << 32; }
    bool hasSignature(quint64 offset, const char (&signature)[5]) const
    {
        return fits(offset, 4) && data.sliced(qsizetype(offset), 4) == QByteArrayView(signature, 4);
    }

    void readHeaders()
    {
        // chmlib always fetches a version 3 header's worth of bytes.
        if (size < ItsfLength || !hasSignature(0, "ITSF"))
            throw Invalid { "not a compiled help file" };
        const qint32 version = qint32(u32(4));
        const qint32 headerLength = qint32(u32(8));
        if (!((version == 2 && headerLength >= 0x58) || (version == 3 && headerLength >= 0x60)))
            throw Invalid { "unknown file header version" };
        const quint64 directoryOffset = u64(0x48);
        const quint64 directoryLength = u64(0x50);
        dataOffset = version == 3 ? u64(0x58) : directoryOffset + directoryLength;
        if (dataOffset > size)
            throw Invalid { "content offset past the end of the file" };

        if (!fits(directoryOffset, ItspLength) || !hasSignature(directoryOffset, "ITSP")
            || u32(directoryOffset + 4) != 1 || u32(directoryOffset + 8) != ItspLength)
            throw Invalid { "bad directory header" };
        chunkLength = u32(directoryOffset + 0x10);
        if (chunkLength <= ListingHeaderLength || chunkLength > MaxChunkLength)
            throw Invalid { "bad directory chunk size" };
        chunksStart = directoryOffset + ItspLength;
        indexRoot = qint32(u32(directoryOffset + 0x1c));
        listingHead = qint32(u32(directoryOffset + 0x20));
        if (indexRoot <= -1)
            indexRoot = listingHead;
    }

    // A cword: 7 bits a byte, high bit set on all but the last.
    quint64 readCword(const uchar *chunk, quint64 &cursor, quint64 end) const
    {
        quint64 value = 0;
        for (;;) {
            if (cursor >= end)
                throw Invalid { "directory entry runs past its chunk" };
            const uchar byte = chunk[cursor++];
            if (byte < 0x80)
                return (value << 7) + byte;
            value = (value << 7) + (byte & 0x7f);
        }
    }

    QByteArray readName(const uchar *chunk, quint64 &cursor, quint64 end) const
    {
        const quint64 length = readCword(chunk, cursor, end);
        // chmlib indexes name[length - 1] without checking for an empty name.
        if (length == 0 || length > MaxPathLength || length > end - cursor)
            throw Invalid { "bad directory entry name" };
        QByteArray name(reinterpret_cast<const char *>(chunk + cursor), qsizetype(length));
        cursor += length;
        if (name.contains('\0'))
            throw Invalid { "bad directory entry name" };
        return name;
    }

    // Parsed once, handed out by value: the cache grows while callers hold results.
    Chunk chunk(qint32 number)
    {
        if (auto found = chunks.constFind(number); found != chunks.constEnd())
            return *found;
        const quint64 offset = chunksStart + quint64(number) * chunkLength;
        if (number < 0 || !fits(offset, chunkLength))
            throw Invalid { "directory chunk past the end of the file" };
        if (chunks.size() >= MaxChunks)
            throw Invalid { "too many directory chunks" };
        const auto *bytes = reinterpret_cast<const uchar *>(data.data()) + offset;

        Chunk parsed;
        quint64 cursor;
        quint32 freeSpace;
        if (hasSignature(offset, "PMGL")) {
            parsed.listing = true;
            freeSpace = u32(offset + 4);
            parsed.next = qint32(u32(offset + 0x10));
            cursor = ListingHeaderLength;
        } else if (hasSignature(offset, "PMGI")) {
            freeSpace = u32(offset + 4);
            cursor = IndexHeaderLength;
        } else {
            throw Invalid { "unknown directory chunk" };
        }
        if (freeSpace > chunkLength - cursor)
            throw Invalid { "bad free space in a directory chunk" };
        const quint64 end = chunkLength - freeSpace;
        while (cursor < end) {
            if (++entryCount > MaxEntries)
                throw Invalid { "too many directory entries" };
            QByteArray name = readName(bytes, cursor, end);
            if (parsed.listing) {
                Entry entry { name, 0, 0, 0 };
                entry.space = readCword(bytes, cursor, end);
                entry.start = readCword(bytes, cursor, end);
                entry.length = readCword(bytes, cursor, end);
                parsed.entries.append(entry);
            } else {
                const quint64 child = readCword(bytes, cursor, end);
                if (child > quint64((size - chunksStart) / chunkLength))
                    throw Invalid { "directory index points past the end of the file" };
                parsed.index.append({ name, qint32(child) });
            }
        }
        return *chunks.insert(number, parsed);
    }

    // Every chunk chmlib can reach: the index tree from its root (which must not loop, or a
    // lookup never ends) and the listing chain from its head (which must not loop either).
    void walkDirectory()
    {
        enum State { Open = 1, Done = 2 };
        QHash<qint32, int> state;
        struct Frame
        {
            qint32 number;
            qsizetype child;
        };
        std::vector<Frame> stack { { indexRoot, 0 } };
        state.insert(indexRoot, Open);
        while (!stack.empty()) {
            const qint32 number = stack.back().number;
            const Chunk current = chunk(number);
            const qsizetype child = stack.back().child++;
            if (current.listing || child >= current.index.size()) {
                state.insert(number, Done);
                stack.pop_back();
                continue;
            }
            const qint32 next = current.index[child].chunk;
            const int seen = state.value(next, 0);
            if (seen == Open)
                throw Invalid { "directory index loops" };
            if (seen == 0) {
                state.insert(next, Open);
                stack.push_back({ next, 0 });
            }
        }

        QHash<qint32, bool> listed;
        for (qint32 number = listingHead; number != -1; number = chunk(number).next) {
            if (listed.contains(number))
                throw Invalid { "directory listing loops" };
            listed.insert(number, true);
            if (!chunk(number).listing)
                throw Invalid { "directory listing chain leaves the listing chunks" };
        }
    }

    void checkEntries()
    {
        for (const Chunk &parsed : std::as_const(chunks)) {
            for (const Entry &entry : parsed.entries) {
                if (entry.space > 1)
                    throw Invalid { "unknown content section" };
                if (entry.space == 0 && entry.length > 0
                    && (entry.start > size || !fits(dataOffset + entry.start, entry.length)))
                    throw Invalid { "an object runs past the end of the file" };
                for (const char *special : { ResetTablePath, ContentPath, ControlDataPath }) {
                    // One of each, so that chmlib and this check cannot pick different ones.
                    if (compareNames(entry.path, special) == 0 && ++specialCount[special] > 1)
                        throw Invalid { "duplicate compression header" };
                }
            }
        }
    }

    // chm_resolve_object: down the index to a listing chunk, first case-insensitive match there.
    std::optional<Entry> resolve(const QByteArray &path)
    {
        qint32 number = indexRoot;
        while (number != -1) {
            const Chunk current = chunk(number);
            if (current.listing) {
                for (const Entry &entry : current.entries) {
                    if (compareNames(entry.path, path) == 0)
                        return entry;
                }
                return std::nullopt;
            }
            number = -1;
            for (const IndexEntry &entry : current.index) {
                if (compareNames(entry.name, path) > 0)
                    break;
                number = entry.chunk;
            }
        }
        return std::nullopt;
    }

    // chm_open's reading of the compression headers, then every frame the way chmlib decodes it.
    void checkCompression()
    {
        const auto resetTable = resolve(ResetTablePath);
        const auto content = resolve(ContentPath);
        const auto controlData = resolve(ControlDataPath);
        if (!resetTable || resetTable->space != 0 || !content || content->space != 0 || !controlData
            || controlData->space != 0)
            return; // chmlib reads no compressed object then
        if (resetTable->length < ResetTableLength || u32(dataOffset + resetTable->start) != 2)
            return;

        // From here on chmlib uses whatever the control data held, even when it failed to read it.
        if (controlData->length < ControlDataMinLength || controlData->length > ControlDataMaxLength)
            throw Invalid { "bad compression control data" };
        const quint64 control = dataOffset + controlData->start;
        quint32 resetInterval = u32(control + 0x0c);
        quint32 windowSize = u32(control + 0x10);
        const quint32 windowsPerReset = u32(control + 0x14);
        if (u32(control + 8) == 2) {
            resetInterval *= 0x8000;
            windowSize *= 0x8000;
        }
        int windowBits = 15;
        while (windowBits <= 21 && windowSize != (1u << windowBits))
            ++windowBits;
        if (!hasSignature(control + 4, "LZXC") || windowBits > 21 || resetInterval == 0
            || resetInterval % (windowSize / 2) != 0)
            throw Invalid { "bad compression control data" };
        const quint32 resetBlocks = resetInterval / (windowSize / 2) * windowsPerReset;
        if (resetBlocks == 0)
            throw Invalid { "bad compression control data" };

        const quint64 table = dataOffset + resetTable->start;
        const quint32 blockCount = u32(table + 4);
        const quint32 tableOffset = u32(table + 12);
        const quint64 compressedLength = u64(table + 24);
        const quint64 blockLength = u64(table + 32);
        if (blockCount == 0 || blockLength == 0 || blockLength > windowSize
            || blockCount > MaxContentLength / blockLength)
            throw Invalid { "bad compression reset table" };
        if (tableOffset > resetTable->length || quint64(blockCount) * 8 > resetTable->length - tableOffset)
            throw Invalid { "bad compression reset table" };
        const quint64 contentLength = quint64(blockCount) * blockLength;

        // chmlib decodes a frame only to reach an object's bytes, and every frame before it back
        // to a reset point; frames past the last object (compilers leave an empty one) never.
        quint64 framesUsed = 0;
        for (const Chunk &parsed : std::as_const(chunks)) {
            for (const Entry &entry : parsed.entries) {
                if (entry.space != 1 || entry.length == 0)
                    continue;
                if (entry.length > contentLength || entry.start > contentLength - entry.length)
                    throw Invalid { "a compressed object runs past the compressed content" };
                framesUsed = qMax(framesUsed, (entry.start + entry.length - 1) / blockLength + 1);
            }
        }

        ChmLzxMirror decoder(windowBits);
        const qsizetype frameBuffer = qsizetype(blockLength + FrameSlack);
        for (quint32 block = 0; block < framesUsed; ++block) {
            const quint64 start = u64(table + tableOffset + quint64(block) * 8);
            const quint64 end
                = block + 1 < blockCount ? u64(table + tableOffset + quint64(block) * 8 + 8) : compressedLength;
            const qint64 length = qint64(end - start);
            if (length < 0 || quint64(length) > blockLength + FrameSlack || start > content->length
                || quint64(length) > content->length - start
                || !fits(dataOffset + content->start + start, quint64(length)))
                throw Invalid { "bad compressed frame bounds" };
            if (block % resetBlocks == 0)
                decoder.reset();
            const QByteArrayView frame = data.sliced(qsizetype(dataOffset + content->start + start), qsizetype(length));
            if (!decoder.decompress(frame, frameBuffer, int(blockLength)))
                throw Invalid { "corrupt compressed frame" };
        }
    }

    QByteArrayView data;
    quint64 size;
    quint64 dataOffset = 0;
    quint64 chunksStart = 0;
    quint64 chunkLength = 0;
    qint32 indexRoot = -1;
    qint32 listingHead = -1;
    QHash<qint32, Chunk> chunks;
    qsizetype entryCount = 0;
    QHash<const char *, int> specialCount;
};

} // namespace

QString chmArchiveProblem(QByteArrayView data)
{
    try {
        ArchiveCheck(data).run();
    } catch (const Invalid &invalid) {
        return QString::fromLatin1(invalid.reason);
    }
    return {};
}
