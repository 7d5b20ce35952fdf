#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstddef>

/// A list of ";"-separated wildcard patterns matched against native file names as bytes:
/// '*' any run of characters, '?' one character (one UTF-8 sequence, not one byte), letters
/// compared ASCII-case-insensitively. No pattern at all matches every name.
class FilePatterns
{
public:
    explicit FilePatterns(const QString &patterns = QString());

    /// Whether the name matches any of the patterns.
    bool matches(const char *name, std::size_t size) const;

private:
    struct Pattern
    {
        QByteArray text; ///< native bytes, ASCII letters lower-cased
        bool suffixOnly; ///< "*" followed by a plain tail, as in "*.wav"
    };
    QList<Pattern> patterns;
};
