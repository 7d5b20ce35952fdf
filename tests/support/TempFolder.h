#pragma once

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

/// A temporary folder that tests fill with empty files.
class TempFolder : public QTemporaryDir
{
public:
    void touch(const QStringList &names) const
    {
        for (const QString &name : names)
            QFile(path() + '/' + name).open(QIODevice::WriteOnly);
    }
};
