// Shared pieces of the libFuzzer targets: a scratch file that file-based
// readers open by name, the text-line rules every reader must follow (as an
// independent model to compare against), and the check that stops a run with
// a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Reports a broken invariant and aborts, so that libFuzzer keeps the input.
#define FUZZ_CHECK(condition, what) \
    ::qrb::fuzz::Check((condition), (what), #condition, __FILE__, __LINE__)

namespace qrb::fuzz {

void Check(bool holds, std::string_view what, const char* condition, const char* file, int line);

// The fuzz input as text (8-bit characters, NUL bytes kept).
inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// A file in memory (memfd) with a path that open() accepts. One per target,
// rewritten for every input, so no disk I/O and no files left behind.
class ScratchFile {
  public:
    explicit ScratchFile(const char* name);
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    void Write(std::string_view bytes);
    const std::string& Path() const { return path_; }

  private:
    int fd_ = -1;
    std::string path_;
};

// A folder of this process under $TMPDIR (or /tmp), removed with its files
// at exit; for code that must create and rename files beside each other.
const std::string& ProcessScratchFolder();

// The lines a reader of the program sees in a file holding `bytes`: nothing
// from the first 1A byte on, lines split at LF, every CR dropped, and a last
// line without LF counted when it holds any byte.
std::vector<std::string> ExpectedTextLines(std::string_view bytes);

// The plain text of an encoded line by the decoding rule itself: a leading
// "VS" stands for "S0" and is not decoded; each other character c becomes
// c - LineKey[keyIndex] and the index runs on modulo 43.
std::string ReferenceDecode(std::string_view line, int& keyIndex);

// The inverse of ReferenceDecode for a line that is encoded in all its
// characters.
std::string ReferenceEncode(std::string_view plain, int& keyIndex);

}  // namespace qrb::fuzz
