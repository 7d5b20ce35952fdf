#include "TrayIconData.h"

#include <algorithm>

void TrayIconData::setTip(const QString &text)
{
    // 8-bit ANSI code page: Latin-1 here; the field always keeps room for the NUL.
    const QByteArray bytes = (text + QChar(0)).toLatin1().left(TipSize);
    szTip.fill(' ');
    std::copy(bytes.cbegin(), bytes.cend(), szTip.begin());
    if (bytes.size() == TipSize)
        szTip[TipSize - 1] = '\0';
}

QString TrayIconData::tip() const
{
    const auto end = std::find(szTip.cbegin(), szTip.cend(), '\0');
    return QString::fromLatin1(szTip.data(), end - szTip.cbegin());
}
