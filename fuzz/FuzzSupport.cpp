#include "FuzzSupport.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "firmware/U_Decrypt.h"

namespace qrb::fuzz {

void Check(bool holds, std::string_view what, const char* condition, const char* file, int line) {
    if (holds)
        return;
    std::fprintf(stderr, "\n*** invariant broken: %.*s\n    check: %s\n    at %s:%d\n",
                 static_cast<int>(what.size()), what.data(), condition, file, line);
    std::abort();
}

ScratchFile::ScratchFile(const char* name) {
    fd_ = ::memfd_create(name, MFD_CLOEXEC);
    Check(fd_ >= 0, "memfd_create failed", "fd_ >= 0", __FILE__, __LINE__);
    // Opening this link opens the memory file anew, at offset 0.
    path_ = "/proc/self/fd/" + std::to_string(fd_);
}

ScratchFile::~ScratchFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

void ScratchFile::Write(std::string_view bytes) {
    bool written = ::ftruncate(fd_, 0) == 0;
    std::size_t done = 0;
    while (written && done < bytes.size()) {
        const ssize_t count =
            ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        written = count > 0;
        done += written ? static_cast<std::size_t>(count) : 0;
    }
    Check(written, "writing the scratch file failed", "written", __FILE__, __LINE__);
}

namespace {

class ScratchFolder {
  public:
    ScratchFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/qrb117-fuzz-XXXXXX";
        Check(::mkdtemp(pattern.data()) != nullptr, "mkdtemp failed", "mkdtemp", __FILE__,
              __LINE__);
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace

const std::string& ProcessScratchFolder() {
    static const ScratchFolder folder;
    return folder.Path();
}

std::vector<std::string> ExpectedTextLines(std::string_view bytes) {
    bytes = bytes.substr(0, bytes.find('\x1A'));
    std::vector<std::string> lines;
    while (!bytes.empty()) {
        const std::size_t lineFeed = bytes.find('\n');
        std::string_view rest = bytes.substr(0, lineFeed);
        std::string line;
        for (std::size_t cr = rest.find('\r'); cr != std::string_view::npos; cr = rest.find('\r')) {
            line.append(rest.substr(0, cr));
            rest.remove_prefix(cr + 1);
        }
        line.append(rest);
        lines.push_back(std::move(line));
        bytes =
            lineFeed == std::string_view::npos ? std::string_view{} : bytes.substr(lineFeed + 1);
    }
    return lines;
}

std::string ReferenceDecode(std::string_view line, int& keyIndex) {
    std::string plain;
    if (line.substr(0, 2) == "VS") {
        plain = "S0";
        line.remove_prefix(2);
    }
    for (char c : line) {
        plain += static_cast<char>(static_cast<unsigned char>(c) - LineKey[keyIndex]);
        keyIndex = (keyIndex + 1) % kLineKeySize;
    }
    return plain;
}

std::string ReferenceEncode(std::string_view plain, int& keyIndex) {
    std::string encoded;
    for (char c : plain) {
        encoded += static_cast<char>(static_cast<unsigned char>(c) + LineKey[keyIndex]);
        keyIndex = (keyIndex + 1) % kLineKeySize;
    }
    return encoded;
}

}  // namespace qrb::fuzz
