// The logger's main window: a port, a log pane that shows what the device sends, and the
// commands to configure, open and close the port, poll the device, and clear, save and load
// the log.
#pragma once

#include "CPort.h"
#include "Connection.h"
#include "Log.h"
#include "PortDesign.h"
#include "ViewSettings.h"

#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QMenu;
class QFileDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace quendal {

class TChartWindow;
class TLogView;

class TForm1 : public QWidget {
    Q_OBJECT

public:
    explicit TForm1(QWidget* AParent = nullptr);
    ~TForm1() override;

    // The window that Button5 (About) shows; not owned.
    void SetAboutWindow(QWidget* AAbout) { FAbout = AAbout; }

    // The log the pane shows.
    TLog& Log() { return FLog; }
    // At start: offers to restore the log of a run that did not end cleanly (killed, crashed,
    // power lost), if there is one.
    void OfferRecovery();
    // Whether a save, load or restore is still under way.
    bool Busy() const { return FSave || FLoad || FRestore; }

    // The window's components, as its form has them.
    cport::TComPort* ComPort;
    TLogView* Memo = nullptr;
    QPushButton* Button_Open;
    QPushButton* Button_Settings;
    QLineEdit* Edit_Data;
    QPushButton* Button_Send;
    QCheckBox* NewLine_CB;
    QPushButton* Button1; // Quit
    QPushButton* Button2; // Clear
    QPushButton* Button3; // Load
    QPushButton* Button4; // Save
    QPushButton* Button5; // About
    QLabel* Label1;
    QFileDialog* OpenDialog1;
    QFileDialog* SaveDialog1;
    QCheckBox* CheckBox1; // Poll
    QTimer* Timer1;

    void FormCreate();
    void Button_OpenClick();
    void Button_SettingsClick();
    void Button_SendClick();
    void ComPortOpen();
    void ComPortClose();
    void ComPortRxChar(std::int32_t ACount);
    void Button1Click();
    void Button4Click();
    void Button3Click();
    void Button5Click();
    void Button2Click();
    void CheckBox1Click();

protected:
    void resizeEvent(QResizeEvent* AEvent) override;

private:
    void CreateControls();
    // Places the controls for the window's size: the pane grows with it, the buttons keep their
    // column at the top right and the bottom controls the bottom.
    void LayoutControls();
    void ApplyViewSettings();
    void AddMenuEntries(QMenu& AMenu);
    void OpenLogFolder();
    // Shows the chart of the log's readings (made on first use).
    void ShowChart();
    void LoadPortDesign();
    // Runs a handler; an exception that leaves it goes to the application's exception report,
    // and the window carries on.
    void Guarded(const std::function<void()>& AHandler);
    void ShowMessage(const QString& AText);
    // One of the window's fixed messages, with the file and the system's reason below it.
    void ShowFailure(const char* AMessage, const TLogTask& ATask);
    void LogChanged();
    // Shows the connection's state in the bottom line.
    void ConnectionChanged();

    // Owns the port, as the form owns its components.
    cport::TComponent FComponents{nullptr};
    QWidget* FAbout = nullptr;
    TLog FLog;
    TViewSettings FView;
    std::unique_ptr<TChartWindow> FChart;
    // The port's connection: the user's Open/Close and the search for a device that went away.
    std::unique_ptr<TConnection> FConnection;
    QTimer FReconnectTimer;
    // Writes what waits for the journal, while something does.
    QTimer FJournalTimer;
    // Declared after the log: they end before it does.
    std::unique_ptr<TSaveTask> FSave;
    std::unique_ptr<TLoadTask> FLoad;
    std::unique_ptr<TRestoreTask> FRestore;
};

} // namespace quendal
