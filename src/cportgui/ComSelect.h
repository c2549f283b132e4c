// The toolkit-free half of the property selectors, shared by every GUI side of the component
// (cportqt, cportwin): TComSelect fills a list with the values of one port setting and converts
// between the list and the port; the control that shows the list gives it a TComItems.
#pragma once

#include "CPort.h"

#include <cstdint>
#include <string>

namespace cport {

// The setting a selector serves.
enum TComProperty : std::uint8_t {
    cpNone,
    cpPort,
    cpBaudRate,
    cpDataBits,
    cpStopBits,
    cpParity,
    cpFlowControl
};

// The list of texts a selector fills. It belongs to the control that shows it.
class TComItems {
public:
    TComItems() = default;
    TComItems(const TComItems&) = delete;
    TComItems& operator=(const TComItems&) = delete;
    virtual ~TComItems() = default;

    virtual void Clear() = 0;
    virtual void Add(const std::string& AText) = 0;
    // Adds AText with a description shown beside it; a list without room for one adds the
    // text alone.
    virtual void AddDescribed(const std::string& AText, const std::string& /*ADescription*/) {
        Add(AText);
    }
    virtual int Count() const = 0;
    virtual std::string Strings(int AIndex) const = 0;
    // The index of the entry equal to AText when letter case is ignored; -1 when there is none.
    virtual int IndexOf(const std::string& AText) const = 0;
};

// Holds the value chosen for one setting of a port, fills its list with every value the setting
// can take, and moves the value between the list and the port.
class TComSelect : public TObject {
public:
    // The fills: each empties Items and adds the text forms of one setting in ordinal order;
    // SelectPort adds the system's port names, sorted, each with its description, and passes
    // on EComPort code 23 from the port list (the list then stays empty); SelectBaudRate adds
    // the named rates from 110 up and 230400, 460800 and 921600, in ascending order (a rate
    // of another value is typed). They do nothing without Items.
    void SelectPort();
    void SelectBaudRate();
    void SelectDataBits();
    void SelectStopBits();
    void SelectParity();
    void SelectFlowControl();

    // Stores the value of the picked or typed text (the text itself for the port; for the
    // baud rate a named rate's text or number, any other positive number as brCustom with
    // that CustomBaudRate, while text that is no rate stores nothing), then applies it when
    // AutoApply is set; the port's setters' errors pass out.
    void Change(const std::string& AText);
    // Looks up the bound port's current value in Items and gives back its index, -1 when it is
    // not listed; a listed value becomes the chosen one. A port name or a rate (brCustom shows
    // its CustomBaudRate) that is not listed is added to Items first, the port name marked as
    // not present, so that applying never changes a value the user did not touch; only an
    // empty port name stays unlisted. Without a port, or for cpNone, nothing happens and
    // AItemIndex keeps what it came with.
    void UpdateSettings(int& AItemIndex);
    // Writes the chosen value into the bound port through its ordinary setter (so an open port
    // is reconfigured, or reopened for a new name); errors of the setter pass out. Without a
    // port, or for cpNone, nothing happens.
    void ApplySettings();

    TComItems* Items() const { return FItems; }
    void SetItems(TComItems* AValue) { FItems = AValue; }
    TComProperty ComProperty() const { return FComProperty; }
    // Stores the setting, then refills Items with its values (cpNone only empties them).
    void SetComProperty(TComProperty AValue);
    TCustomComPort* ComPort() const { return FComPort; }
    void SetComPort(TCustomComPort* AValue) { FComPort = AValue; }
    bool AutoApply() const { return FAutoApply; }
    void SetAutoApply(bool AValue) { FAutoApply = AValue; }

private:
    struct TWays;
    // How the served setting is filled, stored, shown and applied; null for cpNone.
    static const TWays* Ways(TComProperty AProperty);
    // Stores the value of AText in the field of the served setting.
    void Store(const std::string& AText);
    void StoreBaudRate(const std::string& AText);
    // The bound port's value as the list shows it.
    std::string PortValueText() const;

    // A new selector has every field zero: empty port text, brCustom, dbFive and so on.
    std::string FPort;
    TBaudRate FBaudRate = brCustom;
    std::int32_t FCustomBaudRate = 0; // with brCustom; 0 keeps the port's
    TDataBits FDataBits = dbFive;
    TStopBits FStopBits = sbOneStopBit;
    TParityBits FParity = prNone;
    TFlowControl FFlowControl = fcHardware;
    TComItems* FItems = nullptr;
    TComProperty FComProperty = cpNone;
    TCustomComPort* FComPort = nullptr;
    bool FAutoApply = false;
};

} // namespace cport
