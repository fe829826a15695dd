// Appending to the station log on POSIX.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "cli/LogFile.h"

namespace qrb::cli {

namespace {

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

int OpenForAppend(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}

// Whether the file ends with a newline (or is empty), so a line cut short
// by an earlier crash is not glued to the next record.
bool EndsCleanly(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || info.st_size == 0) {
        return true;
    }
    char last = '\n';
    return ::pread(fd.get(), &last, 1, info.st_size - 1) != 1 || last == '\n';
}

std::string ErrnoText() {
    return std::error_code(errno, std::generic_category()).message();
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string CheckAppendable(const std::string& path) {
    const Fd fd(OpenForAppend(path));
    return fd.get() < 0 ? ErrnoText() : std::string();
}

std::string AppendDurably(const std::string& path, std::string text) {
    if (!EndsCleanly(path)) {
        text.insert(text.begin(), '\n');
    }
    const Fd fd(OpenForAppend(path));
    if (fd.get() < 0 || !WriteAll(fd.get(), text) || ::fsync(fd.get()) != 0) {
        return ErrnoText();
    }
    return {};
}

}  // namespace qrb::cli
