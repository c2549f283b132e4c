#include "CPort.h"
#include "CPortList.h"
#include "StoreFakePlatform.h"

#include <gtest/gtest.h>

namespace cport {
namespace {

constexpr const char* SerialComm = "HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM";

class PortList : public ::testing::Test {
protected:
    TStoreFakePlatform Fake;
    TScopedComPlatform Scope{Fake};

    void AddPorts(std::initializer_list<const char*> ANames) {
        Fake.AddKey(SerialComm);
        int n = 0;
        for (const char* name : ANames)
            Fake.SetValue(SerialComm, "\\Device\\Serial" + std::to_string(n++),
                          TStoreFakePlatform::Text(name));
    }

    // Lists into a list holding "old" and checks the error and that the list was kept.
    void ExpectRegistryError(TOsError ACode) {
        std::vector<std::string> list = {"old"};
        try {
            ListComPorts(list);
            ADD_FAILURE() << "no error";
        } catch (const EComPort& e) {
            EXPECT_EQ(e.Code(), cpeRegistry);
            EXPECT_EQ(e.WinCode(), static_cast<std::int32_t>(ACode));
            EXPECT_STREQ(e.what(), "COM Port Error: Registry error on registry read");
        }
        EXPECT_EQ(list, std::vector<std::string>{"old"});
        EXPECT_EQ(Fake.OpenKeys, 0);
    }
};

TEST_F(PortList, NamesAreSortedAsTextIgnoringCase) {
    AddPorts({"COM3", "COM1", "COM10", "com2"});
    std::vector<std::string> list = {"stale"};
    ListComPorts(list);
    EXPECT_EQ(list, (std::vector<std::string>{"COM1", "COM10", "com2", "COM3"}));
    EXPECT_EQ(Fake.OpenKeys, 0);
}

TEST_F(PortList, NamesDifferingInCaseOnlyAndDuplicatesStayTogether) {
    AddPorts({"COM2", "com1", "COM1", "COM2"});
    std::vector<std::string> list;
    ListComPorts(list);
    ASSERT_EQ(list.size(), 4u);
    // The two spellings of COM1 come first, in either order.
    EXPECT_TRUE((list[0] == "COM1" && list[1] == "com1") ||
                (list[0] == "com1" && list[1] == "COM1"))
        << list[0] << ", " << list[1];
    EXPECT_EQ(list[2], "COM2");
    EXPECT_EQ(list[3], "COM2");
}

TEST_F(PortList, AnEmptyKeyClearsTheList) {
    AddPorts({});
    std::vector<std::string> list = {"COM1", "COM2"};
    ListComPorts(list);
    EXPECT_TRUE(list.empty());
}

TEST_F(PortList, DataIsTakenAsTextUpToItsTerminator) {
    AddPorts({});
    Fake.SetValue(SerialComm, "a", TRegValue{RegType::Sz, std::string("COM7\0junk", 9)});
    std::vector<std::string> list;
    ListComPorts(list);
    EXPECT_EQ(list, std::vector<std::string>{"COM7"});
}

TEST_F(PortList, AMissingKeyRaisesTheOpenError) {
    ExpectRegistryError(WinError::FileNotFound);
}

TEST_F(PortList, OversizedNamesOrDataRaiseAndKeepTheList) {
    AddPorts({"COM1"});
    const std::string fits(127, 'p');
    Fake.SetValue(SerialComm, std::string(255, 'n'), TStoreFakePlatform::Text(fits));
    std::vector<std::string> list;
    ListComPorts(list);
    EXPECT_EQ(list.size(), 2u) << "127 characters and a 255-character name fit";

    Fake.SetValue(SerialComm, "long", TStoreFakePlatform::Text(std::string(130, 'p')));
    ExpectRegistryError(WinError::MoreData);

    Fake.AddKey(SerialComm).Values.pop_back();
    Fake.SetValue(SerialComm, std::string(256, 'n'), TStoreFakePlatform::Text("COM9"));
    ExpectRegistryError(WinError::MoreData);
}

TEST_F(PortList, AnEnumerationErrorDiscardsWhatWasRead) {
    AddPorts({"COM1", "COM2", "COM3"});
    Fake.Fail("RegEnumValueW", WinError::AccessDenied, 1, 1);
    ExpectRegistryError(WinError::AccessDenied);
}

} // namespace
} // namespace cport
