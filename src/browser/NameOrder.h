#pragma once

#include <QByteArrayView>
#include <QString>

#include <cstddef>
#include <string>
#include <vector>

/// ASCII letters lower-cased, every other byte as it is: safe on UTF-8, whose multi-byte
/// sequences hold no ASCII byte.
inline char foldAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

/// Whether a native name is plain ASCII without a backslash, so that its drive form is its own
/// bytes and needs no decoding. Nearly every name is.
inline bool isPlainName(const char *name, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        if (static_cast<unsigned char>(name[i]) >= 0x80 || name[i] == '\\')
            return false;
    }
    return true;
}

/// The drive-form name of a native name, or an empty string when it has none.
QString driveFormName(const char *name, std::size_t size);

/// The names of one folder in the order both lists show them: by the drive-form name case-folded
/// and read as UTF-8, which is the order of its code points; names equal but for case by their
/// native bytes, whatever order the folder returned them in. The names lie back to back in one
/// text, so that a folder of any size costs a few allocations, not one per name.
class NameListing
{
public:
    /// Adds a native name; a name without a drive form is left out.
    void append(const char *name, std::size_t size);
    void sort();

    std::size_t size() const { return entries.size(); }
    QByteArrayView native(std::size_t index) const { return native(entries[index]); }
    /// The drive-form name at index, decoded when asked for, which is mostly for the few rows on screen.
    QString name(std::size_t index) const { return driveFormName(native(index).data(), entries[index].nativeSize); }

private:
    struct Entry
    {
        quint64 head[2]; ///< sixteen bytes of the sort key, while sorting
        quint32 offset; ///< the native name, followed by the sort key unless the name is plain
        quint16 nativeSize; ///< names and keys are far shorter than 64 KiB on every file system
        quint16 keySize; ///< 0 for a plain name, which is its own key, folded as it is read
    };
    using Entries = std::vector<Entry>;

    QByteArrayView native(const Entry &e) const { return { text.data() + e.offset, qsizetype(e.nativeSize) }; }
    void sort(Entries::iterator begin, Entries::iterator end, std::size_t depth);
    static void radixSort(Entries::iterator begin, Entries::iterator end);

    std::string text;
    Entries entries;
};
