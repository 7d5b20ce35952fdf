#pragma once

#include "desktop/ToolOutcome.h"

#include <QObject>

/// Shows notices as desktop notifications: the freedesktop Notifications service on the session
/// bus, called without waiting for its answer. Where no such service answers, the notice goes to
/// standard error instead.
class DesktopNotifier : public QObject
{
    Q_OBJECT

public:
    /// How long a notification service may take to answer before the notice goes to standard error.
    static constexpr int AnswerTimeoutMs = 5000;

    using QObject::QObject;

    void show(const Notice &notice);
};
