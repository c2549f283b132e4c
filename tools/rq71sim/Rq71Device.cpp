#include "Rq71Device.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace rq71 {

TRq71Device::TRq71Device(std::uint32_t ASeed, bool AMixNul)
    : FRandom(ASeed)
    , FMixNul(AMixNul) {}

std::string TRq71Device::Receive(const char* ABytes, std::size_t ACount) {
    std::string answer;
    for (std::size_t i = 0; i < ACount; ++i) {
        if (FAfterCR && ABytes[i] == '\n') answer += NextReading();
        FAfterCR = ABytes[i] == '\r';
    }
    return answer;
}

std::string TRq71Device::NextReading() {
    // A slow random walk with a pull back to room temperature, as a sensor in a quiet room.
    std::normal_distribution<double> step(0.0, 0.004);
    FValue += step(FRandom) + (23.0 - FValue) * 0.001;
    FValue = std::clamp(FValue, -99.999, 99.999);
    char text[16];
    std::snprintf(text, sizeof text, "%+07.3f", FValue);
    std::string line(text);
    if (FMixNul) line.insert(1, 1, '\0');
    line += " \xB0"
            "C\r\n";
    return line;
}

} // namespace rq71
