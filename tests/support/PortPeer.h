// Another program that opens a serial port and holds it, as a child process: pySerial with an
// exclusive lock, or a second program built on the component (cport_port_holder).
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace cport::test {

class TPortPeer {
public:
    // Starts ACommand and waits (bounded) for its one-line answer: "open", or "refused" and
    // its error codes. Throws std::runtime_error when it gives none.
    explicit TPortPeer(const std::vector<std::string>& ACommand);
    // Lets go of the port (closes the peer's input) and waits for it to end.
    ~TPortPeer();
    TPortPeer(const TPortPeer&) = delete;
    TPortPeer& operator=(const TPortPeer&) = delete;

    const std::string& Answer() const { return FAnswer; }
    pid_t Pid() const { return FPid; }
    bool Holds() const { return FAnswer == "open"; }

    // pySerial opening APath with exclusive=True; answers "refused <errno>".
    static std::vector<std::string> PySerial(const std::string& APath);
    // The component in another process; answers "refused <code> <OS code>".
    static std::vector<std::string> Component(const std::string& APath);

private:
    void Release();

    pid_t FPid = -1;
    int FInput = -1;
    std::string FAnswer;
};

} // namespace cport::test
