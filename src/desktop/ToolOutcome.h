#pragma once

#include "desktop/ProcessStart.h"

#include <QString>
#include <QStringList>

/// A desktop notification's text: a one-line summary and a plain-text body.
struct Notice
{
    QString summary;
    QString body;
};

/// The last count lines of a tool's error output that say something: lines end at a newline or a
/// carriage return (a progress line is one line), blank lines and Wine's own debug lines
/// ("fixme:", "err:" ...) are skipped.
QStringList lastMeaningfulLines(const QByteArray &output, int count);

/// What the user is told of a tool that failed: the tool (as the command line names it), the file,
/// how it ended, its last meaningful lines and, for a Windows tool, what a failure that Wine
/// explains in its output means and what to do.
Notice toolFailureNotice(const QString &tool, const QString &file, const ToolLaunch &launch, const ToolExit &exit);

/// Told when a Windows tool is the first to run in a Wine folder that does not exist yet.
Notice winePreparingNotice(const QString &prefix);
