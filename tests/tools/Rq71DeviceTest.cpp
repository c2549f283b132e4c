#include "Rq71Device.h"

#include <gtest/gtest.h>

namespace rq71 {
namespace {

TEST(Rq71Device, AnswersEveryPollLineWithOneReading) {
    TRq71Device device(1);
    EXPECT_EQ(device.Receive("\r\n\r\n", 4).size(), 24u);
    EXPECT_TRUE(device.Receive("\n\r", 2).empty()) << "LF CR is no poll line";
    EXPECT_EQ(device.Receive("\n", 1).size(), 12u) << "the CR of the last call counts";
    EXPECT_TRUE(device.Receive("\r\r", 2).empty());
    EXPECT_EQ(device.Receive("\n", 1).size(), 12u);
    EXPECT_TRUE(device.Receive("x\nab", 4).empty());
}

TEST(Rq71Device, ReadingsAreTwelveBytesWithTheDegreeSignAsOneByte) {
    TRq71Device device(7);
    for (int i = 0; i < 1000; ++i) {
        const std::string line = device.NextReading();
        ASSERT_EQ(line.size(), 12u) << line;
        EXPECT_TRUE(line[0] == '+' || line[0] == '-');
        EXPECT_EQ(line[3], '.');
        EXPECT_EQ(line.substr(7), " \xB0"
                                  "C\r\n");
    }
}

TEST(Rq71Device, ValuesDriftSlowlyAndRepeatWithTheSeed) {
    TRq71Device a(42), b(42), c(43);
    double previous = 23.0;
    bool differs = false;
    for (int i = 0; i < 200; ++i) {
        const std::string line = a.NextReading();
        EXPECT_EQ(line, b.NextReading());
        differs = differs || line != c.NextReading();
        const double value = std::stod(line.substr(0, 7));
        EXPECT_NEAR(value, previous, 0.1) << "a reading jumps";
        previous = value;
    }
    EXPECT_TRUE(differs) << "another seed gives other readings";
}

TEST(Rq71Device, MixedNulBytesSitAfterTheSign) {
    TRq71Device device(3, true);
    const std::string line = device.NextReading();
    ASSERT_EQ(line.size(), 13u);
    EXPECT_EQ(line[1], '\0');
}

} // namespace
} // namespace rq71
