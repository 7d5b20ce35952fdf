#pragma once

#include <QLoggingCategory>

// One category per area, "ombrix.<area>". Warnings and above show by default; set
// QT_LOGGING_RULES="ombrix.*.debug=true" to see everything.
Q_DECLARE_LOGGING_CATEGORY(lcProcess) ///< starting and collecting tools
Q_DECLARE_LOGGING_CATEGORY(lcWine) ///< Windows tools run through Wine
Q_DECLARE_LOGGING_CATEGORY(lcTray) ///< the notification area's icons
Q_DECLARE_LOGGING_CATEGORY(lcNotify) ///< desktop notifications
