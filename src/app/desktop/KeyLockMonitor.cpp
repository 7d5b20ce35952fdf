#include "KeyLockMonitor.h"

namespace {

class UnknownKeyLocks : public KeyLockMonitor
{
public:
    KeyLockState state() const override { return {}; }
};

} // namespace

std::unique_ptr<KeyLockMonitor> KeyLockMonitor::create()
{
    return std::make_unique<UnknownKeyLocks>();
}
