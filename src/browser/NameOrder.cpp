#include "NameOrder.h"

#include "desktop/DriveMap.h"

#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <utility>

namespace {

/// Eight key bytes from index from as one big-endian number, zero past the key's end, with ASCII
/// letters folded eight at a time: foldAscii on each byte, without a branch.
quint64 chunkOf(const char *key, std::size_t size, std::size_t from)
{
    unsigned char bytes[8] = {};
    if (from < size)
        std::memcpy(bytes, key + from, std::min<std::size_t>(8, size - from));
    const quint64 chunk = qFromBigEndian<quint64>(bytes);
    constexpr quint64 high = 0x8080808080808080;
    const quint64 low = chunk & ~high;
    // Adding sets a byte's high bit past 'Z', or from 'A' on; seven-bit bytes never carry.
    const quint64 afterZ = low + 0x2525252525252525;
    const quint64 fromA = low + 0x3f3f3f3f3f3f3f3f;
    const quint64 capitals = fromA & ~afterZ & ~chunk & high;
    return chunk | capitals >> 2;
}

} // namespace

QString driveFormName(const char *name, std::size_t size)
{
    // Plain names need no round-trip check.
    if (isPlainName(name, size))
        return QString::fromLatin1(name, qsizetype(size));
    return DriveMap::nameToDriveForm(QByteArray(name, qsizetype(size)));
}

void NameListing::append(const char *name, std::size_t size)
{
    const std::size_t offset = text.size();
    text.append(name, size);
    // A plain name is its own key, folded as it is read; only the others need a key of their own.
    if (isPlainName(name, size)) {
        entries.push_back({ {}, quint32(offset), quint16(size), 0 });
        return;
    }
    const QString driveForm = DriveMap::nameToDriveForm(QByteArray(name, qsizetype(size)));
    if (driveForm.isEmpty()) {
        text.resize(offset);
        return;
    }
    // Case folding leaves no capital ASCII letter, so folding the key again as it is read changes nothing.
    const QByteArray key = driveForm.toCaseFolded().toUtf8();
    text.append(key.constData(), std::size_t(key.size()));
    entries.push_back({ {}, quint32(offset), quint16(size), quint16(key.size()) });
}

void NameListing::sort()
{
    sort(entries.begin(), entries.end(), 0);
}

/// Sorts entries whose keys agree before depth by sixteen key bytes at a time, read as two numbers
/// so that the sort compares numbers, not text; each run that agrees on them is then sorted by the
/// next sixteen. Keys hold no zero byte, so zero padding sorts a shorter key first, and a zero last
/// byte means the keys have ended, equal.
void NameListing::sort(Entries::iterator begin, Entries::iterator end, std::size_t depth)
{
    for (auto e = begin; e != end; ++e) {
        const char *key = text.data() + e->offset + (e->keySize ? e->nativeSize : 0);
        const std::size_t keySize = e->keySize ? e->keySize : e->nativeSize;
        e->head[0] = chunkOf(key, keySize, depth);
        e->head[1] = chunkOf(key, keySize, depth + 8);
    }
    const auto before = [](const Entry &a, const Entry &b) {
        return a.head[0] != b.head[0] ? a.head[0] < b.head[0] : a.head[1] < b.head[1];
    };
    // Counting, not comparing: a comparing sort mispredicts about every other branch, and in a few
    // microseconds at most a small folder costs nothing to speak of.
    radixSort(begin, end);
    while (begin != end) {
        const Entry &first = *begin;
        const auto run = std::find_if(begin + 1, end, [&](const Entry &e) { return before(first, e); });
        if (run - begin > 1 && (first.head[1] & 0xff) == 0)
            std::sort(begin, run, [this](const Entry &a, const Entry &b) { return native(a) < native(b); });
        else if (run - begin > 1)
            sort(begin, run, depth + 16);
        begin = run;
    }
}

/// Sorts by the sixteen head bytes, last byte first, each pass stable; a byte that all entries
/// share, such as a common prefix, costs no pass.
void NameListing::radixSort(Entries::iterator begin, Entries::iterator end)
{
    const auto byteOf = [](const Entry &e, std::size_t byte) {
        return std::size_t(e.head[byte / 8] >> (56 - 8 * (byte % 8)) & 0xff);
    };
    const std::size_t size = std::size_t(end - begin);
    if (size < 2)
        return;
    // Bytes in which some entry differs from the first; the others need neither count nor pass.
    quint64 differ[2] = {};
    for (auto e = begin; e != end; ++e) {
        differ[0] |= e->head[0] ^ begin->head[0];
        differ[1] |= e->head[1] ^ begin->head[1];
    }
    // Left uninitialised: every pass writes each entry before the next reads it.
    const std::unique_ptr<Entry[]> scratch(new Entry[size]);
    Entry *from = &*begin;
    Entry *to = scratch.get();
    for (std::size_t byte = 16; byte-- > 0;) {
        if ((differ[byte / 8] >> (56 - 8 * (byte % 8)) & 0xff) == 0)
            continue;
        std::array<std::size_t, 256> next {};
        for (std::size_t i = 0; i < size; ++i)
            ++next[byteOf(from[i], byte)];
        std::size_t at = 0;
        for (std::size_t &count : next)
            at += std::exchange(count, at);
        for (std::size_t i = 0; i < size; ++i)
            to[next[byteOf(from[i], byte)]++] = from[i];
        std::swap(from, to);
    }
    if (from != &*begin)
        std::copy(from, from + size, begin);
}
