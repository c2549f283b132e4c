// Property selectors: drop-down lists bound to one setting of one port. TComSelect fills a list
// with the values of a setting and converts between the list and the port; TComComboBox is the
// control that owns one and hands it its item list and the user's picks. The port name and the
// baud rate may also be typed, since neither list can hold every value a port may have.
#pragma once

#include "ComSelect.h"

#include <QComboBox>

#include <memory>

namespace cport {

class TRemovalWatch;

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

    void UserPicked();
    void EditingFinished();
    // Passes typed text to the selector as a pick; false when nothing new was typed.
    bool TakeTypedText();
    void PortRemoved();
    // Shows the port list with its descriptions wide enough.
    void FitPopup();

    std::unique_ptr<TComSelect> FComSelect;
    std::unique_ptr<TItems> FItems;
    std::unique_ptr<TRemovalWatch> FRemovalWatch;
    bool FTyped = false; // the user typed since the selector last took a value
};

} // namespace cport
