// Test data for transfers.
#pragma once

#include <cstddef>
#include <string>

namespace cport::test {

// ASize bytes in which every byte value occurs, so that nothing is translated unnoticed.
inline std::string Pattern(std::size_t ASize) {
    std::string data(ASize, '\0');
    for (std::size_t i = 0; i < ASize; ++i)
        data[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return data;
}

} // namespace cport::test
