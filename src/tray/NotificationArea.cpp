#include "NotificationArea.h"

namespace {

class NoNotificationArea : public NotificationArea
{
public:
    bool add(const TrayIconData &, const QIcon &) override { return false; }
    bool remove(const TrayIconData &) override { return false; }
};

} // namespace

std::unique_ptr<NotificationArea> NotificationArea::create()
{
    return std::make_unique<NoNotificationArea>();
}
