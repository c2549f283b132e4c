#include "ComPlatform.h"

#include <atomic>
#include <utility>

namespace cport {

namespace {
std::atomic<TComPlatform*> CurrentPlatform{nullptr};

struct TErrorReason {
    TOsError Error = 0;
    std::string Text;
};
thread_local TErrorReason LastReason;
} // namespace

TComPlatform& TComPlatform::Current() {
    TComPlatform* platform = CurrentPlatform.load(std::memory_order_acquire);
    return platform != nullptr ? *platform : Native();
}

TComPlatform* TComPlatform::SetCurrent(TComPlatform* APlatform) {
    return CurrentPlatform.exchange(APlatform, std::memory_order_acq_rel);
}

bool TComPlatform::DescribeComPort(const std::string& AValueName, const std::string& APort,
                                   std::string& ADescription, std::string& AIdentity) {
    if (AValueName.empty()) return false;
    ADescription = AValueName;
    AIdentity = APort;
    return true;
}

std::unique_ptr<TEventWait> TComPlatform::WatchEvent(THandle /*AEvent*/,
                                                     std::function<void()> /*AWake*/) {
    return nullptr;
}

void SetErrorReason(TOsError AError, std::string AReason) {
    LastReason = {AError, std::move(AReason)};
}

void ClearErrorReason() {
    LastReason = {};
}

std::string TakeErrorReason(TOsError AError) {
    TErrorReason reason = std::move(LastReason);
    LastReason = {};
    return reason.Error == AError && AError != 0 ? std::move(reason.Text) : std::string();
}

} // namespace cport
