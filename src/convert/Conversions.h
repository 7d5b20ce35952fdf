#pragma once

#include <QString>
#include <QStringList>

class DesktopServices;
class FileList;
class QWidget;

/// The tools, each named by its relative path and one trailing space that separates it from
/// the argument on the command line.
namespace ToolString {
inline const QString OggEnc = QStringLiteral("data\\oggenc.exe ");
inline const QString OggDec = QStringLiteral("data\\oggdec.exe ");
inline const QString WavToLip = QStringLiteral("data\\wavtolip.exe ");
inline const QString WavToWss = QStringLiteral("data\\wavtowss.exe ");
} // namespace ToolString

/// What a conversion command does. Each command names its conversion, so a command that
/// starts nothing cannot compile.
enum class Conversion { WavToOgg, WavToOggAndLip, WavToLip, WavToWss, OggToLip, OggToWav };

/// The tools a conversion starts, in order.
QStringList toolsOf(Conversion conversion);

/// Runs one conversion command on the file selected in files: sets selectedPath to the folder,
/// one backslash and the name, warns when nothing is selected, else starts each tool hidden on it
/// in order; then clears selectedPath and refreshes the list, also when a start failed (the
/// start's error is raised after that).
void runConversion(
    const QStringList &tools, FileList &files, DesktopServices &desktop, QWidget *parent, QString &selectedPath);
