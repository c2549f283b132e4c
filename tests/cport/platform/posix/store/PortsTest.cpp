#include "TempStore.h"

#include "CPortList.h"
#include "PortPublish.h"
#include "platform/posix/Ports.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace cport {
namespace {

constexpr const char* SerialComm = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

class Ports : public TempStore {
protected:
    void SetUp() override {
        TempStore::SetUp();
        Scope = std::make_unique<TScopedComPlatform>(Platform);
    }
    void TearDown() override {
        Scope.reset();
        TempStore::TearDown();
    }

    std::vector<std::string> List() {
        std::vector<std::string> list;
        ListComPorts(list);
        return list;
    }

    std::unique_ptr<TScopedComPlatform> Scope;
};

// A pseudo-terminal pair that lives as long as the object.
struct TPty {
    TPty() {
        char name[256];
        if (openpty(&Master, &Slave, name, nullptr, nullptr) == 0) Path = name;
    }
    ~TPty() {
        close(Master);
        close(Slave);
    }
    int Master = -1;
    int Slave = -1;
    std::string Path;
};

TEST_F(Ports, PublishedPtysAppearInThePortListUntilUnpublished) {
    TPty pty;
    ASSERT_FALSE(pty.Path.empty());
    EXPECT_TRUE(List().empty()) << "isolated: no system devices";
    ASSERT_EQ(PublishPort("RQ-71 simulator", pty.Path), 0u);
    EXPECT_EQ(List(), std::vector<std::string>{pty.Path});
    EXPECT_EQ(ListComPortInfo(),
              (std::vector<TComPortInfo>{{pty.Path, "RQ-71 simulator", "RQ-71 simulator"}}));
    ASSERT_EQ(PublishPort("RQ-71 simulator", pty.Path), 0u) << "publishing again replaces";
    EXPECT_EQ(List().size(), 1u);
    EXPECT_EQ(UnpublishPort("RQ-71 simulator"), 0u);
    EXPECT_EQ(UnpublishPort("RQ-71 simulator"), 0u) << "no entry is no error";
    EXPECT_TRUE(List().empty());
}

TEST_F(Ports, StoredValuesJoinThePublishedPorts) {
    THKey key = 0;
    ASSERT_EQ(Platform.RegCreateKeyExW(HKey::LocalMachine, SerialComm, key), 0u);
    ASSERT_EQ(Platform.RegSetValueExW(key, "\\Device\\Serial0", {RegType::Sz, "COM1"}), 0u);
    ASSERT_EQ(Platform.RegSetValueExW(key, "\\Device\\Serial1", {RegType::Sz, "COM1"}), 0u);
    EXPECT_EQ(Platform.RegCloseKey(key), 0u);
    TPty pty;
    ASSERT_EQ(PublishPort("sim", pty.Path), 0u);
    EXPECT_EQ(List(), (std::vector<std::string>{pty.Path, "COM1", "COM1"}));
    // The key is built when opened: an enumeration in progress is not disturbed.
    ASSERT_EQ(Platform.RegOpenKeyExW(HKey::LocalMachine, "hardware\\devicemap\\serialcomm", key),
              0u);
    ASSERT_EQ(UnpublishPort("sim"), 0u);
    std::string name;
    TRegValue value;
    EXPECT_EQ(Platform.RegEnumValueW(key, 0, 255, 256, name, value), 0u);
    EXPECT_EQ(name, "sim");
    EXPECT_EQ(value.Data, pty.Path);
    EXPECT_EQ(Platform.RegQueryValueExW(key, "\\DEVICE\\SERIAL1", value), 0u);
    EXPECT_EQ(Platform.RegCloseKey(key), 0u);
}

TEST_F(Ports, EntriesWhoseDeviceOrPublisherIsGoneAreSkipped) {
    const std::string device = Folder + "/fake-device";
    std::ofstream(device) << "";
    ASSERT_EQ(PublishPort("gone device", device), 0u);
    EXPECT_EQ(List(), std::vector<std::string>{device});
    std::filesystem::remove(device);
    EXPECT_TRUE(List().empty());

    TPty pty;
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(PublishPort("orphan", pty.Path) == 0 ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(std::filesystem::exists(Folder + "/ports/orphan.port"));
    EXPECT_TRUE(List().empty()) << "its publisher has ended";
}

TEST_F(Ports, PublishingChecksItsInputAndFolder) {
    EXPECT_EQ(PublishPort("", "/dev/null"), static_cast<TOsError>(EINVAL));
    EXPECT_EQ(PublishPort("two\nlines", "/dev/null"), static_cast<TOsError>(EINVAL));
    EXPECT_EQ(PublishPort("relative", "dev/null"), static_cast<TOsError>(EINVAL));
    EXPECT_EQ(PublishPort(std::string(256, 'n'), "/dev/null"), static_cast<TOsError>(ENAMETOOLONG));
    EXPECT_EQ(PublishPort("long", "/" + std::string(127, 'p')),
              static_cast<TOsError>(ENAMETOOLONG));
    ASSERT_EQ(PublishPort("a/b c", "/dev/null"), 0u);
    EXPECT_TRUE(std::filesystem::exists(Folder + "/ports/a%2Fb%20c.port"));
    EXPECT_EQ(List(), std::vector<std::string>{"/dev/null"});
    // A folder others could write to is not trusted.
    ASSERT_EQ(chmod((Folder + "/ports").c_str(), 0777), 0);
    EXPECT_TRUE(List().empty());
    EXPECT_EQ(PublishPort("x", "/dev/null"), static_cast<TOsError>(EACCES));
}

TEST_F(Ports, ACorruptMachineStoreFailsTheList) {
    std::ofstream(MachineFile()) << "not a store";
    std::vector<std::string> list = {"kept"};
    try {
        ListComPorts(list);
        FAIL() << "listed from a corrupt store";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), cpeRegistry);
        EXPECT_EQ(e.WinCode(), EBADMSG);
    }
    EXPECT_EQ(list, std::vector<std::string>{"kept"});
}

// A fake /sys and /dev: a pseudo-terminal carries no USB identity.
TEST_F(Ports, AdaptersAreDescribedAndFoundAgainByTheirIdentity) {
    namespace fs = std::filesystem;
    const std::string sys = Folder + "/sys";
    const std::string dev = Folder + "/dev";
    auto file = [](const std::string& APath, const std::string& AText) {
        fs::create_directories(fs::path(APath).parent_path());
        std::ofstream(APath) << AText << "\n";
    };
    // A USB adapter in port AUsb of the hub, its tty ATty, with or without a serial number.
    auto plugIn = [&](const std::string& ATty, const std::string& AUsb,
                      const std::string& ASerial) {
        const std::string usb = sys + "/devices/pci0000:00/usb1/" + AUsb;
        file(usb + "/idVendor", "0403");
        file(usb + "/idProduct", "6001");
        file(usb + "/product", "FT232R USB UART");
        file(usb + "/bNumInterfaces", " 1");
        if (!ASerial.empty()) file(usb + "/serial", ASerial);
        file(usb + "/" + AUsb + ":1.0/bInterfaceNumber", "00");
        fs::create_directories(usb + "/" + AUsb + ":1.0/" + ATty);
        fs::create_directories(sys + "/class/tty/" + ATty);
        fs::create_directory_symlink(usb + "/" + AUsb + ":1.0/" + ATty,
                                     sys + "/class/tty/" + ATty + "/device");
        file(dev + "/" + ATty, "");
    };
    plugIn("ttyUSB0", "1-1", "A50285BI");
    plugIn("ttyUSB1", "1-2", "");
    fs::create_directories(dev + "/serial/by-id");
    fs::create_symlink("../../ttyUSB1", dev + "/serial/by-id/usb-FTDI_FT232R-if00-port0");
    ::setenv(SysfsRootVariable, sys.c_str(), 1);
    ::setenv(DevRootVariable, dev.c_str(), 1);

    const std::vector<TComPortInfo> infos = ListComPortInfo();
    EXPECT_EQ(infos, (std::vector<TComPortInfo>{
                         {"ttyUSB0", "FT232R USB UART (A50285BI)", "0403:6001:A50285BI"},
                         {"ttyUSB1", "FT232R USB UART", "usb-FTDI_FT232R-if00-port0"}}));
    EXPECT_EQ(List(), (std::vector<std::string>{"ttyUSB0", "ttyUSB1"}));
    EXPECT_EQ(ComPortIdentity("/dev/ttyUSB0"), "0403:6001:A50285BI");

    // Plugged into another port, the adapter has a new name and the same identity.
    fs::remove_all(sys + "/class/tty/ttyUSB0");
    fs::remove(dev + "/ttyUSB0");
    plugIn("ttyUSB2", "1-3", "A50285BI");
    EXPECT_EQ(FindComPortByIdentity("0403:6001:A50285BI"), "ttyUSB2");
    EXPECT_EQ(ComPortIdentity("ttyUSB0"), "") << "gone";
    EXPECT_EQ(FindComPortByIdentity("0403:6001:gone"), "");
    ::unsetenv(SysfsRootVariable);
    ::unsetenv(DevRootVariable);
}

TEST(SystemPorts, OnlyTtysBackedByADeviceAreListed) {
    for (const TPortEntry& port : ListSystemPorts()) {
        EXPECT_EQ(port.Name, "/dev/" + port.Data);
        struct stat st {};
        EXPECT_EQ(lstat(("/sys/class/tty/" + port.Data + "/device").c_str(), &st), 0) << port.Data;
        EXPECT_FALSE(port.Data.starts_with("pts") || port.Data == "ptmx" || port.Data == "console")
            << port.Data;
    }
}

} // namespace
} // namespace cport
