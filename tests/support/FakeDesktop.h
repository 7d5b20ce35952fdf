#pragma once

#include "desktop/DesktopServices.h"
#include "desktop/DriveMap.h"
#include "desktop/TrayIconData.h"

#include <QList>
#include <QQueue>
#include <QSet>
#include <QString>
#include <QWidget>

/// A desktop that records what the handlers ask of it and answers as the test scripts.
class FakeDesktop : public DesktopServices
{
    Q_OBJECT

public:
    struct MessageBoxCall
    {
        QString text;
        int flags = 0;
        QString title;
    };
    struct NotifyCall
    {
        quint32 message = 0;
        TrayIconData data;
        bool ownerVisible = false; ///< whether the record's window was visible at the call
    };

    explicit FakeDesktop(QObject *parent = nullptr);

    int messageBox(QWidget *parent, const QString &text, int flags, const QString &title) override;
    void reportError(QWidget *, const DesktopError &error) override { errors.append(error); }
    qint64 startProcess(const QString &commandLine) override;
    DriveMap &drives() override { return driveMap; }
    quint32 windowHandle(QWidget *window) override { return quint32(window->winId()); }
    quint32 iconHandle(QWidget *) override { return nextIconHandle++; }
    bool notifyIcon(quint32 message, const TrayIconData &data) override;
    quintptr htmlHelp(QWidget *, const QByteArray &file) override
    {
        helpFiles.append(file);
        return 0;
    }
    KeyLockState keyLocks() const override { return locks; }
    void keepOffTaskbar(QWidget *) override { }

    /// Sets the indicators and announces the change.
    void setKeyLocks(KeyLockState state)
    {
        locks = state;
        Q_EMIT keyLocksChanged();
    }
    /// Reports a mouse action on, or the loss of, the icon of record.
    void clickTray(const TrayIconData &record, qint32 mouse)
    {
        Q_EMIT trayMouseMessage(record.hWnd, record.uID, mouse);
    }
    void loseTray(const TrayIconData &record) { Q_EMIT trayIconLost(record.hWnd, record.uID); }
    /// Reports that a started tool has ended.
    void endTool() { Q_EMIT toolEnded(); }

    // Scripted answers.
    QQueue<int> answers; ///< button codes for the next message boxes; else OK or No
    QSet<QString> unstartable; ///< programs (text before the first space) whose start fails
    bool trayAvailable = true; ///< whether an add is accepted
    QList<Volume> volumes; ///< the volumes besides the root

    // What was asked.
    QList<MessageBoxCall> messageBoxes;
    QList<DesktopError> errors;
    QStringList startedCommandLines;
    QList<NotifyCall> notifyCalls;
    QByteArrayList helpFiles;
    quint32 nextIconHandle = 0x1000;

private:
    DriveMap driveMap;
    KeyLockState locks;
};

/// The drive-form path of a native absolute path, on drive C: ("/tmp/a" -> "C:\tmp\a").
QString driveFormOf(const QString &nativePath);
