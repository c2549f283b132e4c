#include "ScratchMount.h"

#include <linux/capability.h>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace cport::test {

TScratchMount::TScratchMount(unsigned long AFlags, const std::string& AOptions) {
    char folder[] = "/tmp/quendal-mount-XXXXXX";
    if (::mkdtemp(folder) == nullptr) throw std::runtime_error("mkdtemp failed");
    FFolder = folder;
    FMounted = ::mount("quendal-test", folder, "tmpfs", AFlags,
                       AOptions.empty() ? nullptr : AOptions.c_str()) == 0;
}

TScratchMount::~TScratchMount() {
    if (FMounted) ::umount2(FFolder.c_str(), MNT_DETACH);
    std::error_code ignored;
    std::filesystem::remove_all(FFolder, ignored);
}

bool TScratchMount::RemountReadOnly() {
    return FMounted &&
           ::mount(nullptr, FFolder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

TWithoutCapability::TWithoutCapability(int ACapability) {
    if (::geteuid() != 0) return;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0) return;
    static_assert(sizeof data == sizeof FSaved);
    std::memcpy(FSaved, data, sizeof data);
    data[ACapability / 32].effective &= ~(1u << (ACapability % 32));
    FActive = ::syscall(SYS_capset, &header, data) == 0;
}

TWithoutCapability::~TWithoutCapability() {
    if (!FActive) return;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    std::memcpy(data, FSaved, sizeof data);
    ::syscall(SYS_capset, &header, data);
}

} // namespace cport::test
