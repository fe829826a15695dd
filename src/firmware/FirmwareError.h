// Errors raised while reading firmware files. The message is complete and is
// shown to the person as it stands.
#pragma once

#include <stdexcept>
#include <string>

namespace qrb {

// A firmware file that cannot be opened or read (the runtime's I/O error).
class FileAccessError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A record field that is not hexadecimal: "'%s' is not a valid integer value".
class ConversionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file the readers refuse before anything is sent (data outside the image,
// no record start, a line too long for its frame); names the file and line.
class FileRefusedError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace qrb
