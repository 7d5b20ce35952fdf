#pragma once

#include <QLoggingCategory>

// The help viewer's own category, "ombrix.help": the help folder builds on no other.
Q_DECLARE_LOGGING_CATEGORY(lcHelp)
