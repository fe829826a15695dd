#include "firmware/SettingsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <limits>

namespace qrb {

namespace {

// A first line longer than this cannot hold a sensible port number; reading
// stops there so that a stray huge file costs no memory.
constexpr std::size_t kMaxFirstLineBytes = 64 * 1024;

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

// Closes a descriptor when the scope ends.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and reports whether the close succeeded (data written out).
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

// Writes `content` to a temporary file beside `path` and renames it over
// `path`. False when the folder does not allow it; `path` is then untouched.
bool ReplaceViaTemporary(const std::string& path, const std::string& content, mode_t mode) {
    std::string temporary = path + ".XXXXXX";
    FileDescriptor fd(::mkstemp(temporary.data()));
    if (!fd.valid())
        return false;
    const bool written = ::fchmod(fd.get(), mode) == 0 && WriteAll(fd.get(), content);
    if (!fd.Close() || !written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::optional<int> ParseSettingsInteger(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && text[pos] == ' ')
        ++pos;

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

    if (pos == text.size())
        return std::nullopt;
    // The magnitude may reach 2^31 for a negative number.
    const std::int64_t limit = std::int64_t{std::numeric_limits<int>::max()} + (negative ? 1 : 0);
    std::int64_t magnitude = 0;
    for (; pos < text.size(); ++pos) {
        const int digit = DigitValue(text[pos], base);
        if (digit < 0)
            return std::nullopt;
        magnitude = magnitude * base + digit;
        if (magnitude > limit)
            return std::nullopt;
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

int PortNumberFromSettingsText(std::string_view text) {
    const std::size_t lineEnd = text.find_first_of(std::string_view("\r\n\x1A", 3));
    return ParseSettingsInteger(text.substr(0, lineEnd)).value_or(1);
}

bool ReadSettings(const std::string& path, int& comPortNumber) {
    // Non-blocking, so a FIFO or device at the path cannot hold the start-up;
    // only a regular file is a settings file.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid())
        return false;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;

    std::string firstLine;
    char buffer[512];
    bool lineEnded = false;
    while (!lineEnded && firstLine.size() < kMaxFirstLineBytes) {
        const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return false;  // e.g. the name is a folder
        }
        if (count == 0)
            break;
        for (ssize_t i = 0; i < count; ++i) {
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
    FileDescriptor target(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
    if (!target.valid())
        return false;
    struct stat info {};
    if (::fstat(target.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;

    const std::string content = std::to_string(comPortNumber);
    if (ReplaceViaTemporary(path, content, info.st_mode & 07777))
        return true;

    // The folder does not let us create a file beside it: rewrite in place.
    if (::ftruncate(target.get(), 0) != 0)
        return false;
    return WriteAll(target.get(), content) && target.Close();
}

}  // namespace qrb
