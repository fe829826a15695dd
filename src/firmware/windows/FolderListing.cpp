#include "firmware/FolderListing.h"

#include <windows.h>

namespace qrb {
namespace {

// FILETIME counts 100 ns steps since 1601-01-01.
long long SecondsSinceEpoch(const FILETIME& time) {
    constexpr long long kStepsPerSecond = 10'000'000;
    constexpr long long kSecondsFrom1601To1970 = 11'644'473'600;
    const long long steps =
        static_cast<long long>((ULONGLONG{time.dwHighDateTime} << 32) | time.dwLowDateTime);
    return steps / kStepsPerSecond - kSecondsFrom1601To1970;
}

}  // namespace

bool ListFolder(const std::string& directory,
                const std::function<bool(std::string_view name)>& wanted,
                const std::function<void(std::string_view name, long long seconds)>& entry) {
    WIN32_FIND_DATAA found{};
    const std::string pattern = directory + "\\*";
    HANDLE search = ::FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return ::GetLastError() == ERROR_FILE_NOT_FOUND;  // an empty folder
    }
    do {
        if (wanted(found.cFileName)) {
            entry(found.cFileName, SecondsSinceEpoch(found.ftLastWriteTime));
        }
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    return true;
}

}  // namespace qrb
