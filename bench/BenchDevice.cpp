// bench_device: the device side of the benchmarks. It opens a pseudo-terminal, prints the path
// of its serial side, waits for a line on standard input ("go"), then plays one workload on
// the terminal's master side:
//   bulk N     writes N bytes of a pattern in which every byte value occurs, as fast as the
//              terminal takes them
//   echo       answers every CR LF with a 12-byte line at once
//   trickle MS writes one 12-byte line every millisecond for MS milliseconds; each line carries
//              the time it was written (CLOCK_MONOTONIC, microseconds, 10 hex digits)
//   idle       sends nothing
// It ends when standard input closes (echo, idle) or when its workload is done.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace {

std::uint64_t NowMicroseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

bool WriteAll(int AFd, const char* AData, std::size_t ACount) {
    while (ACount > 0) {
        const ssize_t n = ::write(AFd, AData, ACount);
        if (n > 0) {
            AData += n;
            ACount -= static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd writable{AFd, POLLOUT, 0};
            ::poll(&writable, 1, 1000);
        } else if (n < 0 && errno != EINTR) {
            return false;
        }
    }
    return true;
}

void Bulk(int AMaster, std::size_t ASize) {
    std::string chunk(65536, '\0');
    for (std::size_t sent = 0; sent < ASize;) {
        const std::size_t n = std::min(chunk.size(), ASize - sent);
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t k = sent + i;
            chunk[i] = static_cast<char>((k * 7 + k / 256) & 0xFF);
        }
        if (!WriteAll(AMaster, chunk.data(), n)) return;
        sent += n;
    }
}

void Echo(int AMaster) {
    const char answer[] = "+23.456 mV\r\n"; // 12 bytes
    bool afterCR = false;
    char buffer[4096];
    for (;;) {
        pollfd fds[2] = {{AMaster, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents != 0) return;
        const ssize_t n = ::read(AMaster, buffer, sizeof buffer);
        for (ssize_t i = 0; i < n; ++i) {
            if (afterCR && buffer[i] == '\n') WriteAll(AMaster, answer, 12);
            afterCR = buffer[i] == '\r';
        }
    }
}

void Trickle(int AMaster, long AMilliseconds) {
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < AMilliseconds; ++i) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(i));
        char line[13];
        std::snprintf(line, sizeof line, "%010llx\r\n",
                      static_cast<unsigned long long>(NowMicroseconds() & 0xFFFFFFFFFFull));
        WriteAll(AMaster, line, 12);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_device bulk N | echo | trickle MS | idle\n");
        return 2;
    }
    int master = -1, slave = -1;
    char path[128] = {};
    if (::openpty(&master, &slave, path, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    std::printf("%s\n", path);
    std::fflush(stdout);
    char go[16];
    if (std::fgets(go, sizeof go, stdin) == nullptr) return 0;
    const std::string mode = argv[1];
    if (mode == "bulk" && argc > 2)
        Bulk(master, std::strtoull(argv[2], nullptr, 10));
    else if (mode == "echo")
        Echo(master);
    else if (mode == "trickle" && argc > 2)
        Trickle(master, std::strtol(argv[2], nullptr, 10));
    else if (mode == "idle")
        std::fgets(go, sizeof go, stdin);
    // Let the receiver take what is in flight before the terminal goes.
    std::fgets(go, sizeof go, stdin);
    ::close(slave);
    ::close(master);
    return 0;
}
