// File-system faults for tests: a small tmpfs of a test's own (to fill, to make read-only, or
// mounted without device nodes), and giving up a capability while a test runs as root.
#pragma once

#include <string>

namespace cport::test {

class TScratchMount {
public:
    // Mounts a tmpfs with the mount flags AFlags (MS_...) and the options AOptions ("size=64k")
    // on a new folder below /tmp. Mounted() is false where this process may not mount (not
    // root, or a container without CAP_SYS_ADMIN); Folder() is then an ordinary folder.
    explicit TScratchMount(unsigned long AFlags = 0, const std::string& AOptions = {});
    // Unmounts (lazily, should a file still be open) and removes the folder.
    ~TScratchMount();
    TScratchMount(const TScratchMount&) = delete;
    TScratchMount& operator=(const TScratchMount&) = delete;

    bool Mounted() const { return FMounted; }
    const std::string& Folder() const { return FFolder; }
    // Makes the mounted file system read-only; false when that fails.
    bool RemountReadOnly();

private:
    std::string FFolder;
    bool FMounted = false;
};

// Takes ACapability (CAP_...) out of the calling thread's effective set while it exists, so
// that a test running as root meets the checks an ordinary user meets. Capabilities belong to
// a thread on Linux; the permitted set keeps it, so the destructor gives it back. Without root
// there is nothing to take, and Active() is false.
class TWithoutCapability {
public:
    explicit TWithoutCapability(int ACapability);
    ~TWithoutCapability();
    TWithoutCapability(const TWithoutCapability&) = delete;
    TWithoutCapability& operator=(const TWithoutCapability&) = delete;

    bool Active() const { return FActive; }

private:
    unsigned FSaved[6] = {};
    bool FActive = false;
};

} // namespace cport::test
