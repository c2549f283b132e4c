#include "ComMainForm.h"

#include "ChartWindow.h"
#include "LogText.h"
#include "LogView.h"
#include "Prompts.h"
#include "TaskProgress.h"

#include "MainThread.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

namespace quendal {

using namespace cport;

TForm1::TForm1(QWidget* AParent)
    : QWidget(AParent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint) {
    CreateControls();
    LoadPortDesign();
    FormCreate();
}

TForm1::~TForm1() {
    // The port closes while every control still exists, so its close notification finds the
    // button; then nothing of the window is called any more.
    FReconnectTimer.stop();
    Guarded([this] { ComPort->Close(); });
    ComPort->SetOnAfterOpen(nullptr);
    ComPort->SetOnAfterClose(nullptr);
    ComPort->SetOnRxChar(nullptr);
}

void TForm1::CreateControls() {
    setWindowTitle(QStringLiteral("Tessivo RQ-71 Logger Ver.: 1.0.2"));
    move(191, 107);
    // The size of the form is also the least it can be made.
    setMinimumSize(232, 290);
    resize(232, 290);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(192, 192, 192)); // silver
    setPalette(palette);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);

    auto button = [this](const char* ACaption, int ALeft, int ATop) {
        auto* b = new QPushButton(QString::fromLatin1(ACaption), this);
        b->setGeometry(ALeft, ATop, 75, 25);
        return b;
    };
    Memo = new TLogView(FLog, this);
    Memo->setGeometry(0, 0, 145, 257);
    Button_Settings = button("S&ettings", 152, 8);
    Button_Open = button("&Open", 152, 40);
    CheckBox1 = new QCheckBox(QStringLiteral("Poll"), this);
    CheckBox1->setGeometry(152, 80, 57, 17);
    Button2 = button("&Clear", 152, 112);
    Button4 = button("S&ave", 152, 144);
    Button3 = button("&Load", 152, 176);
    Button5 = button("A&bout", 152, 208);
    Button1 = button("&Quit", 152, 240);
    Edit_Data = new QLineEdit(this);
    Edit_Data->setGeometry(72, 256, 81, 21);
    Button_Send = button("&Send", 152, 264);
    Button_Send->setDefault(true);
    NewLine_CB = new QCheckBox(QStringLiteral("Send new line"), this);
    NewLine_CB->setGeometry(8, 264, 89, 17);
    NewLine_CB->setChecked(true);
    Label1 = new QLabel(this);
    Label1->setGeometry(40, 272, 152, 13);

    QWidget* order[] = {Memo,    Button_Settings, Button_Open, CheckBox1, Button2,     Button4,
                        Button3, Button5,         Button1,     Edit_Data, Button_Send, NewLine_CB};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    Label1->setFocusPolicy(Qt::NoFocus);

    auto fileDialog = [this](QFileDialog::AcceptMode AMode) {
        auto* dialog = new QFileDialog(this);
        dialog->setNameFilter(QStringLiteral("Text (*.txt)"));
        dialog->setAcceptMode(AMode);
        // No question before replacing a file, and a name is used as typed.
        dialog->setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontConfirmOverwrite);
        return dialog;
    };
    OpenDialog1 = fileDialog(QFileDialog::AcceptOpen);
    SaveDialog1 = fileDialog(QFileDialog::AcceptSave);

    Timer1 = new QTimer(this);
    Timer1->setInterval(350);

    auto on = [this](QPushButton* AButton, void (TForm1::*AHandler)()) {
        connect(AButton, &QPushButton::clicked, this,
                [this, AHandler] { Guarded([this, AHandler] { (this->*AHandler)(); }); });
    };
    on(Button_Open, &TForm1::Button_OpenClick);
    on(Button_Settings, &TForm1::Button_SettingsClick);
    on(Button_Send, &TForm1::Button_SendClick);
    on(Button1, &TForm1::Button1Click);
    on(Button2, &TForm1::Button2Click);
    on(Button3, &TForm1::Button3Click);
    on(Button4, &TForm1::Button4Click);
    on(Button5, &TForm1::Button5Click);
    connect(CheckBox1, &QCheckBox::toggled, this,
            [this] { Guarded([this] { CheckBox1Click(); }); });
    connect(Timer1, &QTimer::timeout, this, [this] { Guarded([this] { Button_SendClick(); }); });
}

void TForm1::LoadPortDesign() {
    // As a form loader sets a component's stored properties: while it is being loaded, then
    // Loaded, so that nothing reaches a device before every value is in place.
    ComPort = new TComPort(&FComponents);
    ComPort->SetLoading();
    SetDesignValues(*ComPort);
    ComPort->SetOnAfterOpen([this](TObject*) { ComPortOpen(); });
    ComPort->SetOnAfterClose([this](TObject*) { ComPortClose(); });
    ComPort->SetOnRxChar([this](TObject*, std::int32_t ACount) { ComPortRxChar(ACount); });
    ComPort->Loaded();
    FConnection = std::make_unique<TConnection>(*ComPort);
    FConnection->SetOnChanged([this] { ConnectionChanged(); });
    FConnection->SetOnReconnected([this] { FLog.EndLine(); });
    FConnection->SetOnPoll([this](bool ATicked) {
        if (!ATicked) Timer1->stop();
        CheckBox1->setChecked(ATicked); // its handler starts the timer on an open port
    });
    connect(&FReconnectTimer, &QTimer::timeout, this, [this] {
        FReconnectTimer.setInterval(1000);
        Guarded([this] { FConnection->Tick(); });
    });
    ConnectionChanged();
}

void TForm1::Guarded(const std::function<void()>& AHandler) {
    try {
        AHandler();
    } catch (...) {
        TMainThread::ShowException(std::current_exception(), ComPort);
    }
}

void TForm1::ShowMessage(const QString& AText) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), AText,
                    QMessageBox::Ok, this);
    box.exec();
}

void TForm1::FormCreate() {
    Button_Send->hide();
    Edit_Data->hide();
    NewLine_CB->hide();
    FLog.SetOnChanged([this] { LogChanged(); });
    FLog.SetOnJournalFailed([this](const std::string& AMessage) {
        // Shown from the event loop, not from inside the port's handler that logged the text.
        QTimer::singleShot(0, this,
                           [this, text = QString::fromStdString(AMessage)] { ShowMessage(text); });
    });
    Memo->SetOnMenu([this](QMenu& AMenu) { AddMenuEntries(AMenu); });
    FView.Load();
    ApplyViewSettings();
    FJournalTimer.setInterval(1000);
    connect(&FJournalTimer, &QTimer::timeout, this, [this] {
        FLog.Service();
        if (!FLog.NeedsService()) FJournalTimer.stop();
    });
    Guarded([this] { ComPort->LoadSettings(stRegistry, SettingsKey); });
}

void TForm1::resizeEvent(QResizeEvent* AEvent) {
    QWidget::resizeEvent(AEvent);
    LayoutControls();
}

void TForm1::LayoutControls() {
    if (Memo == nullptr) return;
    const int dx = width() - 232, dy = height() - 290;
    Memo->setGeometry(0, 0, 145 + dx, 257 + dy);
    const std::pair<QWidget*, int> column[] = {
        {Button_Settings, 8}, {Button_Open, 40}, {CheckBox1, 80}, {Button2, 112},
        {Button4, 144},       {Button3, 176},    {Button5, 208},  {Button1, 240}};
    for (const auto& [control, top] : column)
        control->move(152 + dx, top);
    Edit_Data->move(72, 256 + dy);
    Button_Send->move(152 + dx, 264 + dy);
    NewLine_CB->move(8, 264 + dy);
    Label1->setGeometry(40, 272 + dy, 152 + dx, 13);
}

void TForm1::ApplyViewSettings() {
    Memo->SetShowStamps(FView.TimeStamps);
    Memo->SetHexView(FView.HexView);
    if (FView.Chart) ShowChart();
    if (FView.Width > 0 && FView.Height > 0) {
        resize(std::max(FView.Width, minimumWidth()), std::max(FView.Height, minimumHeight()));
        move(FView.Left, FView.Top);
    }
}

void TForm1::AddMenuEntries(QMenu& AMenu) {
    AMenu.addSeparator();
    QAction* stamps = AMenu.addAction(QStringLiteral("&Time stamps"), this, [this](bool AOn) {
        Memo->SetShowStamps(AOn);
        FView.TimeStamps = AOn;
    });
    stamps->setCheckable(true);
    stamps->setChecked(Memo->ShowStamps());
    QAction* hex = AMenu.addAction(QStringLiteral("&Hex view"), this, [this](bool AOn) {
        Memo->SetHexView(AOn);
        FView.HexView = AOn;
    });
    hex->setCheckable(true);
    hex->setChecked(Memo->HexView());
    AMenu.addAction(QStringLiteral("C&hart"), this, [this] { ShowChart(); });
    AMenu.addSeparator();
    AMenu.addAction(QStringLiteral("Save &As..."), this,
                    [this] { Guarded([this] { Button4Click(); }); });
    AMenu.addAction(QStringLiteral("&Open log folder"), this, [this] { OpenLogFolder(); });
}

void TForm1::ShowChart() {
    if (!FChart) {
        FChart = std::make_unique<TChartWindow>(FLog);
        // Closing the main window ends the program, the chart's open or not.
        FChart->setAttribute(Qt::WA_QuitOnClose, false);
    }
    FChart->show();
    FChart->raise();
    FChart->activateWindow();
}

void TForm1::OpenLogFolder() {
    const QString folder = QString::fromStdString(FLog.Folder().Path());
    QDir().mkpath(folder);
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        ShowMessage(QStringLiteral("The log folder is ") + folder);
}

void TForm1::LogChanged() {
    Memo->LogChanged();
    if (FChart) FChart->LogChanged();
    if (FLog.NeedsService() && !FJournalTimer.isActive()) FJournalTimer.start();
}

void TForm1::ShowFailure(const char* AMessage, const TLogTask& ATask) {
    ShowMessage(QString::fromStdString(FailureText(AMessage, ATask)));
}

void TForm1::OfferRecovery() {
    const std::optional<TFileInfo> unended = FLog.UnendedJournal();
    if (!unended || Busy()) {
        FLog.TrimJournals();
        return;
    }
    FRestore = FLog.StartRestore(unended->Path);
    RunWithProgress(this, *FRestore, QStringLiteral("Reading the last log..."), [this, unended] {
        if (FRestore->Succeeded()) {
            const QString question = QString::fromStdString(RecoveryQuestion(*unended, *FRestore));
            QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(), question,
                            QMessageBox::Yes | QMessageBox::No, this);
            if (box.exec() == QMessageBox::Yes) {
                if (!FLog.FinishRestore(*FRestore))
                    ShowFailure("The log could not be restored.", *FRestore);
            } else {
                FLog.Forget(unended->Path);
            }
        }
        FRestore.reset();
        FLog.TrimJournals();
    });
}

void TForm1::Button_OpenClick() {
    // Opens, closes (the poll stopping first), or stops looking for a device that went away.
    FConnection->Toggle();
}

void TForm1::Button_SettingsClick() {
    ComPort->ShowSetupDialog();
    FConnection->SettingsChanged();
}

void TForm1::Button_SendClick() {
    QString text = Edit_Data->text();
    if (NewLine_CB->isChecked()) text += QStringLiteral("\r\n");
    try {
        ComPort->WriteStr(LogTextToBytes(text));
    } catch (const EComPort& e) {
        // A device that cannot be written would fail every tick: the poll stops, so the error
        // is shown once. One that went away closes the port next, and the poll comes back
        // with the device: the box stays as the user left it until then.
        Timer1->stop();
        if (!PollSurvivesWriteError(e)) CheckBox1->setChecked(false);
        throw;
    }
    FLog.PollLineFeed();
}

void TForm1::ComPortOpen() {
    // The times of lines count from here on the monotonic clock.
    FLog.AnchorClock();
    Button_Open->setText(QStringLiteral("Close"));
    FConnection->AfterOpen();
}

void TForm1::ComPortClose() {
    if (Button_Open != nullptr) Button_Open->setText(QStringLiteral("Open"));
    FConnection->AfterClose(CheckBox1->isChecked());
}

void TForm1::ConnectionChanged() {
    Label1->setText(QString::fromStdString(FConnection->StatusText()));
    // Looks for the device a moment after it went (a quick replug), then once a second while
    // it is gone; otherwise the timer sleeps.
    if (FConnection->State() == TConnection::TState::Reconnecting) {
        if (!FReconnectTimer.isActive()) FReconnectTimer.start(250);
    } else {
        FReconnectTimer.stop();
    }
}

void TForm1::ComPortRxChar(std::int32_t ACount) {
    std::string received;
    ComPort->ReadStr(received, ACount);
    FLog.Received(received);
}

void TForm1::CheckBox1Click() {
    if (CheckBox1->isChecked()) {
        if (ComPort->Connected())
            Timer1->start();
        else
            CheckBox1->setChecked(false); // runs this handler again, which stops the timer
    }
    if (!CheckBox1->isChecked()) Timer1->stop();
}

void TForm1::Button1Click() {
    ComPort->StoreSettings(stRegistry, SettingsKey);
    FView.Left = x();
    FView.Top = y();
    FView.Width = width();
    FView.Height = height();
    FView.Chart = FChart && FChart->isVisible();
    FView.Store();
    close();
}

void TForm1::Button4Click() {
    if (Busy() || SaveDialog1->exec() != QDialog::Accepted ||
        SaveDialog1->selectedFiles().isEmpty())
        return;
    // The times go into the file while the pane shows them.
    FSave = FLog.StartSave(QFile::encodeName(SaveDialog1->selectedFiles().first()).toStdString(),
                           Memo->ShowStamps() && !Memo->HexView());
    RunWithProgress(this, *FSave, QStringLiteral("Saving the log..."), [this] {
        if (!FSave->Succeeded() && !FSave->Cancelled())
            ShowFailure("Fehler beim Speichern der Datei!", *FSave);
        FSave.reset();
    });
}

void TForm1::Button3Click() {
    if (Busy() || OpenDialog1->exec() != QDialog::Accepted ||
        OpenDialog1->selectedFiles().isEmpty())
        return;
    FLoad = FLog.StartLoad(QFile::encodeName(OpenDialog1->selectedFiles().first()).toStdString());
    RunWithProgress(this, *FLoad, QStringLiteral("Loading the log..."), [this] {
        if (!FLog.FinishLoad(*FLoad) && !FLoad->Cancelled())
            ShowFailure("Fehler beim Laden der Datei!", *FLoad);
        FLoad.reset();
    });
}

void TForm1::Button5Click() {
    if (FAbout == nullptr) return;
    FAbout->show();
    FAbout->raise();
    FAbout->activateWindow();
}

void TForm1::Button2Click() {
    FLog.Clear();
}

} // namespace quendal
