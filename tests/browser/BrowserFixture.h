#pragma once

#include "app/desktop/DriveMap.h"

#include <QByteArray>
#include <QDir>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

/// Removes a native tree; unlike QDir's, it also removes names that are not valid UTF-8.
inline bool removeTree(const QByteArray &path)
{
    const auto removeOne = [](const char *entry, const struct stat *, int, struct FTW *) { return ::remove(entry); };
    return ::nftw(path.constData(), removeOne, 16, FTW_DEPTH | FTW_PHYS) == 0;
}

/// A temporary tree with two scripted volumes: D: (tree/d, mounted) and E: (tree/e, a mount
/// point with nothing mounted). Tests change `volumes` to plug and pull media.
struct BrowserFixture
{
    QTemporaryDir tree;
    QList<Volume> volumes;
    std::unique_ptr<DriveMap> drives;

    BrowserFixture()
    {
        QVERIFY(tree.isValid());
        QVERIFY(QDir(tree.path()).mkpath(QStringLiteral("d")));
        QVERIFY(QDir(tree.path()).mkpath(QStringLiteral("e")));
        volumes = {{native("d"), true}, {native("e"), false}};
        drives = std::make_unique<DriveMap>([this] { return volumes; });
    }
    ~BrowserFixture() { removeTree(QFile::encodeName(tree.path())); }

    QString native(const QString &relative) const { return tree.path() + QLatin1Char('/') + relative; }
    QByteArray nativeBytes(const QByteArray &relative) const { return tree.path().toUtf8() + '/' + relative; }
};

/// The drive-form path of a native absolute path on C:.
inline QString onDriveC(const QString &nativePath)
{
    return QStringLiteral("C:") + QString(nativePath).replace(QLatin1Char('/'), QLatin1Char('\\'));
}

/// Creates an empty file under a raw native path, whatever bytes its name holds.
inline bool makeFile(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return fd >= 0 && ::close(fd) == 0;
}

inline bool makeFolder(const QByteArray &path)
{
    return ::mkdir(path.constData(), 0755) == 0;
}

/// Runs the enclosing scope as an unprivileged user when the tests run as root, since root
/// reads any folder whatever its permissions; the saved root id brings root back afterwards.
class UnprivilegedScope
{
public:
    UnprivilegedScope()
        : wasRoot(::geteuid() == 0)
    {
        if (wasRoot)
            dropped = ::setegid(65534) == 0 && ::seteuid(65534) == 0;
    }
    ~UnprivilegedScope()
    {
        if (wasRoot) {
            (void)!::seteuid(0);
            (void)!::setegid(0);
        }
    }
    /// False when root could not give up its privileges.
    bool ok() const { return !wasRoot || dropped; }

private:
    bool wasRoot;
    bool dropped = false;
};
