// A fixture that points the store folder variable at a fresh temporary folder for one test and
// removes the folder afterwards.
#pragma once

#include "CPort.h"
#include "platform/posix/Platform.h"
#include "platform/posix/store/Files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace cport {

class TempStore : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (BaseFolder() / "cport-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        Folder = pattern;
        setenv(StoreFolderVariable, Folder.c_str(), 1);
    }
    void TearDown() override {
        unsetenv(StoreFolderVariable);
        std::error_code ignored;
        std::filesystem::remove_all(Folder, ignored);
    }

    // Where the temporary folder is made.
    virtual std::filesystem::path BaseFolder() const {
        return std::filesystem::temp_directory_path();
    }

    std::string UserFile() const { return Folder + "/HKEY_CURRENT_USER.reg"; }
    std::string MachineFile() const { return Folder + "/HKEY_LOCAL_MACHINE.reg"; }

    std::string Folder;
    TPosixComPlatform Platform;
};

} // namespace cport
