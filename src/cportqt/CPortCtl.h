// Property selectors: drop-down lists bound to one setting of one port. TComSelect fills a list
// with the values of a setting and converts between the list and the port; TComComboBox is the
// control that owns one and hands it its item list and the user's picks. The port name and the
// baud rate may also be typed, since neither list can hold every value a port may have.
#pragma once

#include "CPort.h"

#include <QComboBox>

#include <cstdint>
#include <memory>
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

// A drop-down list bound to one setting of one port. It shows the port's value when bound,
// takes the user's picks into its selector, and writes them to the port when asked or, with
// AutoApply, at once. When the bound port is destroyed the binding is cleared. For cpPort and
// cpBaudRate the user may also type a value (a path, a rate in digits); typed text reaches the
// selector like a pick when editing ends (Enter, or the focus leaves), and at the latest when
// ApplySettings runs. The port list shows each port's description beside its name.
class TComComboBox : public QComboBox {
    Q_OBJECT

public:
    explicit TComComboBox(QWidget* AParent = nullptr);
    ~TComComboBox() override;

    // Hands typed text not yet taken to the selector, then the selector's ApplySettings.
    void ApplySettings();
    // The selector's UpdateSettings, then selects the index it gives back; when it gives none
    // back (no port, cpNone) the current selection stays.
    void UpdateSettings();

    TCustomComPort* ComPort() const;
    // Binding a port asks it for a removal notice and shows its value; binding none only
    // clears the binding.
    void SetComPort(TCustomComPort* AValue);
    TComProperty ComProperty() const;
    // Refills the list; then selects the first entry when no port is bound, or the port's
    // value. Passes on EComPort code 23 from the port list.
    void SetComProperty(TComProperty AValue);
    bool AutoApply() const;
    void SetAutoApply(bool AValue);
    // The selected entry's text, or what is typed; empty when none is selected.
    QString Text() const;
    // Selects the entry equal to AValue when letter case is ignored; nothing when none is.
    void SetText(const QString& AValue);

signals:
    // After the user picked an entry and the selector has taken it.
    void Changed();

protected:
    // The user picked an entry: passes its text to the selector (which applies it with
    // AutoApply), then emits Changed. Selections made by the program never come here.
    virtual void Change();

private:
    class TItems;
    class TRemovalNotice;

    void UserPicked();
    void EditingFinished();
    // Passes typed text to the selector as a pick; false when nothing new was typed.
    bool TakeTypedText();
    void PortRemoved();
    // Shows the port list with its descriptions wide enough.
    void FitPopup();

    std::unique_ptr<TComSelect> FComSelect;
    std::unique_ptr<TItems> FItems;
    std::unique_ptr<TRemovalNotice> FRemovalNotice;
    bool FTyped = false; // the user typed since the selector last took a value
};

} // namespace cport
