// What qrb117-cli --version says: the program version and, for a build made
// with the repository's demo key and stand-in routines, that it is one.
#pragma once

#include <string>

namespace qrb::cli {

inline constexpr const char* kDemoBuildNotice =
    "demo build: for the simulator and the sample files only";

bool IsDemoBuild();

// "qrb117-cli 1.02\n", followed by the demo notice line in a demo build.
std::string VersionText();

}  // namespace qrb::cli
