#include "KeyLockMonitor.h"

#include "app/desktop/X11Desktop.h"

namespace {

class UnknownKeyLocks : public KeyLockMonitor
{
public:
    KeyLockState state() const override { return {}; }
};

} // namespace

std::unique_ptr<KeyLockMonitor> KeyLockMonitor::create()
{
    if (auto x11 = X11Desktop::createKeyLockMonitor())
        return x11;
    return std::make_unique<UnknownKeyLocks>();
}
