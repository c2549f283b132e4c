#include "CPortCtl.h"

#include "CPortList.h"
#include "MainThread.h"

#include <QHeaderView>
#include <QIntValidator>
#include <QLineEdit>
#include <QStandardItemModel>
#include <QStyle>
#include <QTreeView>

#include <algorithm>
#include <limits>
#include <vector>

namespace cport {

// --- TComSelect ---------------------------------------------------------------------------------

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

// --- TComComboBox -------------------------------------------------------------------------------

// The combo box's own item list, as the selector sees it.
class TComComboBox::TItems : public TComItems {
public:
    explicit TItems(QComboBox& ACombo)
        : FCombo(ACombo) {}

    void Clear() override { FCombo.clear(); }
    void Add(const std::string& AText) override { FCombo.addItem(QString::fromStdString(AText)); }
    // The description goes into a second column, which the port list's popup shows; the
    // closed box and Text show the name alone.
    void AddDescribed(const std::string& AText, const std::string& ADescription) override {
        Add(AText);
        if (ADescription.empty()) return;
        auto* model = qobject_cast<QStandardItemModel*>(FCombo.model());
        if (model == nullptr) return;
        const QString description = QString::fromStdString(ADescription);
        const int row = FCombo.count() - 1;
        model->setItem(row, 1, new QStandardItem(description));
        FCombo.setItemData(row, description, Qt::ToolTipRole);
    }
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
    TakeTypedText();
    FComSelect->ApplySettings();
}

void TComComboBox::UpdateSettings() {
    int index = currentIndex();
    FComSelect->UpdateSettings(index);
    setCurrentIndex(index);
    FTyped = false;
    FitPopup();
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
    const bool typable = AValue == cpPort || AValue == cpBaudRate;
    if (typable != isEditable()) {
        setEditable(typable);
        if (typable) {
            // Typed text stays as typed: no completion puts another port's name in its place.
            setCompleter(nullptr);
            setInsertPolicy(QComboBox::NoInsert);
            connect(lineEdit(), &QLineEdit::textEdited, this, [this] { FTyped = true; });
            connect(lineEdit(), &QLineEdit::editingFinished, this, &TComComboBox::EditingFinished);
        }
    }
    if (AValue == cpBaudRate)
        lineEdit()->setValidator(
            new QIntValidator(1, std::numeric_limits<std::int32_t>::max(), lineEdit()));
    else if (lineEdit() != nullptr)
        lineEdit()->setValidator(nullptr);
    if (AValue == cpPort && qobject_cast<QTreeView*>(view()) == nullptr) {
        // A list with two columns: the names, and beside them their descriptions.
        auto* tree = new QTreeView();
        tree->setHeaderHidden(true);
        tree->setRootIsDecorated(false);
        tree->setItemsExpandable(false);
        tree->setAllColumnsShowFocus(true);
        tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
        tree->header()->setStretchLastSection(false);
        setView(tree);
    }
    FComSelect->SetComProperty(AValue);
    FTyped = false;
    FitPopup();
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
    if (isEditable()) return currentText();
    return currentIndex() >= 0 ? itemText(currentIndex()) : QString();
}

void TComComboBox::SetText(const QString& AValue) {
    const int index = findText(AValue, Qt::MatchFixedString);
    if (index >= 0) setCurrentIndex(index);
}

void TComComboBox::Change() {
    FTyped = false;
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

void TComComboBox::EditingFinished() {
    if (!FTyped) return;
    UserPicked();
}

bool TComComboBox::TakeTypedText() {
    if (!FTyped) return false;
    Change();
    return true;
}

void TComComboBox::FitPopup() {
    auto* tree = qobject_cast<QTreeView*>(view());
    if (tree == nullptr) return;
    // The popup is as wide as the box unless its view asks for more.
    const QAbstractItemView* list = tree;
    int columns = list->sizeHintForColumn(0);
    if (model()->columnCount() > 1) columns += list->sizeHintForColumn(1);
    // Room for a vertical scroll bar, which a long list shows.
    const int scrollBar = tree->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    tree->setMinimumWidth(std::max(width(), columns + 2 * tree->frameWidth() + scrollBar));
}

void TComComboBox::PortRemoved() {
    FComSelect->SetComPort(nullptr);
    if (count() > 0) setCurrentIndex(0);
}

} // namespace cport
