#include "PosixDriver.h"
#include "PosixPlatform.h"
#include "PosixStore.h"

namespace cport {

TPosixComPlatform::TPosixComPlatform()
    : FDriver(std::make_unique<TPosixDriver>())
    , FStore(std::make_unique<TPosixStore>()) {}

TPosixComPlatform::~TPosixComPlatform() = default;

TComPlatform& TComPlatform::Native() {
    // Never destroyed: event threads of ports in static objects may still use it at exit.
    static TPosixComPlatform* const platform = new TPosixComPlatform();
    return *platform;
}

} // namespace cport
