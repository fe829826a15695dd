// COM numbers to device paths and back, with and without overrides.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "serial/ComPortNames.h"

namespace qrb {
namespace {

class ComPortNamesTest : public ::testing::Test {
  protected:
    void SetUp() override { ::unsetenv("QRB117_COMPORTS"); }
    void TearDown() override { ::unsetenv("QRB117_COMPORTS"); }
};

TEST_F(ComPortNamesTest, FixedMappingCoversThreeFamiliesOf32) {
    const struct {
        int portNo;
        const char* path;
    } cases[] = {
        {1, "/dev/ttyS0"},
        {12, "/dev/ttyS11"},
        {32, "/dev/ttyS31"},
        {33, "/dev/ttyUSB0"},
        {64, "/dev/ttyUSB31"},
        {65, "/dev/ttyACM0"},
        {96, "/dev/ttyACM31"},
        {0, ""},
        {97, ""},
        {-3, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ComPortDevicePath(c.portNo), c.path) << "COM" << c.portNo;
    }
}

TEST_F(ComPortNamesTest, OverridesAddAndReplacePorts) {
    ::setenv("QRB117_COMPORTS", "COM3=/tmp/sim0; com120 = /dev/pts/7 ;COM3=/tmp/sim1", 1);
    EXPECT_EQ(ComPortDevicePath(3), "/tmp/sim1");  // the later entry wins
    EXPECT_EQ(ComPortDevicePath(120), "/dev/pts/7");
    EXPECT_EQ(ComPortDevicePath(4), "/dev/ttyS3");
    const auto overrides = ComPortOverrides();
    ASSERT_EQ(overrides.size(), 2u);
    EXPECT_EQ(overrides.at(120), "/dev/pts/7");
}

TEST_F(ComPortNamesTest, MalformedOverrideEntriesAreSkipped) {
    const auto overrides =
        ParseComPortOverrides("COM=/a;COMx=/b;COM0=/c;COM-1=/d;COM5=;LPT1=/e;COM6/f;;COM7=/ok");
    ASSERT_EQ(overrides.size(), 1u);
    EXPECT_EQ(overrides.at(7), "/ok");
}

TEST_F(ComPortNamesTest, DeviceNamesMapBackToComNumbers) {
    const struct {
        const char* name;
        std::optional<int> portNo;
    } cases[] = {
        {"ttyS3", 4},
        {"/dev/ttyS3", 4},
        {"ttyS0", 1},
        {"ttyUSB0", 33},
        {"/dev/ttyUSB31", 64},
        {"ttyACM0", 65},
        {"ttyACM31", 96},
        {"ttyACM32", std::nullopt},
        {"ttyS", std::nullopt},
        {"ttyS1x", std::nullopt},
        {"pts/3", std::nullopt},
        {"/dev/tty", std::nullopt},
        {"ttyUSB-1", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ComPortNumberForDevice(c.name), c.portNo) << c.name;
    }
}

}  // namespace
}  // namespace qrb
