#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <memory>

struct chmFile;

/// A compiled help file opened through chmlib, after its structure has been checked.
class ChmArchive
{
public:
    /// Reads fileName, checks it, and opens the checked bytes (a private copy, so that the file
    /// cannot change between the check and chmlib's reads). Returns nullptr when the file is
    /// missing, unreadable, too large or not a sound archive; problem then says why.
    static std::unique_ptr<ChmArchive> open(const QString &fileName, QString *problem = nullptr);
    ~ChmArchive();

    ChmArchive(const ChmArchive &) = delete;
    ChmArchive &operator=(const ChmArchive &) = delete;

    /// The object at path ("/index.htm"; case is ignored), or a null array when there is none.
    QByteArray read(const QString &path) const;
    bool contains(const QString &path) const;

    /// The page the file opens at ("/index.htm"): the start page of its default window, else the
    /// default topic of #SYSTEM, else its first HTML page. Empty when the file has no page.
    QString defaultTopic() const { return topic; }
    /// The title from #SYSTEM, or an empty string.
    QString title() const { return caption; }

    /// Largest object handed out; help pages and pictures are far smaller.
    static constexpr qint64 MaxObjectSize = 16 << 20;
    /// Largest file opened at all.
    static constexpr qint64 MaxFileSize = 64 << 20;

private:
    explicit ChmArchive(chmFile *handle);
    QString findDefaultTopic() const;
    QString existingPage(const QByteArray &reference) const;

    chmFile *handle;
    QString topic;
    QString caption;
};

namespace Chm {

/// The data of the first #SYSTEM record with this code, up to its NUL; empty when absent.
QByteArray systemRecord(QByteArrayView system, quint16 code);

/// Start pages named by #WINDOWS, whose strings live in #STRINGS: the default and home pages of
/// the window called windowName first, then those of the other windows, in file order.
QList<QByteArray> windowStartPages(QByteArrayView windows, QByteArrayView strings, QByteArrayView windowName);

} // namespace Chm
