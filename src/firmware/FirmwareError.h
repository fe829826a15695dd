// Errors raised while reading firmware files. The message is complete and is
// shown to the person as it stands.
#pragma once

#include <stdexcept>
#include <string>

namespace qrb {

// Any of the errors below: a firmware file that a write cannot use.
class FirmwareError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A firmware file that cannot be opened or read (the runtime's I/O error).
class FileAccessError : public FirmwareError {
  public:
    using FirmwareError::FirmwareError;
};

// A record field that is not hexadecimal: "'%s' is not a valid integer value".
class ConversionError : public FirmwareError {
  public:
    using FirmwareError::FirmwareError;
};

// A file the readers refuse before anything is sent (data outside the image,
// no record start, a line too long for its frame); names the file and line.
class FileRefusedError : public FirmwareError {
  public:
    using FirmwareError::FirmwareError;
};

}  // namespace qrb
