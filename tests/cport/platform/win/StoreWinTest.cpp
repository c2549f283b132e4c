// Stored settings and the port list on the system's own registry and profile functions (under
// Wine: the prefix's registry). Every test works in keys and files of its own and removes them.
#include "CPort.h"
#include "CPortList.h"

// Lean: the full header's printer functions would rename SetPort.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace cport {
namespace {

std::wstring Wide(const std::string& AText) {
    return std::wstring(AText.begin(), AText.end());
}

// A key below HKEY_CURRENT_USER\Software that only this process uses, removed at the end.
class TOwnKey {
public:
    TOwnKey()
        : FPath("Software\\QuendalTest" + std::to_string(GetCurrentProcessId())) {}
    ~TOwnKey() { RegDeleteTreeW(HKEY_CURRENT_USER, Wide(FPath).c_str()); }
    TOwnKey(const TOwnKey&) = delete;
    TOwnKey& operator=(const TOwnKey&) = delete;
    std::string Location() const { return "HKEY_CURRENT_USER\\" + FPath; }
    std::wstring Below(const std::string& AName) const { return Wide(FPath + "\\" + AName); }

private:
    std::string FPath;
};

void ChangeEverything(TCustomComPort& APort) {
    APort.SetPort("COM7");
    APort.SetBaudRate(brCustom);
    APort.SetCustomBaudRate(12345);
    APort.SetStopBits(sbTwoStopBits);
    APort.SetDataBits(dbSeven);
    APort.SetEventChar('\r');
    APort.SetDiscardNull(true);
    APort.Parity().SetBits(prMark);
    APort.Parity().SetCheck(true);
    APort.Parity().SetReplaceChar(' ');
    APort.Buffer().SetInputSize(4096);
    APort.Timeouts().SetReadTotalConstant(6);
    APort.Timeouts().SetWriteTotalMultiplier(9);
    APort.FlowControl().SetControlDTR(dtrHandshake);
    APort.FlowControl().SetXonXoffOut(true);
    APort.FlowControl().SetXoffChar('~');
}

void ExpectChanged(const TCustomComPort& APort) {
    EXPECT_EQ(APort.Port(), "COM7");
    EXPECT_EQ(APort.BaudRate(), brCustom);
    EXPECT_EQ(APort.CustomBaudRate(), 12345);
    EXPECT_EQ(APort.StopBits(), sbTwoStopBits);
    EXPECT_EQ(APort.DataBits(), dbSeven);
    EXPECT_EQ(APort.EventChar(), '\r');
    EXPECT_TRUE(APort.DiscardNull());
    EXPECT_EQ(APort.Parity().Bits(), prMark);
    EXPECT_TRUE(APort.Parity().Check());
    EXPECT_EQ(APort.Parity().ReplaceChar(), ' ');
    EXPECT_EQ(APort.Buffer().InputSize(), 4096);
    EXPECT_EQ(APort.Timeouts().ReadTotalConstant(), 6);
    EXPECT_EQ(APort.Timeouts().WriteTotalMultiplier(), 9);
    EXPECT_EQ(APort.FlowControl().ControlDTR(), dtrHandshake);
    EXPECT_TRUE(APort.FlowControl().XonXoffOut());
    EXPECT_EQ(APort.FlowControl().XoffChar(), '~');
}

TComPort& Named(TComPort& APort) {
    APort.SetName("ComPort");
    APort.SetStoredProps(TStoredProps::FromBits(0x3F));
    return APort;
}

TEST(StoreWin, TheRegistryKeepsEveryGroupWithItsValueKinds) {
    const TOwnKey key;
    TComPort stored(nullptr);
    ChangeEverything(Named(stored));
    stored.StoreSettings(stRegistry, key.Location());

    wchar_t text[64] = {};
    DWORD size = sizeof text;
    DWORD type = 0;
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, key.Below("ComPort").c_str(), L"Port", RRF_RT_ANY,
                           &type, text, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::wstring(text), L"COM7");
    DWORD rate = 0;
    size = sizeof rate;
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, key.Below("ComPort").c_str(), L"CustomBaudRate",
                           RRF_RT_ANY, &type, &rate, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(rate, 12345u);

    TComPort loaded(nullptr);
    Named(loaded).LoadSettings(stRegistry, key.Location());
    ExpectChanged(loaded);
}

TEST(StoreWin, ProfileFilesKeepEveryGroupAndTheRestOfTheFile) {
    wchar_t folder[MAX_PATH] = {};
    ASSERT_GT(GetTempPathW(MAX_PATH, folder), 0u);
    std::wstring wpath =
        std::wstring(folder) + L"quendal-" + std::to_wstring(GetCurrentProcessId()) + L".ini";
    const std::string path(wpath.begin(), wpath.end());
    std::ofstream(path, std::ios::binary) << "[Other]\r\nKeep=yes\r\n";

    TComPort stored(nullptr);
    ChangeEverything(Named(stored));
    stored.StoreSettings(stIniFile, path);
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    EXPECT_NE(text.str().find("[ComPort]"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("Port=COM7"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("Keep=yes"), std::string::npos) << text.str();

    TComPort loaded(nullptr);
    Named(loaded).LoadSettings(stIniFile, path);
    ExpectChanged(loaded);
    DeleteFileW(wpath.c_str());
}

// Reading a missing file or section leaves an error code behind, which is no failure of the
// flush that ends the load.
TEST(StoreWin, AMissingProfileFileOrSectionIsNoErrorOnLoading) {
    wchar_t folder[MAX_PATH] = {};
    ASSERT_GT(GetTempPathW(MAX_PATH, folder), 0u);
    const std::wstring wpath = std::wstring(folder) + L"quendal-missing.ini";
    const std::string path(wpath.begin(), wpath.end());
    DeleteFileW(wpath.c_str());
    TComPort port(nullptr);
    EXPECT_NO_THROW(Named(port).LoadSettings(stIniFile, path));
    std::ofstream(path, std::ios::binary) << "[Other]\r\nPort=COM3\r\n";
    EXPECT_NO_THROW(port.LoadSettings(stIniFile, path));
    EXPECT_EQ(port.Port(), "COM1");
    DeleteFileW(wpath.c_str());
}

// The system's list, seeded with names of this test's own: they come out sorted among
// whatever else the key holds.
TEST(StoreWin, ThePortListComesFromSerialCommSorted) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::wstring tag = L"\\Device\\QuendalTest" + std::to_wstring(GetCurrentProcessId());
    const std::vector<std::wstring> seeded = {L"COM210", L"com209", L"COM21"};
    for (std::size_t i = 0; i < seeded.size(); ++i) {
        const std::wstring name = tag + L"_" + std::to_wstring(i);
        RegSetValueExW(key, name.c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(seeded[i].c_str()),
                       static_cast<DWORD>((seeded[i].size() + 1) * sizeof(wchar_t)));
    }
    std::vector<std::string> list;
    ListComPorts(list);
    for (std::size_t i = 0; i < seeded.size(); ++i)
        RegDeleteValueW(key, (tag + L"_" + std::to_wstring(i)).c_str());
    RegCloseKey(key);

    std::vector<std::string> ours;
    std::copy_if(list.begin(), list.end(), std::back_inserter(ours), [](const std::string& A) {
        return A == "COM210" || A == "com209" || A == "COM21";
    });
    EXPECT_EQ(ours, (std::vector<std::string>{"com209", "COM21", "COM210"}));
}

} // namespace
} // namespace cport
