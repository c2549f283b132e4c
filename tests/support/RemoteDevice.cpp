#include "RemoteDevice.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace cport::test {

namespace {

using Clock = std::chrono::steady_clock;

std::string Environment(const char* AName) {
    const char* value = std::getenv(AName);
    if (value == nullptr || *value == '\0')
        throw std::runtime_error(std::string(AName) +
                                 " is not set: run the test through the device host (wine-run)");
    return value;
}

SOCKET Connect(char AKind) {
    const int port = std::atoi(Environment("QUENDAL_DEVICE").c_str());
    const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    if (socket == INVALID_SOCKET ||
        ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::send(socket, &AKind, 1, 0) != 1)
        throw std::runtime_error("cannot reach the device host on port " + std::to_string(port));
    // Small writes of a test must reach the device at once.
    const BOOL noDelay = TRUE;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                 sizeof noDelay);
    return socket;
}

// Waits until ASocket can be read (or written); false when ATimeout passes first.
bool Ready(SOCKET ASocket, bool AWrite, Clock::duration ATimeout) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(ASocket, &set);
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(ATimeout).count();
    timeval timeout{static_cast<long>(micros / 1000000), static_cast<long>(micros % 1000000)};
    return ::select(0, AWrite ? nullptr : &set, AWrite ? &set : nullptr, nullptr, &timeout) > 0;
}

} // namespace

TRemoteDevice::TRemoteDevice() {
    WSADATA data{};
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup failed");
    FData = Connect('D');
    FControl = Connect('C');
    u_long nonBlocking = 1;
    ::ioctlsocket(FData, FIONBIO, &nonBlocking);
}

TRemoteDevice::~TRemoteDevice() {
    ::closesocket(FData);
    ::closesocket(FControl);
    ::WSACleanup();
}

std::string TRemoteDevice::PortName() {
    return Environment("QUENDAL_PORT");
}

bool TRemoteDevice::WriteAll(const std::string& AData, std::chrono::milliseconds ATimeout) {
    const auto deadline = Clock::now() + ATimeout;
    std::size_t offset = 0;
    while (offset < AData.size()) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero() || !Ready(FData, true, left)) return false;
        const int chunk = static_cast<int>(std::min<std::size_t>(AData.size() - offset, 65536));
        const int sent = ::send(FData, AData.data() + offset, chunk, 0);
        if (sent > 0)
            offset += static_cast<std::size_t>(sent);
        else if (::WSAGetLastError() != WSAEWOULDBLOCK)
            return false;
    }
    return true;
}

std::string TRemoteDevice::ReadExactly(std::size_t ACount, std::chrono::milliseconds ATimeout) {
    const auto deadline = Clock::now() + ATimeout;
    std::string data;
    char chunk[65536];
    while (data.size() < ACount) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero() || !Ready(FData, false, left)) break;
        const int wanted = static_cast<int>(std::min(ACount - data.size(), sizeof chunk));
        const int got = ::recv(FData, chunk, wanted, 0);
        if (got > 0)
            data.append(chunk, static_cast<std::size_t>(got));
        else if (got == 0 || ::WSAGetLastError() != WSAEWOULDBLOCK)
            break;
    }
    return data;
}

std::string TRemoteDevice::ReadFor(std::chrono::milliseconds ATime) {
    return ReadExactly(static_cast<std::size_t>(-1), ATime);
}

std::string TRemoteDevice::Command(const std::string& ACommand) {
    const std::string line = ACommand + "\n";
    if (::send(FControl, line.data(), static_cast<int>(line.size()), 0) !=
        static_cast<int>(line.size()))
        throw std::runtime_error("the device host is gone");
    std::string reply;
    char c = 0;
    while (Ready(FControl, false, 10s) && ::recv(FControl, &c, 1, 0) == 1 && c != '\n')
        reply += c;
    if (c != '\n') throw std::runtime_error("no answer from the device host to " + ACommand);
    if (reply.starts_with("error")) throw std::runtime_error(ACommand + ": " + reply);
    return reply;
}

void TRemoteDevice::SetLines(const std::string& ALines) {
    Command("lines " + ALines);
}

std::string TRemoteDevice::Outputs() {
    return Command("outputs");
}

std::map<std::string, long> TRemoteDevice::Line() {
    std::istringstream words(Command("line"));
    std::map<std::string, long> line;
    std::string key;
    long value = 0;
    while (words >> key >> value)
        line[key] = value;
    return line;
}

bool TRemoteDevice::WaitUntilLinesPolled() {
    try {
        Command("polled");
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

void TRemoteDevice::HangUp() {
    Command("hangup");
}

} // namespace cport::test
