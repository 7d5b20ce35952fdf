#pragma once

#include <QByteArray>
#include <QString>

#include <array>

/// The notification-area record: 88 bytes, little-endian, fields back to back.
struct TrayIconData
{
    static constexpr int Size = 88;
    static constexpr int TipSize = 64;
    /// The mouse message numbers an icon reports; MouseMove is also the callback message.
    enum MouseMessage : qint32 {
        MouseMove = 512,
        LeftButtonDown = 513,
        LeftButtonUp = 514,
        LeftButtonDoubleClick = 515,
        RightButtonDown = 516,
        RightButtonUp = 517,
        RightButtonDoubleClick = 518,
    };

    quint32 cbSize = 0;
    quint32 hWnd = 0;
    quint32 uID = 0;
    quint32 uFlags = 0;
    quint32 uCallbackMessage = 0;
    quint32 hIcon = 0;
    std::array<char, TipSize> szTip {};

    /// Stores text left-justified in szTip as 8-bit characters, then one NUL, then spaces.
    void setTip(const QString &text);
    /// The tip as shown: szTip up to its first NUL.
    QString tip() const;

    bool operator==(const TrayIconData &) const = default;
};
