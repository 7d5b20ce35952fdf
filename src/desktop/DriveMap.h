#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

/// A user-visible volume: where it is mounted, and whether a file system is mounted there now.
struct Volume
{
    QString mountPoint;
    bool available = true;
};

/// Presents the file system in drive-letter form. C: is "/"; D:, E:, ... are the other volumes,
/// lettered in the order first seen during the run. A drive-form path "X:\a\b" is the drive's
/// mount point joined with "a/b". The mapping is lossless: a backslash inside a native name is
/// written as U+F05C in drive form, and a name that cannot be represented exactly has no drive form.
class DriveMap
{
public:
    using Scanner = std::function<QList<Volume>()>;

    static constexpr QChar BackslashInName = QChar(0xF05C);

    /// scanner lists the volumes other than the root; it is asked again on every rescan().
    explicit DriveMap(Scanner scanner);

    /// Re-reads the volumes: known mount points keep their letters, new ones get the next letter.
    void rescan();
    /// "C:", "D:", ... in letter order.
    QStringList drives() const;
    /// The mount point of a drive ("C:" or "c:"), or an empty string for an unknown drive.
    QString mountPoint(const QString &drive) const;
    /// Whether the drive is known and had a mounted file system at the last rescan.
    bool isAvailable(const QString &drive) const;

    /// The native path of a drive-form path; throws DesktopError 76 for a path of no known drive.
    QString toNative(const QString &drivePath) const;
    /// The drive-form name of one native file name, or an empty string when it has none.
    static QString nameToDriveForm(const QByteArray &nativeName);
    /// The native bytes of one drive-form name.
    static QByteArray nameToNative(const QString &driveName);
    /// The drive-form name as the lists show it: a real backslash, control characters as visible symbols.
    static QString displayName(const QString &driveName);

private:
    struct Drive
    {
        QString letter;
        Volume volume;
    };
    const Drive *find(const QString &drive) const;

    Scanner scanner;
    QList<Drive> known;
};
