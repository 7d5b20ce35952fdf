#pragma once

#include "desktop/DesktopError.h"
#include "desktop/DesktopServices.h"

#include <exception>
#include <utility>

class QWidget;

/// Runs one handler; an error it does not trap stops it and goes to the default error report.
/// No exception ever leaves a guard, so none crosses the event loop.
template<typename Handler> void guarded(DesktopServices &desktop, QWidget *parent, Handler &&handler) noexcept
{
    try {
        std::forward<Handler>(handler)();
    } catch (const DesktopError &error) {
        desktop.reportError(parent, error);
    } catch (const std::exception &error) {
        desktop.reportError(parent, { DesktopError::InternalError, QString::fromLocal8Bit(error.what()) });
    }
}

/// An error trap armed for the rest of a handler: each step's error is recorded, not raised,
/// and the handler goes on with its next step. Arming clears the record.
class ErrorTrap
{
public:
    template<typename Step> void step(Step &&run)
    {
        try {
            std::forward<Step>(run)();
        } catch (const DesktopError &error) {
            lastError = error.number;
        }
    }

    int lastErrorNumber() const { return lastError; }

private:
    int lastError = 0;
};
