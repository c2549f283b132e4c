#include "ComPlatform.h"

#include <atomic>

namespace cport {

namespace {
std::atomic<TComPlatform*> CurrentPlatform{nullptr};
}

TComPlatform& TComPlatform::Current() {
    TComPlatform* platform = CurrentPlatform.load(std::memory_order_acquire);
    return platform != nullptr ? *platform : Native();
}

TComPlatform* TComPlatform::SetCurrent(TComPlatform* APlatform) {
    return CurrentPlatform.exchange(APlatform, std::memory_order_acq_rel);
}

} // namespace cport
