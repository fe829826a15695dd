// Reads a firmware file as lines of 8-bit characters, the way every reader of
// the program sees a text file: a line ends at LF or CR LF, a CR that is not
// followed by LF is dropped, a byte 1A ends the file wherever it stands, and a
// line may be of any length. The file is opened for reading only and read in
// large chunks.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "firmware/PlatformFiles.h"

namespace qrb {

class TextLineReader {
  public:
    // Throws FileAccessError when the file cannot be opened.
    explicit TextLineReader(std::string fileName);
    TextLineReader(const TextLineReader&) = delete;
    TextLineReader& operator=(const TextLineReader&) = delete;

    // True when no further line can be read (end of data or a byte 1A).
    // Throws FileAccessError when reading fails.
    bool atEnd();

    // Reads the next line into line (without its line end) and returns true;
    // returns false and leaves line empty at the end of the file.
    bool readLine(std::string& line);

    // Number of the line last read, counted from 1; 0 before the first.
    int lineNumber() const { return lineNumber_; }
    const std::string& fileName() const { return fileName_; }

  private:
    // Makes sure unread bytes are buffered unless the data is exhausted.
    bool fill();

    std::string fileName_;
    InputFile file_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;   // next unread byte in buffer_
    std::size_t end_ = 0;     // one past the last buffered byte
    bool dataEnded_ = false;  // physical end of the file or a 1A byte was met
    int lineNumber_ = 0;
};

}  // namespace qrb
