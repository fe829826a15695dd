// The program's version data on Windows: the VERSIONINFO resource of the
// running executable (VersionData.rc.in), read once through the version
// API. Every string of every listed translation is taken, so the lookup of
// version/U_About.cpp finds them under the same query paths as in the resource.
#include <windows.h>

#include <cstring>
#include <vector>

#include "version/U_About.h"

namespace qrb {
namespace {

std::string OwnExecutablePath() {
    std::vector<char> path(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            return std::string(path.data(), length);
        }
        path.resize(path.size() * 2);
    }
}

std::string HexDigits(unsigned value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text(4, '0');
    for (int i = 3; i >= 0; --i, value >>= 4) {
        text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
    }
    return text;
}

VersionData ReadOwnVersionResource() {
    VersionData data;
    const std::string path = OwnExecutablePath();
    DWORD unused = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &unused);
    if (size == 0) {
        return data;  // no version data: the caller's fallbacks apply
    }
    std::vector<char> block(size);
    if (!::GetFileVersionInfoA(path.c_str(), 0, size, block.data())) {
        return data;
    }
    void* found = nullptr;
    UINT length = 0;
    // The root block (fixed file info) stands for "there is version data",
    // so that data without a translation table is told from no data at all.
    data.values["\\"] = std::string();
    if (::VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &found, &length)) {
        for (UINT offset = 0; offset + 4 <= length; offset += 4) {
            std::uint32_t translation = 0;
            std::memcpy(&translation, static_cast<const char*>(found) + offset, 4);
            data.translations.push_back(translation);
        }
    }
    for (const std::uint32_t translation : data.translations) {
        const std::string table = "\\StringFileInfo\\" + HexDigits(translation & 0xFFFFu) +
                                  HexDigits(translation >> 16) + "\\";
        for (const char* key : VersionKeys) {
            const std::string query = table + key;
            if (::VerQueryValueA(block.data(), query.c_str(), &found, &length) && length > 0) {
                const auto* text = static_cast<const char*>(found);
                data.values[query] = std::string(text, ::strnlen(text, length));
            }
        }
    }
    return data;
}

}  // namespace

const VersionData& ProgramVersionData() {
    static const VersionData data = ReadOwnVersionResource();
    return data;
}

}  // namespace qrb
