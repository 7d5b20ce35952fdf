#include "HelpLogging.h"

Q_LOGGING_CATEGORY(lcHelp, "ombrix.help", QtWarningMsg)
