// Fuzz target: the settings file. ParseSettingsInteger against a second
// reading of the integer rules, the port number of a settings text, reading
// the text from a file, and writing a number and reading it back.
#include <charconv>
#include <climits>
#include <cstdint>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "FuzzSupport.h"
#include "firmware/SettingsFile.h"

namespace {

// Leading blanks, a sign, "$"/"x"/"X"/"0x"/"0X" for hexadecimal, then digits
// of that base up to the end, the value within the 32-bit signed range.
std::optional<int> IntegerByTheRules(std::string_view text) {
    text.remove_prefix(std::min(text.find_first_not_of(' '), text.size()));
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        base = 16;
        text.remove_prefix(2);
    } else if (!text.empty() && (text[0] == '$' || text[0] == 'x' || text[0] == 'X')) {
        base = 16;
        text.remove_prefix(1);
    }
    // from_chars takes no sign of its own for an unsigned type.
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return std::nullopt;
    std::uint64_t magnitude = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    const std::uint64_t limit = negative ? std::uint64_t{INT_MAX} + 1 : std::uint64_t{INT_MAX};
    if (magnitude > limit)
        return std::nullopt;
    return negative ? static_cast<int>(-static_cast<std::int64_t>(magnitude))
                    : static_cast<int>(magnitude);
}

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static qrb::fuzz::ScratchFile file("settings");
    const std::string_view text = qrb::fuzz::AsText(data, size);

    const std::optional<int> parsed = qrb::ParseSettingsInteger(text);
    FUZZ_CHECK(parsed == IntegerByTheRules(text), "integer differs from the integer rules");
    if (parsed) {
        FUZZ_CHECK(qrb::ParseSettingsInteger(std::to_string(*parsed)) == parsed,
                   "a number's decimal text reads back as the number");
    }

    const std::string_view firstLine = text.substr(0, text.find_first_of("\r\n\x1A"));
    const int portNumber = qrb::PortNumberFromSettingsText(text);
    FUZZ_CHECK(portNumber == IntegerByTheRules(firstLine).value_or(1),
               "port number of the settings text");

    // The reader keeps at most 64 KiB of a first line; longer inputs are
    // beyond what this check models.
    if (size < 64 * 1024) {
        file.Write(text);
        int fromFile = INT_MIN + 7;
        FUZZ_CHECK(qrb::ReadSettings(file.Path(), fromFile), "a readable settings file is read");
        FUZZ_CHECK(fromFile == portNumber, "the file gives the port number of its text");
    }

    // A number that was accepted is what the Configure dialog stores: write
    // it and read it back.
    if (parsed) {
        static const std::string settingsPath = qrb::fuzz::ProcessScratchFolder() + "/qrb117.ini";
        FUZZ_CHECK(qrb::WriteSettings(settingsPath, *parsed), "the settings file is written");
        FUZZ_CHECK(FileText(settingsPath) == std::to_string(*parsed),
                   "the file holds the decimal number and nothing else");
        int readBack = *parsed ^ 1;
        FUZZ_CHECK(qrb::ReadSettings(settingsPath, readBack) && readBack == *parsed,
                   "a written number reads back");
    }
    return 0;
}
