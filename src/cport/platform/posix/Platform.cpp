#include "Platform.h"
#include "HandleTable.h"
#include "Ports.h"
#include "platform/posix/store/Store.h"

#include <array>
#include <cerrno>
#include <cstring>

namespace cport {

namespace {

struct TWindowsText {
    TOsError Error;
    const char* Text;
};

// The codes with Windows values that this layer reports (see ComPlatform.h) speak as on
// Windows; 6 is also ENXIO, which no operation but opening reports, and opening leaves its
// own reason.
constexpr std::array<TWindowsText, 8> WindowsTexts = {{
    {WinError::InvalidHandle, "The handle is invalid"},
    {WinError::MoreData, "More data is available"},
    {Wait::Timeout, "The wait operation timed out"},
    {WinError::NoMoreItems, "No more data is available"},
    {WinError::OperationAborted, "The I/O operation has been aborted because of either a thread "
                                 "exit or an application request"},
    {WinError::IoIncomplete, "Overlapped I/O event is not in a signaled state"},
    {WinError::IoPending, "Overlapped I/O operation is in progress"},
    {WinError::NotFound, "Element not found"},
}};

} // namespace

TPosixComPlatform::TPosixComPlatform()
    : FDriver(std::make_unique<TPosixDriver>())
    , FStore(std::make_unique<TPosixStore>()) {}

TPosixComPlatform::~TPosixComPlatform() = default;

TComPlatform& TComPlatform::Native() {
    // Never destroyed: event threads of ports in static objects may still use it at exit.
    static TPosixComPlatform* const platform = new TPosixComPlatform();
    return *platform;
}

bool TPosixComPlatform::DescribeComPort(const std::string& /*AValueName*/, const std::string& APort,
                                        std::string& ADescription, std::string& AIdentity) {
    DescribePort(APort, ADescription, AIdentity);
    return true;
}

std::string OsErrorText(TOsError AError) {
    for (const TWindowsText& text : WindowsTexts)
        if (text.Error == AError) return text.Text;
    char buffer[256];
    // The GNU strerror_r: in the user's language where the program has set its locale.
    return ::strerror_r(static_cast<int>(AError), buffer, sizeof buffer);
}

bool IsDeviceGoneError(TOsError AError) {
    return AError == static_cast<TOsError>(EIO);
}

} // namespace cport
