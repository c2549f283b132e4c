#include "CPortCtl.h"

#include <vector>

namespace cport {

// --- TComSelect ---------------------------------------------------------------------------------

namespace {

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
    std::vector<std::string> names;
    ListComPorts(names);
    for (const std::string& name : names)
        FItems->Add(name);
}

void TComSelect::SelectBaudRate() {
    Fill(FItems, BaudRateCount, BaudRateToText);
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

void TComSelect::SetComProperty(TComProperty AValue) {
    FComProperty = AValue;
    switch (FComProperty) {
    case cpNone:
        if (FItems != nullptr) FItems->Clear();
        break;
    case cpPort:
        SelectPort();
        break;
    case cpBaudRate:
        SelectBaudRate();
        break;
    case cpDataBits:
        SelectDataBits();
        break;
    case cpStopBits:
        SelectStopBits();
        break;
    case cpParity:
        SelectParity();
        break;
    case cpFlowControl:
        SelectFlowControl();
        break;
    }
}

void TComSelect::Change(const std::string& AText) {
    Store(AText);
    if (FAutoApply) ApplySettings();
}

void TComSelect::Store(const std::string& AText) {
    switch (FComProperty) {
    case cpNone:
        break;
    case cpPort:
        FPort = AText;
        break;
    case cpBaudRate:
        FBaudRate = TextToBaudRate(AText);
        break;
    case cpDataBits:
        FDataBits = TextToDataBits(AText);
        break;
    case cpStopBits:
        FStopBits = TextToStopBits(AText);
        break;
    case cpParity:
        FParity = TextToParity(AText);
        break;
    case cpFlowControl:
        FFlowControl = TextToFlowControl(AText);
        break;
    }
}

void TComSelect::UpdateSettings(int& AItemIndex) {
    if (FComPort == nullptr || FComProperty == cpNone) return;
    std::string current;
    switch (FComProperty) {
    case cpNone:
        return;
    case cpPort:
        current = FComPort->Port();
        break;
    case cpBaudRate:
        current = BaudRateToText(FComPort->BaudRate());
        break;
    case cpDataBits:
        current = DataBitsToText(FComPort->DataBits());
        break;
    case cpStopBits:
        current = StopBitsToText(FComPort->StopBits());
        break;
    case cpParity:
        current = ParityToText(FComPort->Parity().Bits());
        break;
    case cpFlowControl:
        current = FlowControlToText(FComPort->FlowControl().FlowControl());
        break;
    }
    AItemIndex = FItems != nullptr ? FItems->IndexOf(current) : -1;
    if (AItemIndex < 0) return;
    // The entry's own text is taken, not the port's: for the port name the two may differ in
    // letter case, and the list's spelling is the one the system uses.
    Store(FItems->Strings(AItemIndex));
}

void TComSelect::ApplySettings() {
    if (FComPort == nullptr) return;
    switch (FComProperty) {
    case cpNone:
        break;
    case cpPort:
        FComPort->SetPort(FPort);
        break;
    case cpBaudRate:
        FComPort->SetBaudRate(FBaudRate);
        break;
    case cpDataBits:
        FComPort->SetDataBits(FDataBits);
        break;
    case cpStopBits:
        FComPort->SetStopBits(FStopBits);
        break;
    case cpParity:
        FComPort->Parity().SetBits(FParity);
        break;
    case cpFlowControl:
        FComPort->FlowControl().SetFlowControl(FFlowControl);
        break;
    }
}

// --- TComComboBox -------------------------------------------------------------------------------

// The combo box's own item list, as the selector sees it.
class TComComboBox::TItems : public TComItems {
public:
    explicit TItems(QComboBox& ACombo)
        : FCombo(ACombo) {}

    void Clear() override { FCombo.clear(); }
    void Add(const std::string& AText) override { FCombo.addItem(QString::fromStdString(AText)); }
    int Count() const override { return FCombo.count(); }
    std::string Strings(int AIndex) const override { return FCombo.itemText(AIndex).toStdString(); }
    int IndexOf(const std::string& AText) const override {
        return FCombo.findText(QString::fromStdString(AText), Qt::MatchFixedString);
    }

private:
    QComboBox& FCombo;
};

// Hears the removal notice of the bound port on the combo box's behalf: the combo box is a Qt
// object, not a component.
class TComComboBox::TRemovalNotice : public TComponent {
public:
    explicit TRemovalNotice(TComComboBox& ACombo)
        : TComponent(nullptr)
        , FCombo(ACombo) {}

    // Asks APort (none: nobody) for its removal notice; notices about ports watched before are
    // ignored from now on.
    void Watch(TComponent* APort) {
        FWatched = APort;
        if (APort != nullptr) APort->FreeNotification(this);
    }

protected:
    void Notification(TComponent* AComponent, TOperation AOperation) override {
        TComponent::Notification(AComponent, AOperation);
        // Compared as components: by now the port's own destructor has run.
        if (AOperation != opRemove || AComponent != FWatched) return;
        FWatched = nullptr;
        FCombo.PortRemoved();
    }

private:
    TComComboBox& FCombo;
    TComponent* FWatched = nullptr;
};

TComComboBox::TComComboBox(QWidget* AParent)
    : QComboBox(AParent)
    , FComSelect(std::make_unique<TComSelect>())
    , FItems(std::make_unique<TItems>(*this))
    , FRemovalNotice(std::make_unique<TRemovalNotice>(*this)) {
    FComSelect->SetItems(FItems.get());
    setEditable(false);
    // activated, unlike currentIndexChanged, comes only from the user's picks.
    connect(this, &QComboBox::activated, this, &TComComboBox::UserPicked);
}

TComComboBox::~TComComboBox() = default;

void TComComboBox::ApplySettings() {
    FComSelect->ApplySettings();
}

void TComComboBox::UpdateSettings() {
    int index = currentIndex();
    FComSelect->UpdateSettings(index);
    setCurrentIndex(index);
}

TCustomComPort* TComComboBox::ComPort() const {
    return FComSelect->ComPort();
}

void TComComboBox::SetComPort(TCustomComPort* AValue) {
    if (AValue == FComSelect->ComPort()) return;
    FComSelect->SetComPort(AValue);
    FRemovalNotice->Watch(AValue);
    if (AValue != nullptr) UpdateSettings();
}

TComProperty TComComboBox::ComProperty() const {
    return FComSelect->ComProperty();
}

void TComComboBox::SetComProperty(TComProperty AValue) {
    FComSelect->SetComProperty(AValue);
    if (count() == 0) return;
    if (FComSelect->ComPort() == nullptr)
        setCurrentIndex(0);
    else
        UpdateSettings();
}

bool TComComboBox::AutoApply() const {
    return FComSelect->AutoApply();
}

void TComComboBox::SetAutoApply(bool AValue) {
    FComSelect->SetAutoApply(AValue);
}

QString TComComboBox::Text() const {
    return currentIndex() >= 0 ? itemText(currentIndex()) : QString();
}

void TComComboBox::SetText(const QString& AValue) {
    const int index = findText(AValue, Qt::MatchFixedString);
    if (index >= 0) setCurrentIndex(index);
}

void TComComboBox::Change() {
    FComSelect->Change(Text().toStdString());
    emit Changed();
}

void TComComboBox::UserPicked() {
    // A Qt event handler must not let an exception through; an error of the user's action
    // goes to the application's exception report instead, as any failed GUI command does.
    try {
        Change();
    } catch (...) {
        TMainThread::ShowException(std::current_exception(), FComSelect->ComPort());
    }
}

void TComComboBox::PortRemoved() {
    FComSelect->SetComPort(nullptr);
    if (count() > 0) setCurrentIndex(0);
}

} // namespace cport
