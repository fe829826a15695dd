// The settings file: the integer rules, the first-line reading and what the
// written file holds.
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "firmware/SettingsFile.h"

namespace qrb {
namespace {

namespace fs = std::filesystem;

TEST(SettingsInteger, FollowsTheIntegerRules) {
    struct Case {
        const char* text;
        std::optional<int> value;
    };
    const Case cases[] = {
        {"7", 7},
        {" 7", 7},
        {"   42", 42},
        {"+5", 5},
        {"-3", -3},
        {"$1F", 31},
        {"0x1F", 31},
        {"0X1f", 31},
        {"x1F", 31},
        {"X1F", 31},
        {"-$10", -16},
        {"0", 0},
        {"007", 7},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"0x7FFFFFFF", 2147483647},
        {"", std::nullopt},
        {" ", std::nullopt},
        {"7a", std::nullopt},
        {"7 ", std::nullopt},
        {"a7", std::nullopt},
        {"1F", std::nullopt},
        {"$", std::nullopt},
        {"0x", std::nullopt},
        {"-", std::nullopt},
        {"+-1", std::nullopt},
        {"- 1", std::nullopt},
        {"$G", std::nullopt},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"0x80000000", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"1.0", std::nullopt},
        {"0b1", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseSettingsInteger(c.text), c.value) << '"' << c.text << '"';
    }
}

TEST(SettingsText, TakesTheFirstLineAndFallsBackToPortOne) {
    struct Case {
        std::string text;
        int port;
    };
    const Case cases[] = {
        {"12", 12},
        {" 7", 7},
        {"7a", 1},
        {"", 1},
        {"5\r\n9", 5},
        {"5\n9", 5},
        {"5\r9", 5},
        {"\n5", 1},
        {"3\x1A"
         "9",
         3},
        {"junk", 1},
        {std::string("4\0", 2), 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PortNumberFromSettingsText(c.text), c.port) << '"' << c.text << '"';
    }
}

class SettingsFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("qrb117-settings-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = (dir_ / "QRB117.ini").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    void Put(const std::string& content) { std::ofstream(path_, std::ios::binary) << content; }
    std::string Contents() const {
        std::ifstream in(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path dir_;
    std::string path_;
};

TEST_F(SettingsFileTest, ReadsThePortFromTheFile) {
    Put(" 7\r\n");
    int port = 0;
    ASSERT_TRUE(ReadSettings(path_, port));
    EXPECT_EQ(port, 7);

    Put("7a");
    ASSERT_TRUE(ReadSettings(path_, port));
    EXPECT_EQ(port, 1);

    Put("");
    port = 9;
    ASSERT_TRUE(ReadSettings(path_, port));
    EXPECT_EQ(port, 1);

    // A first line of blanks far longer than any read buffer still parses.
    Put(std::string(3000, ' ') + "0x0C\nrest");
    ASSERT_TRUE(ReadSettings(path_, port));
    EXPECT_EQ(port, 12);
}

TEST_F(SettingsFileTest, MissingOrUnreadableFileLeavesThePortAlone) {
    int port = 5;
    EXPECT_FALSE(ReadSettings(path_, port));
    EXPECT_EQ(port, 5);
    EXPECT_FALSE(ReadSettings(dir_.string(), port));  // a folder, not a file
    EXPECT_EQ(port, 5);
    // A FIFO with no writer would block a plain open for ever.
    ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);
    EXPECT_FALSE(ReadSettings(path_, port));
    EXPECT_EQ(port, 5);
}

TEST_F(SettingsFileTest, WritesOnlyTheDigits) {
    Put("12345\r\nold second line");
    ASSERT_TRUE(WriteSettings(path_, 7));
    EXPECT_EQ(Contents(), "7");
    ASSERT_TRUE(WriteSettings(path_, -3));
    EXPECT_EQ(Contents(), "-3");
    ASSERT_TRUE(WriteSettings(path_, 0));
    EXPECT_EQ(Contents(), "0");

    int port = 99;
    ASSERT_TRUE(WriteSettings(path_, 1234));
    ASSERT_TRUE(ReadSettings(path_, port));
    EXPECT_EQ(port, 1234);

    // Nothing but the settings file is left in the folder.
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_))
        ++entries;
    EXPECT_EQ(entries, 1);
}

TEST_F(SettingsFileTest, UnwritablePlaceGivesFalse) {
    EXPECT_FALSE(WriteSettings((dir_ / "no-such-folder" / "QRB117.ini").string(), 3));
    EXPECT_FALSE(WriteSettings(dir_.string(), 3));  // the name is a folder
    EXPECT_FALSE(WriteSettings("/proc/version", 3));
}

}  // namespace
}  // namespace qrb
