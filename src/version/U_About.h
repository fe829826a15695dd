// The program's version data and the lookup of its strings.
//
// The values live in a table generated at build time. They are read the way
// a version resource is read: the first entry of the translation list gives
// language and code page, and these name the string table in which a value
// is looked up by its key.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace qrb {

// The twelve predefined string names, in alphabetical order.
inline constexpr std::array<const char*, 12> VersionKeys = {
    "Comments",     "CompanyName",    "FileDescription", "FileVersion",
    "InternalName", "LegalCopyright", "LegalTrademarks", "OriginalFilename",
    "PrivateBuild", "ProductName",    "ProductVersion",  "SpecialBuild",
};
inline constexpr std::uint8_t kProductNameKey = 9;
inline constexpr std::uint8_t kProductVersionKey = 10;

// The version data the lookup reads.
struct VersionData {
    // "\VarFileInfo\Translation": language in the low 16 bits, code page in
    // the high 16 bits.
    std::vector<std::uint32_t> translations;
    // Values by their full query path, e.g. "\StringFileInfo\040904E4\ProductName".
    std::map<std::string, std::string> values;

    bool empty() const { return translations.empty() && values.empty(); }
    // The length of the value at path counting its terminating NUL, 0 when
    // there is none; value receives the characters.
    std::size_t Query(const std::string& path, std::string& value) const;
};

// The table built into this program.
const VersionData& ProgramVersionData();

// Raised when the version data has no translation table.
class VersionLookupError : public std::runtime_error {
  public:
    VersionLookupError();
};

// Puts the value of VersionKeys[keyIndex] from the string table of the first
// translation into result, followed by one NUL character (callers drop the
// last character). Leaves result as passed when there is no version data, no
// such value or no such key. Throws VersionLookupError when the data has no
// translation table.
void GetVersionString(std::uint8_t keyIndex, std::string& result,
                      const VersionData& data = ProgramVersionData());

}  // namespace qrb
