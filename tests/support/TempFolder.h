#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

/// A temporary folder that tests fill with files and subfolders by native name.
class TempFolder : public QTemporaryDir
{
public:
    /// Creates empty files (names may hold any byte but '/' and NUL).
    void touch(const QList<QByteArray> &names) const
    {
        for (const QByteArray &name : names) {
            QFile file(QFile::decodeName(QFile::encodeName(path()) + '/' + name));
            file.open(QIODevice::WriteOnly);
        }
    }
    void touch(const QStringList &names) const
    {
        for (const QString &name : names)
            touch(QList<QByteArray> { name.toUtf8() });
    }
    void mkdir(const QString &name) const { QDir(path()).mkpath(name); }
};
