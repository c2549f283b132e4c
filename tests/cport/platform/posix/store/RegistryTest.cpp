#include "TempStore.h"

#include "platform/posix/store/RegFile.h"

#include <cerrno>
#include <fstream>
#include <sstream>
#include <thread>

namespace cport {
namespace {

std::string ReadFile(const std::string& APath) {
    std::ifstream in(APath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& APath, const std::string& AText) {
    std::ofstream(APath, std::ios::binary) << AText;
}

TRegValue Sz(const std::string& AText) {
    return {RegType::Sz, AText};
}

using Registry = TempStore;

TEST_F(Registry, KeysAndValuesPersistInTheRootsFile) {
    THKey key = 0;
    ASSERT_EQ(Platform.RegCreateKeyExW(HKey::CurrentUser, "Software\\Test\\", key), 0u);
    ASSERT_EQ(Platform.RegSetValueExW(key, "Port", Sz("COM3")), 0u);
    EXPECT_EQ(Platform.RegCloseKey(key), 0u);
    EXPECT_EQ(ReadFile(UserFile()), "Windows Registry Editor Version 5.00\n\n"
                                    "[HKEY_CURRENT_USER\\Software]\n\n"
                                    "[HKEY_CURRENT_USER\\Software\\Test]\n"
                                    "\"Port\"=\"COM3\"\n\n");

    // Names are matched ignoring case, and a second handle sees the value.
    THKey again = 0;
    ASSERT_EQ(Platform.RegOpenKeyExW(HKey::CurrentUser, "SOFTWARE\\test", again), 0u);
    TRegValue value;
    EXPECT_EQ(Platform.RegQueryValueExW(again, "PORT", value), 0u);
    EXPECT_EQ(value.Data, "COM3");
    ASSERT_EQ(Platform.RegSetValueExW(again, "port", Sz("COM4")), 0u);
    std::string name;
    EXPECT_EQ(Platform.RegEnumValueW(again, 0, 255, 256, name, value), 0u);
    EXPECT_EQ(name, "Port") << "the first spelling is kept";
    EXPECT_EQ(value.Data, "COM4");
    EXPECT_EQ(Platform.RegEnumValueW(again, 1, 255, 256, name, value), WinError::NoMoreItems);
    EXPECT_EQ(Platform.RegCloseKey(again), 0u);
    EXPECT_FALSE(std::filesystem::exists(MachineFile())) << "the roots are separate files";
}

TEST_F(Registry, MissingThingsReportFileNotFound) {
    THKey key = 0;
    EXPECT_EQ(Platform.RegOpenKeyExW(HKey::CurrentUser, "Nowhere", key), WinError::FileNotFound);
    ASSERT_EQ(Platform.RegCreateKeyExW(HKey::CurrentUser, "Here", key), 0u);
    TRegValue value;
    EXPECT_EQ(Platform.RegQueryValueExW(key, "none", value), WinError::FileNotFound);
    std::string name;
    EXPECT_EQ(Platform.RegEnumValueW(key, 0, 255, 256, name, value), WinError::NoMoreItems);
    EXPECT_EQ(Platform.RegCloseKey(key), 0u);
}

TEST_F(Registry, BadHandlesPathsAndValuesAreRefused) {
    THKey key = 0;
    TRegValue value;
    EXPECT_EQ(Platform.RegCloseKey(12345), static_cast<TOsError>(EBADF));
    EXPECT_EQ(Platform.RegQueryValueExW(12345, "x", value), static_cast<TOsError>(EBADF));
    EXPECT_EQ(Platform.RegCreateKeyExW(HKey::CurrentUser, "\\Lead", key),
              static_cast<TOsError>(EINVAL));
    EXPECT_EQ(Platform.RegCreateKeyExW(HKey::CurrentUser, "A\\\\B", key),
              static_cast<TOsError>(EINVAL));
    ASSERT_EQ(Platform.RegCreateKeyExW(HKey::CurrentUser, "A", key), 0u);
    EXPECT_EQ(Platform.RegSetValueExW(key, "n", {RegType::DWord, "12"}),
              static_cast<TOsError>(EINVAL));
    EXPECT_EQ(Platform.RegSetValueExW(key, "line\nbreak", Sz("x")), static_cast<TOsError>(EINVAL));
    EXPECT_EQ(Platform.RegCloseKey(key), 0u);
    EXPECT_EQ(Platform.RegCloseKey(key), static_cast<TOsError>(EBADF)) << "closed once only";
}

TEST_F(Registry, KeysNestNoDeeperThanTheStoreFileCanHold) {
    std::string path = "K";
    for (std::size_t i = 1; i < MaxKeyDepth - 1; ++i)
        path += "\\K";
    THKey parent = 0;
    ASSERT_EQ(Platform.RegCreateKeyExW(HKey::CurrentUser, path, parent), 0u);
    THKey key = 0;
    EXPECT_EQ(Platform.RegCreateKeyExW(parent, "Last\\TooDeep", key),
              static_cast<TOsError>(EINVAL));
    ASSERT_EQ(Platform.RegCreateKeyExW(parent, "Last", key), 0u);
    EXPECT_EQ(Platform.RegSetValueExW(key, "v", Sz("deepest")), 0u);
    TRegValue value;
    EXPECT_EQ(Platform.RegQueryValueExW(key, "v", value), 0u) << "the store still parses";
    EXPECT_EQ(Platform.RegCloseKey(key), 0u);
    EXPECT_EQ(Platform.RegCloseKey(parent), 0u);
}

TEST_F(Registry, EnumerationReportsOversizedNamesAndData) {
    THKey key = 0;
    ASSERT_EQ(Platform.RegCreateKeyExW(HKey::CurrentUser, "E", key), 0u);
    ASSERT_EQ(Platform.RegSetValueExW(key, "fits", Sz(std::string(127, 'x'))), 0u);
    ASSERT_EQ(Platform.RegSetValueExW(key, "data", Sz(std::string(128, 'x'))), 0u);
    ASSERT_EQ(Platform.RegSetValueExW(key, std::string(256, 'n'), Sz("x")), 0u);
    std::string name;
    TRegValue value;
    EXPECT_EQ(Platform.RegEnumValueW(key, 0, 255, 256, name, value), 0u);
    EXPECT_EQ(Platform.RegEnumValueW(key, 1, 255, 256, name, value), WinError::MoreData);
    EXPECT_EQ(Platform.RegEnumValueW(key, 2, 255, 256, name, value), WinError::MoreData);
    EXPECT_EQ(Platform.RegCloseKey(key), 0u);
}

TEST_F(Registry, HandlesWorkFromManyThreads) {
    constexpr int Threads = 4;
    constexpr int Rounds = 25;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < Rounds; ++i) {
                THKey key = 0;
                if (Platform.RegCreateKeyExW(HKey::CurrentUser, "T\\" + std::to_string(t), key) !=
                        0 ||
                    Platform.RegSetValueExW(key, std::to_string(i), Sz("v")) != 0 ||
                    Platform.RegCloseKey(key) != 0)
                    ++failures;
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    const auto tree = ParseRegFile(ReadFile(UserFile()), "HKEY_CURRENT_USER");
    ASSERT_TRUE(tree);
    for (int t = 0; t < Threads; ++t) {
        const TRegKey* key = tree->Find({"T", std::to_string(t)});
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(key->Values.size(), static_cast<std::size_t>(Rounds)) << "no write was lost";
    }
}

TEST_F(Registry, ACorruptStoreFailsReadsAndIsKeptAsideByTheNextWrite) {
    const std::string garbage = "this is no registry file\n";
    WriteFile(UserFile(), garbage);
    THKey key = 0;
    EXPECT_EQ(Platform.RegOpenKeyExW(HKey::CurrentUser, "A", key), static_cast<TOsError>(EBADMSG));
    // Creating hands out a handle but creates nothing: the failure shows at the first read.
    ASSERT_EQ(Platform.RegCreateKeyExW(HKey::CurrentUser, "A", key), 0u);
    TRegValue value;
    EXPECT_EQ(Platform.RegQueryValueExW(key, "v", value), static_cast<TOsError>(EBADMSG));
    EXPECT_EQ(ReadFile(UserFile()), garbage) << "reading changes nothing";

    ASSERT_EQ(Platform.RegSetValueExW(key, "v", Sz("new")), 0u);
    EXPECT_EQ(ReadFile(UserFile() + ".corrupt"), garbage);
    EXPECT_EQ(Platform.RegQueryValueExW(key, "v", value), 0u);
    EXPECT_EQ(value.Data, "new");

    WriteFile(UserFile(), "second breakage");
    ASSERT_EQ(Platform.RegSetValueExW(key, "v", Sz("newer")), 0u);
    EXPECT_EQ(ReadFile(UserFile() + ".corrupt"), garbage) << "an earlier copy is never replaced";
    EXPECT_EQ(ReadFile(UserFile() + ".1.corrupt"), "second breakage");
    EXPECT_EQ(Platform.RegCloseKey(key), 0u);
}

TEST_F(Registry, ACorruptStoreFailsLoadingUntilAStoreReplacesIt) {
    TScopedComPlatform scope(Platform);
    WriteFile(UserFile(), "[broken");
    TComPort port(nullptr);
    port.SetName("ComPort");
    try {
        port.LoadSettings(stRegistry, "HKEY_CURRENT_USER\\Software\\Q");
        FAIL() << "loaded from a corrupt store";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), cpeLoadSettings);
    }
    EXPECT_EQ(port.Port(), "COM1") << "nothing was applied";
    port.SetPort("COM9");
    port.StoreSettings(stRegistry, "HKEY_CURRENT_USER\\Software\\Q");
    EXPECT_EQ(ReadFile(UserFile() + ".corrupt"), "[broken");
    TComPort loaded(nullptr);
    loaded.SetName("ComPort");
    loaded.LoadSettings(stRegistry, "HKEY_CURRENT_USER\\Software\\Q");
    EXPECT_EQ(loaded.Port(), "COM9");
}

TEST_F(Registry, AStoreThatCannotBeWrittenFailsWithTheStoreCode) {
    TScopedComPlatform scope(Platform);
    // Running as root ignores permissions; a regular file where the folder should be does not.
    const std::string blocker = Folder + "/file";
    WriteFile(blocker, "");
    setenv(StoreFolderVariable, blocker.c_str(), 1);
    THKey key = 0;
    EXPECT_EQ(Platform.RegCreateKeyExW(HKey::CurrentUser, "A", key),
              static_cast<TOsError>(ENOTDIR));
    TComPort port(nullptr);
    port.SetName("ComPort");
    try {
        port.StoreSettings(stRegistry, "HKEY_CURRENT_USER\\Software\\Q");
        FAIL() << "stored into a file";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), cpeStoreSettings);
    }
}

TEST_F(Registry, ComponentSettingsRoundTripThroughTheFile) {
    TScopedComPlatform scope(Platform);
    TComPort port(nullptr);
    port.SetName("ComPort");
    port.SetStoredProps(TStoredProps::FromBits(0x3F));
    port.SetPort("/dev/pts/7");
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(250000);
    port.SetEventChar('\n');
    port.Timeouts().SetReadInterval(-1);
    port.StoreSettings(stRegistry, "HKEY_LOCAL_MACHINE\\Software\\Q");
    const std::string text = ReadFile(MachineFile());
    EXPECT_NE(text.find("\"CustomBaudRate\"=dword:0003d090\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Timeouts.ReadInterval\"=dword:ffffffff\n"), std::string::npos);
    EXPECT_NE(text.find("\"EventChar\"=\"#10\"\n"), std::string::npos);
    TComPort loaded(nullptr);
    loaded.SetName("ComPort");
    loaded.SetStoredProps(TStoredProps::FromBits(0x3F));
    loaded.Timeouts().SetReadInterval(3);
    loaded.LoadSettings(stRegistry, "hkey_local_machine\\SOFTWARE\\q");
    EXPECT_EQ(loaded.Port(), "/dev/pts/7");
    EXPECT_EQ(loaded.CustomBaudRate(), 250000);
    EXPECT_EQ(loaded.EventChar(), '\n');
    EXPECT_EQ(loaded.Timeouts().ReadInterval(), -1);
}

TEST(StoreLocations, FollowTheXdgFoldersWithoutTheVariable) {
    unsetenv(StoreFolderVariable);
    const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
    const char* oldRuntime = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedConfig = oldConfig ? oldConfig : "";
    const std::string savedRuntime = oldRuntime ? oldRuntime : "";
    setenv("XDG_CONFIG_HOME", "/cfg", 1);
    setenv("XDG_RUNTIME_DIR", "/run/user/1", 1);
    TStoreLocations places = CurrentStoreLocations();
    EXPECT_EQ(places.UserFile, "/cfg/cport/HKEY_CURRENT_USER.reg");
    EXPECT_EQ(places.IniFolder, "/cfg/cport");
    EXPECT_EQ(places.PortsFolder, "/run/user/1/cport/ports");
    EXPECT_FALSE(places.Isolated);
    setenv("XDG_CONFIG_HOME", "relative/is/ignored", 1);
    unsetenv("XDG_RUNTIME_DIR");
    places = CurrentStoreLocations();
    EXPECT_TRUE(places.UserFile.ends_with("/.config/cport/HKEY_CURRENT_USER.reg"));
    EXPECT_EQ(places.PortsFolder, "/tmp/cport-" + std::to_string(getuid()) + "/ports");
    oldConfig ? setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
    oldRuntime ? setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1) : unsetenv("XDG_RUNTIME_DIR");
}

} // namespace
} // namespace cport
