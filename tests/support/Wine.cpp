#include "Wine.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace cport::test {

bool RunningUnderWine() {
    static const bool wine = [] {
        const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
        return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

} // namespace cport::test
