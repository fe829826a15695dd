// The platform's file calls, in one place: reading a file, writing one in
// place or replacing its content in one step, and listing a folder. One
// implementation per platform (posix/, windows/). Every failure keeps the
// system's own text for it, which the callers put into their messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qrb {

// A file open for reading only; closed when destroyed.
class InputFile {
  public:
    enum class Accept {
        AnyFile,          // whatever the name opens; a FIFO may hold the open
        RegularFileOnly,  // the open never waits, and only a regular file opens
    };

    explicit InputFile(const std::string& path, Accept accept = Accept::AnyFile);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool isOpen() const { return handle_ != kNoHandle; }

    // Reads up to size bytes into buffer: the count read, 0 at the end of
    // the file, -1 when reading failed (a folder, a device error).
    std::ptrdiff_t read(char* buffer, std::size_t size);

    // The system's text for the last failure of the open or of read().
    const std::string& errorText() const { return errorText_; }

  private:
    static constexpr std::intptr_t kNoHandle = -1;  // as a descriptor and as a HANDLE
    std::intptr_t handle_ = kNoHandle;
    std::string errorText_;
};

// A regular file open for writing, created when missing; closed when
// destroyed.
class OutputFile {
  public:
    // Anything but a regular file (a folder, a FIFO, a device) is not opened.
    explicit OutputFile(const std::string& path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool isOpen() const { return handle_ != kNoHandle; }

    // Writes content into a new file beside this one, with this one's
    // permissions, and renames it over this one's name. False when the folder
    // does not allow it; this file is then untouched.
    bool replaceContent(std::string_view content);

    // Empties this file, writes content into it and closes it. True when all
    // of it reached the file.
    bool rewrite(std::string_view content);

  private:
    static constexpr std::intptr_t kNoHandle = -1;
    std::string path_;
    std::intptr_t handle_ = kNoHandle;
    unsigned permissions_ = 0;  // the file's permission bits where the platform has them
};

// The outcome of ReplaceFileContent.
struct FileReplacement {
    enum class Failure {
        None,
        CreatingTemporary,  // no temporary file could be made beside the target
        Writing,            // writing, flushing, closing or renaming it failed
    };
    Failure failure = Failure::None;
    std::string temporaryPath;  // the temporary file's name
    std::string errorText;      // the system's text when failure is not None

    bool replaced() const { return failure == Failure::None; }
};

// Writes content into a new temporary file beside path, flushes it to the
// disk and renames it over path, so that a reader sees the old content or
// the new, never a part. The new file gets the permissions a newly created
// file gets. On failure path is untouched and the temporary file removed.
FileReplacement ReplaceFileContent(const std::string& path, std::string_view content);

struct FolderEntry {
    std::string name;
    long long lastWriteSeconds = 0;  // since 1970-01-01 00:00 UTC
};

// Appends the entries of folder whose name wanted accepts, in the order the
// system lists them, each with its last-write time (a dangling link's own).
// An entry that vanishes while listed is left out. False when the folder
// cannot be listed.
bool ListFolder(const std::string& folder, const std::function<bool(std::string_view)>& wanted,
                std::vector<FolderEntry>& entries);

}  // namespace qrb
