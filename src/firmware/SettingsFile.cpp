#include "firmware/SettingsFile.h"

#include <cstdint>
#include <limits>

#include "firmware/PlatformFiles.h"

namespace qrb {

namespace {

// A first line longer than this cannot hold a sensible port number; reading
// stops there so that a stray huge file costs no memory.
constexpr std::size_t kMaxFirstLineBytes = std::size_t{64} * 1024;

constexpr char kEndOfFileByte = 0x1A;

int DigitValue(char c, int base) {
    int value = -1;
    if (c >= '0' && c <= '9') {
        value = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
    }
    return value < base ? value : -1;
}

}  // namespace

std::optional<int> ParseSettingsInteger(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && text[pos] == ' ') {
        ++pos;
    }

    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }

    int base = 10;
    if (pos < text.size() && (text[pos] == '$' || text[pos] == 'x' || text[pos] == 'X')) {
        base = 16;
        pos += 1;
    } else if (pos + 1 < text.size() && text[pos] == '0' &&
               (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
        base = 16;
        pos += 2;
    }

    if (pos == text.size()) {
        return std::nullopt;
    }
    // The magnitude may reach 2^31 for a negative number.
    const std::int64_t limit = std::int64_t{std::numeric_limits<int>::max()} + (negative ? 1 : 0);
    std::int64_t magnitude = 0;
    for (; pos < text.size(); ++pos) {
        const int digit = DigitValue(text[pos], base);
        if (digit < 0) {
            return std::nullopt;
        }
        magnitude = magnitude * base + digit;
        if (magnitude > limit) {
            return std::nullopt;
        }
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

int PortNumberFromSettingsText(std::string_view text) {
    const std::size_t lineEnd = text.find_first_of(std::string_view("\r\n\x1A", 3));
    return ParseSettingsInteger(text.substr(0, lineEnd)).value_or(1);
}

bool ReadSettings(const std::string& path, int& comPortNumber) {
    // Only a regular file is a settings file, and a FIFO or device at the
    // path cannot hold the start-up.
    InputFile file(path, InputFile::Accept::RegularFileOnly);
    if (!file.isOpen()) {
        return false;
    }

    std::string firstLine;
    char buffer[512];
    bool lineEnded = false;
    while (!lineEnded && firstLine.size() < kMaxFirstLineBytes) {
        const std::ptrdiff_t count = file.read(buffer, sizeof buffer);
        if (count < 0) {
            return false;
        }
        if (count == 0) {
            break;
        }
        for (std::ptrdiff_t i = 0; i < count; ++i) {
            const char c = buffer[i];
            if (c == '\r' || c == '\n' || c == kEndOfFileByte) {
                lineEnded = true;
                break;
            }
            firstLine += c;
        }
    }
    comPortNumber = PortNumberFromSettingsText(firstLine);
    return true;
}

bool WriteSettings(const std::string& path, int comPortNumber) {
    // Opening for writing first keeps the rule that a file which cannot be
    // emptied (read-only) is not replaced behind its owner's back.
    OutputFile target(path);
    if (!target.isOpen()) {
        return false;
    }

    const std::string content = std::to_string(comPortNumber);
    if (target.replaceContent(content)) {
        return true;
    }

    // The folder does not let us create a file beside it: rewrite in place.
    return target.rewrite(content);
}

}  // namespace qrb
