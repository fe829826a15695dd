// Help texts of qrb117-cli and the error for bad usage (exit status 2).
#pragma once

#include <stdexcept>
#include <string>

namespace qrb::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;  // usage and file errors

class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

extern const char* const kMainHelp;
extern const char* const kPortsHelp;
extern const char* const kInfoHelp;
extern const char* const kWriteHelp;
extern const char* const kEncodeHelp;
extern const char* const kDetectHelp;

}  // namespace qrb::cli
