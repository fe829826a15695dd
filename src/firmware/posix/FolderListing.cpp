#include "firmware/FolderListing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <memory>

namespace qrb {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// Last-write time of a folder entry; a dangling link is described by the
// link itself.
bool lastWriteTime(DIR* dir, const char* name, long long& seconds) {
    struct stat info {};
    if (::fstatat(::dirfd(dir), name, &info, 0) != 0 &&
        ::fstatat(::dirfd(dir), name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    seconds = static_cast<long long>(info.st_mtim.tv_sec);
    return true;
}

}  // namespace

bool ListFolder(const std::string& directory,
                const std::function<bool(std::string_view name)>& wanted,
                const std::function<void(std::string_view name, long long seconds)>& entry) {
    std::unique_ptr<DIR, DirCloser> dir(::opendir(directory.c_str()));
    if (!dir) {
        return false;
    }
    while (const dirent* found = ::readdir(dir.get())) {
        long long seconds = 0;
        if (wanted(found->d_name) && lastWriteTime(dir.get(), found->d_name, seconds)) {
            entry(found->d_name, seconds);
        }  // otherwise it vanished between listing and looking at it
    }
    return true;
}

}  // namespace qrb
