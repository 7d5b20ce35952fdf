#pragma once

#include "desktop/DesktopError.h"

#include <QObject>
#include <QString>

#include <optional>

class DriveMap;
class QWidget;
struct TrayIconData;

/// The state of the keyboard's lock indicators; a value is empty where the desktop cannot tell.
struct KeyLockState
{
    std::optional<bool> numLock;
    std::optional<bool> capsLock;
};

/// Everything the handlers need from the desktop. Main takes it by reference; the program
/// passes QtDesktopServices, widget tests a fake that records calls and answers as scripted.
class DesktopServices : public QObject
{
    Q_OBJECT

public:
    /// Message box flags: the buttons in the low four bits, the icon in the next four; the
    /// combinations the program uses; the button codes a box returns.
    enum MessageFlags {
        YesNoButtons = 4,
        ButtonsMask = 0x0f,
        CriticalIcon = 16,
        QuestionIcon = 32,
        WarningIcon = 48,
        IconMask = 0xf0,
        Critical = CriticalIcon,
        Question = QuestionIcon | YesNoButtons,
        Warning = WarningIcon,
    };
    enum Answer { Ok = 1, Yes = 6, No = 7 };
    /// Notification-area messages.
    enum NotifyMessage : quint32 { AddIcon = 0, DeleteIcon = 2 };
    /// The program's title: its message boxes' and error reports' title.
    static inline const QString ProgramTitle = QStringLiteral("Ombrix Converter");

    /// Whether a box with these flags asks Yes or No (else it has OK alone).
    static constexpr bool asksYesNo(int flags) { return (flags & ButtonsMask) == YesNoButtons; }

    using QObject::QObject;

    /// Modal box with text, icon and buttons from flags (16, 36, 48) and title; returns 1, 6 or 7.
    virtual int messageBox(QWidget *parent, const QString &text, int flags, const QString &title) = 0;
    /// The default error report: a modal box with the error's number and description and OK.
    virtual void reportError(QWidget *parent, const DesktopError &error) = 0;
    /// Starts "program argument-text" hidden and returns its process id at once, never waiting;
    /// throws DesktopError when the program cannot be started. When the tool ends, toolEnded()
    /// follows; a tool that fails is reported to the user by the desktop, never in a box.
    virtual qint64 startProcess(const QString &commandLine) = 0;
    /// The drive letters and the mapping between drive-form and native paths.
    virtual DriveMap &drives() = 0;
    /// The 32-bit handle of a window and of its own window icon.
    virtual quint32 windowHandle(QWidget *window) = 0;
    virtual quint32 iconHandle(QWidget *window) = 0;
    /// Adds (0) or deletes (2) a notification-area icon; false when the desktop refuses.
    virtual bool notifyIcon(quint32 message, const TrayIconData &data) = 0;
    /// Opens a compiled help file at its default topic beside owner without waiting; the viewer's
    /// handle, 0 on failure.
    virtual quintptr htmlHelp(QWidget *owner, const QByteArray &file) = 0;
    /// The Num Lock and Caps Lock indicators as the keyboard shows them now.
    virtual KeyLockState keyLocks() const = 0;
    /// Keeps a top-level window out of the task bar and the pager; call before it is first shown.
    virtual void keepOffTaskbar(QWidget *window) = 0;

Q_SIGNALS:
    /// A mouse action on a notification-area icon, as the TrayIconData::MouseMessage it stands for.
    void trayMouseMessage(quint32 window, quint32 iconId, qint32 mouseMessage);
    /// A notification-area icon lost its tray and no tray took it back: it shows nowhere.
    void trayIconLost(quint32 window, quint32 iconId);
    /// The keyboard's lock indicators changed.
    void keyLocksChanged();
    /// A tool started by startProcess() has ended, whether it succeeded or failed.
    void toolEnded();
};
