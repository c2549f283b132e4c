// The logger's main window on Windows: a port, a log pane that shows what the device sends, and
// the commands to configure, open and close the port, poll the device, and clear, save and load
// the log. The rules are the toolkit-free library's (Log, Connection, Prompts); this window
// only draws and forwards, as the Linux program's does.
#pragma once

#include "CPort.h"
#include "Connection.h"
#include "Log.h"
#include "LogPane.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quendal {

class TForm9;

class TForm1 {
public:
    TForm1();
    // Closes the port while the controls still exist, then nothing of the window is called.
    ~TForm1();
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    HWND Handle() const { return FHandle; }
    void Show();
    // The window that Button5 (About) shows; not owned.
    void SetAboutWindow(TForm9* AAbout) { FAbout = AAbout; }
    TLog& Log() { return FLog; }
    // At start: offers to restore the log of a run that did not end cleanly, if there is one.
    void OfferRecovery();
    // Whether a save, load or restore is still under way.
    bool Busy() const { return FSave || FLoad || FRestore; }

    // The window's components, as its form has them.
    cport::TComPort* ComPort = nullptr;
    std::unique_ptr<TLogPane> Memo;
    HWND Button_Open = nullptr;
    HWND Button_Settings = nullptr;
    HWND Edit_Data = nullptr;
    HWND Button_Send = nullptr;
    HWND NewLine_CB = nullptr;
    HWND Button1 = nullptr; // Quit
    HWND Button2 = nullptr; // Clear
    HWND Button3 = nullptr; // Load
    HWND Button4 = nullptr; // Save
    HWND Button5 = nullptr; // About
    HWND Label1 = nullptr;
    HWND CheckBox1 = nullptr; // Poll

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

private:
    static LRESULT CALLBACK WindowProc(HWND AWindow, UINT AMsg, WPARAM AWParam, LPARAM ALParam);
    LRESULT Message(UINT AMsg, WPARAM AWParam, LPARAM ALParam);
    void CreateControls();
    void LoadPortDesign();
    void Command(int AId);
    void Timer(UINT_PTR AId);
    // Runs a handler; an exception that leaves it goes to the application's exception report,
    // and the window carries on.
    void Guarded(const std::function<void()>& AHandler);
    void ShowMessage(const std::string& AText);
    void ShowFailure(const char* AMessage, const TLogTask& ATask);
    bool Ticked(HWND ABox) const;
    // Ticks or unticks the Poll box as the user would: a change runs CheckBox1Click.
    void SetPoll(bool ATicked);
    void StartTimer1();
    void StopTimer1();
    void LogChanged();
    void ConnectionChanged();
    // The file the user picks in the open or save dialog; empty when cancelled.
    std::string PickFile(bool ASave);

    HWND FHandle = nullptr;
    // Owns the port, as the form owns its components.
    cport::TComponent FComponents{nullptr};
    TForm9* FAbout = nullptr;
    TLog FLog;
    std::unique_ptr<TConnection> FConnection;
    bool FTimer1 = false;
    bool FReconnecting = false;
    bool FJournalTimer = false;
    // Messages of the journal, shown from the message loop rather than inside the port's
    // handler that logged the text.
    std::vector<std::string> FPendingMessages;
    // Declared after the log: they end before it does.
    std::unique_ptr<TSaveTask> FSave;
    std::unique_ptr<TLoadTask> FLoad;
    std::unique_ptr<TRestoreTask> FRestore;
};

} // namespace quendal
