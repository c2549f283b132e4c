#include "ComSelect.h"

#include "CPortList.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace cport {

namespace {

// Beside a port name that the port list does not hold.
constexpr const char* NotPresent = "not present";
// Rates that adapters commonly run at beyond the named ones.
constexpr std::uint32_t FastRates[] = {230400, 460800, 921600};

// A rate in plain decimal digits, from 1 to the largest CustomBaudRate; 0 for anything else.
std::int32_t ParseRate(const std::string& AText) {
    if (AText.empty() || AText.size() > 10) return 0;
    std::int64_t value = 0;
    for (const char c : AText) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
    }
    return value <= std::numeric_limits<std::int32_t>::max() ? static_cast<std::int32_t>(value) : 0;
}

template <typename TEnum>
void Fill(TComItems* AItems, int ACount, std::string (*AToText)(TEnum)) {
    if (AItems == nullptr) return;
    AItems->Clear();
    for (int i = 0; i < ACount; ++i)
        AItems->Add(AToText(static_cast<TEnum>(i)));
}

} // namespace

void TComSelect::SelectPort() {
    if (FItems == nullptr) return;
    // Emptied first, so that a port list that cannot be read leaves no stale names behind.
    FItems->Clear();
    for (const TComPortInfo& port : ListComPortInfo())
        FItems->AddDescribed(port.Name, port.Description);
}

void TComSelect::SelectBaudRate() {
    if (FItems == nullptr) return;
    FItems->Clear();
    // brCustom has no rate of its own: a rate outside the list is typed.
    std::vector<std::uint32_t> rates(std::begin(FastRates), std::end(FastRates));
    for (int rate = br110; rate < BaudRateCount; ++rate)
        rates.push_back(BaudRateToValue(static_cast<TBaudRate>(rate)));
    std::sort(rates.begin(), rates.end());
    for (const std::uint32_t rate : rates)
        FItems->Add(std::to_string(rate));
}

void TComSelect::SelectDataBits() {
    Fill(FItems, DataBitsCount, DataBitsToText);
}

void TComSelect::SelectStopBits() {
    Fill(FItems, StopBitsCount, StopBitsToText);
}

void TComSelect::SelectParity() {
    Fill(FItems, ParityBitsCount, ParityToText);
}

void TComSelect::SelectFlowControl() {
    Fill(FItems, FlowControlCount, FlowControlToText);
}

// What differs between the settings a selector serves: the fill of its list, how a picked text
// is stored, the port's value as the list shows it, and how the stored value reaches the port.
struct TComSelect::TWays {
    void (TComSelect::*Fill)();
    void (*Store)(TComSelect&, const std::string&);
    std::string (*PortText)(const TCustomComPort&);
    void (*Apply)(const TComSelect&, TCustomComPort&);
};

const TComSelect::TWays* TComSelect::Ways(TComProperty AProperty) {
    using S = TComSelect;
    using P = TCustomComPort;
    using T = std::string;
    // In the order of TComProperty, from cpPort.
    static const TWays ways[] = {
        {&S::SelectPort, [](S& A, const T& V) { A.FPort = V; }, [](const P& A) { return A.Port(); },
         [](const S& A, P& B) { B.SetPort(A.FPort); }},
        {&S::SelectBaudRate, [](S& A, const T& V) { A.StoreBaudRate(V); },
         [](const P& A) {
             return A.BaudRate() == brCustom ? std::to_string(A.CustomBaudRate())
                                             : BaudRateToText(A.BaudRate());
         },
         [](const S& A, P& B) {
             if (A.FBaudRate == brCustom && A.FCustomBaudRate > 0)
                 B.SetCustomBaudRate(A.FCustomBaudRate);
             B.SetBaudRate(A.FBaudRate);
         }},
        {&S::SelectDataBits, [](S& A, const T& V) { A.FDataBits = TextToDataBits(V); },
         [](const P& A) { return DataBitsToText(A.DataBits()); },
         [](const S& A, P& B) { B.SetDataBits(A.FDataBits); }},
        {&S::SelectStopBits, [](S& A, const T& V) { A.FStopBits = TextToStopBits(V); },
         [](const P& A) { return StopBitsToText(A.StopBits()); },
         [](const S& A, P& B) { B.SetStopBits(A.FStopBits); }},
        {&S::SelectParity, [](S& A, const T& V) { A.FParity = TextToParity(V); },
         [](const P& A) { return ParityToText(A.Parity().Bits()); },
         [](const S& A, P& B) { B.Parity().SetBits(A.FParity); }},
        {&S::SelectFlowControl, [](S& A, const T& V) { A.FFlowControl = TextToFlowControl(V); },
         [](const P& A) { return FlowControlToText(A.FlowControl().FlowControl()); },
         [](const S& A, P& B) { B.FlowControl().SetFlowControl(A.FFlowControl); }},
    };
    if (AProperty == cpNone) return nullptr;
    return &ways[AProperty - cpPort];
}

void TComSelect::SetComProperty(TComProperty AValue) {
    FComProperty = AValue;
    if (const TWays* ways = Ways(FComProperty))
        (this->*ways->Fill)();
    else if (FItems != nullptr)
        FItems->Clear();
}

void TComSelect::Change(const std::string& AText) {
    Store(AText);
    if (FAutoApply) ApplySettings();
}

void TComSelect::Store(const std::string& AText) {
    if (const TWays* ways = Ways(FComProperty)) ways->Store(*this, AText);
}

void TComSelect::StoreBaudRate(const std::string& AText) {
    if (TextToBaudRate(AText) == brCustom) {
        FBaudRate = brCustom;
        FCustomBaudRate = 0;
        return;
    }
    const std::int32_t rate = ParseRate(AText);
    if (rate == 0) return; // no rate: the chosen one stays
    for (int named = br110; named < BaudRateCount; ++named) {
        if (BaudRateToValue(static_cast<TBaudRate>(named)) == static_cast<std::uint32_t>(rate)) {
            FBaudRate = static_cast<TBaudRate>(named);
            return;
        }
    }
    FBaudRate = brCustom;
    FCustomBaudRate = rate;
}

std::string TComSelect::PortValueText() const {
    const TWays* ways = Ways(FComProperty);
    return ways != nullptr ? ways->PortText(*FComPort) : std::string();
}

void TComSelect::UpdateSettings(int& AItemIndex) {
    if (FComPort == nullptr || FComProperty == cpNone) return;
    const std::string current = PortValueText();
    AItemIndex = FItems != nullptr ? FItems->IndexOf(current) : -1;
    // Listed, so that applying keeps it: an adapter that is unplugged, a terminal that was
    // not published, a rate that was typed.
    const bool typable = FComProperty == cpPort || FComProperty == cpBaudRate;
    if (AItemIndex < 0 && FItems != nullptr && typable && !current.empty()) {
        FItems->AddDescribed(current, FComProperty == cpPort ? NotPresent : "");
        AItemIndex = FItems->Count() - 1;
    }
    if (AItemIndex < 0) return;
    // The entry's own text is taken, not the port's: for the port name the two may differ in
    // letter case, and the list's spelling is the one the system uses.
    Store(FItems->Strings(AItemIndex));
}

void TComSelect::ApplySettings() {
    if (FComPort == nullptr) return;
    if (const TWays* ways = Ways(FComProperty)) ways->Apply(*this, *FComPort);
}

} // namespace cport
