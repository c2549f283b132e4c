// The test's own thread plays the GUI thread: these helpers serve the component's queue of
// calls for the GUI thread while a test waits, and record the application's exception reports.
#pragma once

#include "MainThread.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace cport::test {

using namespace std::chrono_literals;

// Serves the GUI thread's queue until APredicate holds or ATimeout has passed; returns whether
// it holds. Wakes when a call is queued, and at least every few milliseconds for conditions that
// other threads change without queueing anything.
bool ServeUntil(const std::function<bool()>& APredicate, std::chrono::milliseconds ATimeout = 10s);

// Waits, without serving it, until a call is queued for the GUI thread; false on timeout.
bool WaitUntilQueued(std::chrono::milliseconds ATimeout = 10s);

// Installs itself as the application's exception report for its lifetime and keeps the
// messages it is given.
class TReportRecorder {
public:
    TReportRecorder();
    ~TReportRecorder();
    TReportRecorder(const TReportRecorder&) = delete;
    TReportRecorder& operator=(const TReportRecorder&) = delete;

    std::vector<std::string> Messages() const;
    std::size_t Count() const;
    // The last exception reported; null when none was.
    std::exception_ptr Last() const;

private:
    mutable std::mutex FLock;
    std::vector<std::string> FMessages;
    std::exception_ptr FLast;
    TMainThread::TExceptionReport FPrevious;
};

} // namespace cport::test
