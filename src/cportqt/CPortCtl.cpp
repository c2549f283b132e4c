#include "CPortCtl.h"

#include "MainThread.h"
#include "RemovalWatch.h"

#include <QHeaderView>
#include <QIntValidator>
#include <QLineEdit>
#include <QStandardItemModel>
#include <QStyle>
#include <QTreeView>

#include <algorithm>
#include <limits>

namespace cport {

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

TComComboBox::TComComboBox(QWidget* AParent)
    : QComboBox(AParent)
    , FComSelect(std::make_unique<TComSelect>())
    , FItems(std::make_unique<TItems>(*this))
    , FRemovalWatch(std::make_unique<TRemovalWatch>([this] { PortRemoved(); })) {
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
    FRemovalWatch->Watch(AValue);
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
