#include "FakePlatformBase.h"

namespace cport::test {

void TFakePlatformBase::Fail(const std::string& AName, TOsError ACode, int ATimes, int ASkip) {
    const std::lock_guard lock(FFailLock);
    FFailures[AName] = {ACode, ATimes, ASkip};
}

void TFakePlatformBase::ClearFailures() {
    const std::lock_guard lock(FFailLock);
    FFailures.clear();
}

TOsError TFakePlatformBase::InjectedFailure(const std::string& AName) {
    const std::lock_guard lock(FFailLock);
    const auto it = FFailures.find(AName);
    if (it == FFailures.end()) return 0;
    TFailure& failure = it->second;
    if (failure.Skip > 0) {
        --failure.Skip;
        return 0;
    }
    if (failure.Times == 0) return 0;
    if (failure.Times > 0) --failure.Times;
    return failure.Code;
}

} // namespace cport::test
