#pragma once

#include <QFont>
#include <QString>

/// The program's one typeface and the sizes its windows were laid out at. Where Verdana is not
/// installed, Main substitutes DejaVu Sans, whose metrics are the closest; the family name stays.
namespace ProgramFont {

inline constexpr qreal Normal = 8.25;
inline constexpr qreal Small = 6.75;
inline constexpr qreal Title = 9.75;

inline QString family()
{
    return QStringLiteral("Verdana");
}

inline QFont at(qreal points, bool bold = false, bool italic = false)
{
    QFont font(family());
    font.setPointSizeF(points);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

} // namespace ProgramFont
