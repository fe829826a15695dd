// The entries of one folder with their last-write times, as the platform
// lists them (readdir on POSIX, FindFirstFile/FindNextFile on Windows).
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace qrb {

// Calls `entry` with the name and the last-write time (seconds since the
// epoch) of every entry of `directory` that is `wanted`, in the order the
// system lists them.
// False when the folder cannot be read.
bool ListFolder(const std::string& directory,
                const std::function<bool(std::string_view name)>& wanted,
                const std::function<void(std::string_view name, long long seconds)>& entry);

}  // namespace qrb
