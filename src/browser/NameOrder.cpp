#include "NameOrder.h"

#include "desktop/DriveMap.h"

#include <algorithm>

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
        entries.push_back({ {}, quint32(offset), quint32(size), quint32(offset), quint32(size) });
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
    entries.push_back({ {}, quint32(offset), quint32(size), quint32(offset + size), quint32(key.size()) });
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
        const char *key = text.data() + e->keyOffset;
        for (std::size_t half = 0; half < 2; ++half) {
            quint64 chunk = 0;
            for (std::size_t i = depth + 8 * half; i < depth + 8 * half + 8; ++i)
                chunk = chunk << 8 | (i < e->keySize ? quint8(foldAscii(key[i])) : 0);
            e->head[half] = chunk;
        }
    }
    const auto before = [](const Entry &a, const Entry &b) {
        return a.head[0] != b.head[0] ? a.head[0] < b.head[0] : a.head[1] < b.head[1];
    };
    std::sort(begin, end, before);
    while (begin != end) {
        const Entry &first = *begin;
        const auto run = std::find_if(begin + 1, end, [&](const Entry &e) { return before(first, e); });
        if ((first.head[1] & 0xff) == 0)
            std::sort(begin, run, [this](const Entry &a, const Entry &b) { return native(a) < native(b); });
        else if (run - begin > 1)
            sort(begin, run, depth + 16);
        begin = run;
    }
}
