#include "Logging.h"

Q_LOGGING_CATEGORY(lcProcess, "ombrix.process", QtWarningMsg)
Q_LOGGING_CATEGORY(lcWine, "ombrix.wine", QtWarningMsg)
Q_LOGGING_CATEGORY(lcTray, "ombrix.tray", QtWarningMsg)
Q_LOGGING_CATEGORY(lcNotify, "ombrix.notify", QtWarningMsg)
