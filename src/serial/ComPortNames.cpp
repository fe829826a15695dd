// COM port numbers: the overrides of QRB117_COMPORTS, common to all platforms.
#include "serial/ComPortNames.h"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <string_view>

namespace qrb {
namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    return text;
}

bool StartsWithComIgnoringCase(std::string_view text) {
    return text.size() >= 3 && std::toupper(static_cast<unsigned char>(text[0])) == 'C' &&
           std::toupper(static_cast<unsigned char>(text[1])) == 'O' &&
           std::toupper(static_cast<unsigned char>(text[2])) == 'M';
}

}  // namespace

std::optional<int> ParseDecimalIndex(std::string_view digits) {
    if (digits.empty() || digits.size() > 9 ||
        !std::isdigit(static_cast<unsigned char>(digits[0]))) {
        return std::nullopt;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc{} || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return value;
}

std::map<int, std::string> ParseComPortOverrides(const std::string& value) {
    std::map<int, std::string> overrides;
    std::string_view rest = value;
    while (!rest.empty()) {
        const std::size_t separator = rest.find(';');
        const std::string_view entry = Trim(rest.substr(0, separator));
        rest =
            separator == std::string_view::npos ? std::string_view{} : rest.substr(separator + 1);

        const std::size_t equals = entry.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        const std::string_view name = Trim(entry.substr(0, equals));
        const std::string_view path = Trim(entry.substr(equals + 1));
        if (!StartsWithComIgnoringCase(name) || path.empty()) {
            continue;
        }
        const std::optional<int> portNo = ParseDecimalIndex(name.substr(3));
        if (!portNo || *portNo < 1) {
            continue;
        }
        overrides[*portNo] = std::string(path);  // a later entry wins
    }
    return overrides;
}

std::map<int, std::string> ComPortOverrides() {
    // The program never changes its environment, so reading it is safe here.
    const char* value = std::getenv("QRB117_COMPORTS");  // NOLINT(concurrency-mt-unsafe)
    return value == nullptr ? std::map<int, std::string>{} : ParseComPortOverrides(value);
}

}  // namespace qrb
