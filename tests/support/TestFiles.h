// Whole files for tests that compare what a program wrote.
#pragma once

#include <fstream>
#include <iterator>
#include <string>

namespace cport::test {

// The file's bytes; empty when it cannot be read.
inline std::string ReadFile(const std::string& APath) {
    std::ifstream file(APath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

} // namespace cport::test
