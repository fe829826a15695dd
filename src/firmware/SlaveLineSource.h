// The Slave CPU's line source: the lines of a firmware file that go to the
// radio, decoded where the file is encoded.
#pragma once

#include <string>
#include <vector>

namespace qrb {

// Every line that contains ':' in file order, decoded from the first raw line
// beginning "VS" on; only those lines reach the decoder. Sets keyIndex to 0
// before opening the file. Reads the whole file before anything is sent, so a
// line of 256 characters or more refuses the file (FileRefusedError naming
// file and line). Throws FileAccessError when the file cannot be read.
std::vector<std::string> ReadSlaveLines(const std::string& fileName, int& keyIndex);

}  // namespace qrb
