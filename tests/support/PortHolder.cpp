// cport_port_holder PATH: another program on a serial port, built on the component: opens PATH
// and holds it until its input closes. Answers one line: "open", or "refused <code> <OS code>".
#include "CPort.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: cport_port_holder PATH\n", stderr);
        return 2;
    }
    cport::TComPort port(nullptr);
    port.SetPort(argv[1]);
    port.SetEvents({}); // no event thread: nothing here would serve its hand-over
    try {
        port.Open();
    } catch (const cport::EComPort& error) {
        std::printf("refused %d %d\n", error.Code(), error.WinCode());
        return 0;
    }
    std::puts("open");
    std::fflush(stdout);
    char buffer[64];
    while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    port.Close();
    return 0;
}
