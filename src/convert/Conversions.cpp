#include "Conversions.h"

#include "app/desktop/DesktopServices.h"
#include "browser/FileList.h"

#include <exception>

const QList<ConversionCommand> &conversionCommands()
{
    static const QList<ConversionCommand> commands = {
        {QStringLiteral("toOGG"), {ToolString::OggEnc}},
        {QStringLiteral("toLIP"), {ToolString::OggEnc, ToolString::WavToLip}},
        {QStringLiteral("mnuToOGG"), {ToolString::OggEnc}},
        {QStringLiteral("mnuWAVtoLIP"), {ToolString::WavToLip}},
        {QStringLiteral("mnuToWSS"), {ToolString::WavToWss}},
        {QStringLiteral("mnuOGGtoLIP"), {ToolString::WavToLip}},
        {QStringLiteral("mnuToWAV"), {ToolString::OggDec}},
    };
    return commands;
}

QStringList toolsOf(const QString &entry)
{
    for (const ConversionCommand &command : conversionCommands()) {
        if (command.entry == entry)
            return command.tools;
    }
    return {};
}

void runConversion(const QStringList &tools, FileList &files, DesktopServices &desktop, QWidget *parent,
                   QString &selectedPath)
{
    const QString name = files.fileName();
    // Exactly one backslash, whatever the folder ends with: at a drive root that makes two.
    selectedPath = files.path() + QLatin1Char('\\') + name;

    std::exception_ptr startFailure;
    if (name.isEmpty()) {
        desktop.messageBox(parent, QStringLiteral("No file selected !"), DesktopServices::Warning,
                           QStringLiteral("Ombrix Converter"));
    } else {
        try {
            for (const QString &tool : tools)
                desktop.startProcess(tool + selectedPath, DesktopServices::HiddenWindow);
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
