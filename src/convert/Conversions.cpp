#include "Conversions.h"

#include "desktop/DesktopServices.h"
#include "browser/FileList.h"

#include <exception>

QStringList toolsOf(Conversion conversion)
{
    // No default: a conversion added without its tools is a compiler warning.
    switch (conversion) {
    case Conversion::WavToOgg:
        return { ToolString::OggEnc };
    case Conversion::WavToOggAndLip:
        return { ToolString::OggEnc, ToolString::WavToLip };
    case Conversion::WavToLip:
    case Conversion::OggToLip:
        return { ToolString::WavToLip };
    case Conversion::WavToWss:
        return { ToolString::WavToWss };
    case Conversion::OggToWav:
        return { ToolString::OggDec };
    }
    return {};
}

void runConversion(
    const QStringList &tools, FileList &files, DesktopServices &desktop, QWidget *parent, QString &selectedPath)
{
    const QString name = files.fileName();
    // Exactly one backslash, whatever the folder ends with: at a drive root that makes two.
    selectedPath = files.path() + QLatin1Char('\\') + name;

    std::exception_ptr startFailure;
    if (name.isEmpty()) {
        desktop.messageBox(
            parent, QStringLiteral("No file selected !"), DesktopServices::Warning, DesktopServices::ProgramTitle);
    } else {
        try {
            for (const QString &tool : tools)
                desktop.startProcess(tool + selectedPath);
        } catch (...) {
            // A tool that cannot start must not leave the path set nor the list stale.
            startFailure = std::current_exception();
        }
    }

    selectedPath.clear();
    files.refresh();
    if (startFailure)
        std::rethrow_exception(startFailure);
}
