#include "FilePatterns.h"

#include "desktop/DriveMap.h"
#include "browser/NameOrder.h"

namespace {

// Past one UTF-8 sequence: its lead byte and the continuation bytes after it.
inline const char *nextCharacter(const char *at, const char *end)
{
    ++at;
    while (at < end && (static_cast<unsigned char>(*at) & 0xC0) == 0x80)
        ++at;
    return at;
}

bool matchesWildcard(const char *pattern, const char *patternEnd, const char *name, const char *nameEnd)
{
    // Greedy matching with one back-track point: the last '*' seen and where its run ended.
    const char *afterStar = nullptr;
    const char *starRunEnd = nullptr;
    while (name < nameEnd) {
        if (pattern < patternEnd && *pattern == '*') {
            afterStar = ++pattern;
            starRunEnd = name;
        } else if (pattern < patternEnd && *pattern == '?') {
            ++pattern;
            name = nextCharacter(name, nameEnd);
        } else if (pattern < patternEnd && *pattern == foldAscii(*name)) {
            ++pattern;
            ++name;
        } else if (afterStar) {
            pattern = afterStar;
            starRunEnd = nextCharacter(starRunEnd, nameEnd);
            name = starRunEnd;
        } else {
            return false;
        }
    }
    while (pattern < patternEnd && *pattern == '*')
        ++pattern;
    return pattern == patternEnd;
}

} // namespace

FilePatterns::FilePatterns(const QString &text)
{
    for (const QString &part : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString trimmed = part.trimmed();
        if (trimmed.isEmpty())
            continue;
        QByteArray bytes = DriveMap::nameToNative(trimmed);
        for (char &c : bytes)
            c = foldAscii(c);
        const QByteArray tail = bytes.mid(1);
        patterns.append({ bytes, bytes.startsWith('*') && !tail.contains('*') && !tail.contains('?') });
    }
}

bool FilePatterns::matches(const char *name, std::size_t size) const
{
    if (patterns.isEmpty())
        return true;
    const char *end = name + size;
    for (const Pattern &pattern : patterns) {
        const char *patternText = pattern.text.constData();
        const std::size_t patternSize = std::size_t(pattern.text.size());
        if (pattern.suffixOnly) {
            const std::size_t tailSize = patternSize - 1;
            if (tailSize > size)
                continue;
            const char *tail = end - tailSize;
            std::size_t i = 0;
            while (i < tailSize && foldAscii(tail[i]) == patternText[i + 1])
                ++i;
            if (i == tailSize)
                return true;
        } else if (matchesWildcard(patternText, patternText + patternSize, name, end)) {
            return true;
        }
    }
    return false;
}
