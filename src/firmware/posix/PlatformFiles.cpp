// The file calls on POSIX: descriptors opened close-on-exec, interrupted
// calls resumed, errors worded by strerror.
#include "firmware/PlatformFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <system_error>

namespace qrb {

namespace {

std::string LastErrorText() {
    return std::generic_category().message(errno);  // strerror's text, thread-safe
}

int Descriptor(std::intptr_t handle) {
    return static_cast<int>(handle);
}

bool IsRegularFile(int fd, mode_t* mode = nullptr) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    if (mode) {
        *mode = info.st_mode;
    }
    return true;
}

bool WriteAll(int fd, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

// The permissions an ordinary new file gets under the process's umask.
mode_t NewFilePermissions() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

FileReplacement Replace(const std::string& path, std::string_view content, mode_t permissions) {
    FileReplacement result;
    result.temporaryPath = path + ".XXXXXX";
    const int fd = ::mkstemp(result.temporaryPath.data());
    if (fd < 0) {
        result.failure = FileReplacement::Failure::CreatingTemporary;
        result.errorText = LastErrorText();
        return result;
    }
    const bool written =
        ::fchmod(fd, permissions) == 0 && WriteAll(fd, content) && ::fsync(fd) == 0;
    const std::string writeError = written ? std::string() : LastErrorText();
    const bool closed = ::close(fd) == 0;
    if (written && closed && ::rename(result.temporaryPath.c_str(), path.c_str()) == 0) {
        return result;
    }
    result.failure = FileReplacement::Failure::Writing;
    result.errorText = written ? LastErrorText() : writeError;
    ::unlink(result.temporaryPath.c_str());
    return result;
}

}  // namespace

InputFile::InputFile(const std::string& path, Accept accept) {
    // Non-blocking where only a regular file will do, so that a FIFO or a
    // device at the path cannot hold the caller.
    const int flags = O_RDONLY | O_CLOEXEC | (accept == Accept::RegularFileOnly ? O_NONBLOCK : 0);
    int fd;
    do {
        fd = ::open(path.c_str(), flags);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        errorText_ = LastErrorText();
        return;
    }
    if (accept == Accept::RegularFileOnly && !IsRegularFile(fd)) {
        errorText_ = "not a regular file";
        ::close(fd);
        return;
    }
    handle_ = fd;
}

InputFile::~InputFile() {
    if (isOpen()) {
        ::close(Descriptor(handle_));
    }
}

std::ptrdiff_t InputFile::read(char* buffer, std::size_t size) {
    ssize_t got;
    do {
        got = ::read(Descriptor(handle_), buffer, size);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        errorText_ = LastErrorText();
        return -1;
    }
    return got;
}

OutputFile::OutputFile(const std::string& path) : path_(path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return;
    }
    mode_t mode = 0;
    if (!IsRegularFile(fd, &mode)) {
        ::close(fd);
        return;
    }
    handle_ = fd;
    permissions_ = mode & 07777;
}

OutputFile::~OutputFile() {
    if (isOpen()) {
        ::close(Descriptor(handle_));
    }
}

bool OutputFile::replaceContent(std::string_view content) {
    return Replace(path_, content, static_cast<mode_t>(permissions_)).replaced();
}

bool OutputFile::rewrite(std::string_view content) {
    const int fd = Descriptor(handle_);
    if (::ftruncate(fd, 0) != 0 || !WriteAll(fd, content)) {
        return false;
    }
    handle_ = kNoHandle;
    // The close reports whether the data was written out.
    return ::close(fd) == 0;
}

FileReplacement ReplaceFileContent(const std::string& path, std::string_view content) {
    return Replace(path, content, NewFilePermissions());
}

bool ListFolder(const std::string& folder, const std::function<bool(std::string_view)>& wanted,
                std::vector<FolderEntry>& entries) {
    const auto closeDir = [](DIR* dir) { ::closedir(dir); };
    const std::unique_ptr<DIR, decltype(closeDir)> dir(::opendir(folder.c_str()), closeDir);
    if (!dir) {
        return false;
    }
    // readdir is safe on a stream no other thread uses.
    while (const dirent* entry = ::readdir(dir.get())) {  // NOLINT(concurrency-mt-unsafe)
        if (!wanted(entry->d_name)) {
            continue;
        }
        struct stat info {};
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &info, 0) != 0 &&
            ::fstatat(::dirfd(dir.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;  // vanished between listing and looking at it
        }
        entries.push_back({entry->d_name, static_cast<long long>(info.st_mtim.tv_sec)});
    }
    return true;
}

}  // namespace qrb
