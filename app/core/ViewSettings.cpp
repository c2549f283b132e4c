#include "ViewSettings.h"

#include "CPortErrors.h"
#include "CPortStorage.h"

namespace quendal {

namespace {

constexpr const char* Names[] = {"TimeStamps", "HexView", "Chart", "Left",
                                 "Top",        "Width",   "Height"};

} // namespace

void TViewSettings::Load() {
    cport::TRegistryAccess registry;
    try {
        if (!registry.OpenKey(Key)) return;
    } catch (const std::exception&) {
        return;
    }
    std::int32_t values[] = {TimeStamps, HexView, Chart, Left, Top, Width, Height};
    for (std::size_t i = 0; i < std::size(values); ++i) {
        try {
            values[i] = registry.ReadInteger(Names[i]);
        } catch (const std::exception&) {
            // Missing (a first start) or of another kind: the window's own value stays.
        }
    }
    TimeStamps = values[0] != 0;
    HexView = values[1] != 0;
    Chart = values[2] != 0;
    Left = values[3];
    Top = values[4];
    Width = values[5];
    Height = values[6];
}

void TViewSettings::Store() const {
    const std::int32_t values[] = {TimeStamps, HexView, Chart, Left, Top, Width, Height};
    try {
        cport::TRegistryAccess registry;
        if (!registry.OpenKey(Key)) throw std::runtime_error("no key");
        for (std::size_t i = 0; i < std::size(values); ++i)
            registry.WriteInteger(Names[i], values[i]);
        registry.Release();
    } catch (const std::exception&) {
        throw cport::EComPort::CreateNoWinCode(cport::cpeStoreSettings);
    }
}

} // namespace quendal
