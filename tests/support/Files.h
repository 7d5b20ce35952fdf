#pragma once

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

/// The whole file; empty when it cannot be read.
inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

/// A temporary folder that tests fill with empty files.
class TempFolder : public QTemporaryDir
{
public:
    void touch(const QStringList &names) const
    {
        for (const QString &name : names)
            writeFile(path() + '/' + name, {});
    }
};
