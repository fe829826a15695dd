#include "version/U_About.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace qrb {

std::size_t VersionData::Query(const std::string& path, std::string& value) const {
    const auto found = values.find(path);
    if (found == values.end()) {
        return 0;
    }
    value = found->second;
    return value.size() + 1;
}

VersionLookupError::VersionLookupError()
    : std::runtime_error("情報の取得に失敗しました") {}  // "getting the information failed"

namespace {

std::string Hex4(unsigned value) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04X", value);
    return digits;
}

}  // namespace

void GetVersionString(std::uint8_t keyIndex, std::string& result, const VersionData& data) {
    if (data.empty() || keyIndex >= VersionKeys.size()) {
        return;
    }
    if (data.translations.empty()) {
        throw VersionLookupError();
    }
    const std::uint32_t translation = data.translations.front();
    const std::string language = Hex4(translation & 0xFFFFu);
    const std::string codePage = Hex4(translation >> 16);

    // "\StringFileInfo\%0.4s%0.4s\" + key: each part gives at most four characters.
    const std::string path = "\\StringFileInfo\\" + language.substr(0, 4) + codePage.substr(0, 4) +
                             "\\" + VersionKeys[keyIndex];
    std::string value;
    const std::size_t length = data.Query(path, value);
    if (length == 0) {
        return;
    }
    // A string of the reported length: the characters up to the value's
    // terminating NUL, which stays as the last character.
    std::string text = value.substr(0, std::min(value.find('\0'), length - 1));
    text.resize(length, '\0');
    result = std::move(text);
}

}  // namespace qrb
