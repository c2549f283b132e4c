// The recording device fake over an in-memory registry whose port list holds exactly the names
// a test sets, whatever serial devices the machine running the test has.
#pragma once

#include "FakeComPlatform.h"
#include "StoreFakePlatform.h"

#include <string>
#include <vector>

namespace cport::test {

namespace detail {
// Built before the device fake, which hands its registry calls to it.
struct TPortListStore {
    TStoreFakePlatform Store;
};
} // namespace detail

class TPortListFake : private detail::TPortListStore, public TFakeComPlatform {
public:
    TPortListFake()
        : TFakeComPlatform(&Store) {}

    // The names the port list holds, in the registry's order (the port list sorts them).
    void SetPorts(const std::vector<std::string>& ANames) {
        std::vector<std::pair<std::string, TRegValue>>& values = Store.AddKey(SerialComm).Values;
        values.clear();
        for (std::size_t i = 0; i < ANames.size(); ++i)
            values.emplace_back("\\Device\\Serial" + std::to_string(i),
                                TStoreFakePlatform::Text(ANames[i]));
    }
    // Every later reading of the port list fails with ACode.
    void FailPortList(TOsError ACode) { Fail("RegOpenKeyExW", ACode, -1); }

private:
    static constexpr const char* SerialComm = "HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM";
};

} // namespace cport::test
