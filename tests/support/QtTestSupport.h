// Helpers for tests of Qt widgets: waiting with a deadline while Qt's event loop runs, driving
// a modal window from inside its own event loop, and picking a combo box entry the way a user
// does.
#pragma once

#include <QComboBox>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>

namespace cport::test {

using namespace std::chrono_literals;

// Runs Qt's event loop until APredicate holds or ATimeout has passed; returns whether it holds.
bool WaitFor(const std::function<bool()>& APredicate, std::chrono::milliseconds ATimeout = 10s);

// Drives the next modal window from inside its event loop. Create it, then run the code that
// opens the modal window: AStep is called with that window every few milliseconds until it
// returns true (it has closed the window, or wants nothing more). Should the window still be
// open when ATimeout has passed, it is closed so that the test ends; Done() then stays false.
class TModalDriver : public QObject {
public:
    using TStep = std::function<bool(QWidget* AModal)>;

    explicit TModalDriver(TStep AStep, std::chrono::milliseconds ATimeout = 10s);

    // AStep returned true before the deadline.
    bool Done() const { return FDone; }
    // A modal window was seen.
    bool Seen() const { return FSeen; }

private:
    void Tick();

    TStep FStep;
    QTimer FTimer;
    std::chrono::steady_clock::time_point FDeadline;
    bool FSeen = false;
    bool FDone = false;
};

// A driver whose one step is AAction.
TModalDriver::TStep Once(std::function<void(QWidget* AModal)> AAction);
// The same, once the modal window is the active window and its first widget has the focus
// (the window system activates a new window a little after showing it).
TModalDriver::TStep OnceActive(std::function<void(QWidget* AModal)> AAction);

// Picks the entry with the text AText as a user does: opens the list, moves to the entry and
// presses Enter. Returns false when no entry has that text.
bool PickEntry(QComboBox& ACombo, const QString& AText);

} // namespace cport::test
