#include "PortFixture.h"

#include <fstream>
#include <sstream>
#include <thread>

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace cport {

TPortTest::~TPortTest() {
    if (Port != InvalidHandle) Platform.CloseHandle(Port);
    for (const THandle event : Events)
        Platform.CloseHandle(event);
}

TOsError TPortTest::Open(bool AOverlapped) {
    return Platform.CreateFileW("\\\\.\\" + Pty.SlavePath(), AOverlapped, Port);
}

void TPortTest::ClosePort() {
    EXPECT_EQ(Platform.CloseHandle(Port), 0u);
    Port = InvalidHandle;
}

TDCB TPortTest::Line8N1(std::uint32_t AFlags) {
    TDCB dcb;
    dcb.BaudRate = 9600;
    dcb.Flags = AFlags;
    dcb.ByteSize = 8;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return dcb;
}

void TPortTest::OpenConfigured(bool AOverlapped, const TCommTimeouts& ATimeouts,
                               std::uint32_t ADcbFlags, std::uint32_t AQueue) {
    ASSERT_EQ(Open(AOverlapped), 0u);
    ASSERT_EQ(Platform.SetupComm(Port, AQueue, AQueue), 0u);
    ASSERT_EQ(Platform.SetCommState(Port, Line8N1(ADcbFlags)), 0u);
    ASSERT_EQ(Platform.SetCommTimeouts(Port, ATimeouts), 0u);
}

THandle TPortTest::NewEvent(bool AManualReset, bool AInitialState) {
    THandle event = 0;
    EXPECT_EQ(Platform.CreateEventW(AManualReset, AInitialState, event), 0u);
    Events.push_back(event);
    return event;
}

bool TPortTest::Signalled(THandle AEvent, std::chrono::milliseconds ATimeout) {
    std::uint32_t result = 0;
    EXPECT_EQ(
        Platform.WaitForSingleObject(AEvent, static_cast<std::uint32_t>(ATimeout.count()), result),
        0u);
    return result == Wait::Object0;
}

TOsError TPortTest::Outcome(TOverlapped& ARecord, std::uint32_t& ACount) {
    return Platform.GetOverlappedResult(Port, &ARecord, ACount, false);
}

std::uint32_t TPortTest::InQueue() {
    std::uint32_t errors = 0;
    TComStat stat;
    EXPECT_EQ(Platform.ClearCommError(Port, errors, &stat), 0u);
    return stat.cbInQue;
}

bool TPortTest::AwaitInQueue(std::uint32_t ACount) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (InQueue() < ACount) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void TPortTest::StartPendingRead(TOverlapped& ARecord, void* ABuffer, std::uint32_t ACount) {
    std::uint32_t count = 0;
    ASSERT_EQ(Platform.ReadFile(Port, ABuffer, ACount, &count, &ARecord), WinError::IoPending);
    EXPECT_EQ(Outcome(ARecord, count), WinError::IoIncomplete);
}

namespace {

std::string TaskFile(pid_t AThread, const char* AName) {
    std::ostringstream path;
    path << "/proc/self/task/" << AThread << '/' << AName;
    std::ifstream file(path.str());
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace

std::uint64_t ContextSwitches(pid_t AThread) {
    std::istringstream status(TaskFile(AThread, "status"));
    std::uint64_t total = 0;
    std::string line;
    while (std::getline(status, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        const std::string key = line.substr(0, colon);
        if (key == "voluntary_ctxt_switches" || key == "nonvoluntary_ctxt_switches")
            total += std::stoull(line.substr(colon + 1));
    }
    return total;
}

bool Sleeping(pid_t AThread, std::chrono::milliseconds ATimeout) {
    const auto until = std::chrono::steady_clock::now() + ATimeout;
    while (std::chrono::steady_clock::now() < until) {
        const std::string stat = TaskFile(AThread, "stat");
        const auto close = stat.rfind(')');
        if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'S')
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

bool Started(const std::atomic<pid_t>& AThread) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (AThread == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return AThread != 0;
}

bool Eventually(const std::atomic<bool>& AFlag, std::chrono::milliseconds ATimeout) {
    const auto until = std::chrono::steady_clock::now() + ATimeout;
    while (!AFlag && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return AFlag;
}

std::chrono::microseconds ThreadCpuTime() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    const auto micros = [](const timeval& ATime) {
        return std::chrono::seconds(ATime.tv_sec) + std::chrono::microseconds(ATime.tv_usec);
    };
    return micros(usage.ru_utime) + micros(usage.ru_stime);
}

bool DropCapability(int ACapability) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    data[ACapability / 32].effective &= ~(1u << (ACapability % 32));
    return ::syscall(SYS_capset, &header, data) == 0;
}

std::string Pattern(std::size_t ACount) {
    std::string data(ACount, '\0');
    for (std::size_t i = 0; i < ACount; ++i) {
        char byte = static_cast<char>(i % 251);
        if (byte == '!') byte = '?';
        data[i] = byte;
    }
    return data;
}

} // namespace cport
