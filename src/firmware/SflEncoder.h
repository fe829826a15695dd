// The producer's side of encoded firmware files: turns a plain firmware file
// into the encoded form that the readers decode line by line. Used by the
// sfl-encode tool and the command-line front end.
//
// S-record files: the header (every line before the S0 record) stays as it
// is; the S0 record becomes the "VS" line (its characters after the first two
// encoded) and every later line is encoded in all its characters. Intel HEX
// (Slave CPU) files: the first line beginning "S0" becomes the "VS" line and
// must hold a ':'; after it only lines holding a ':' are encoded, the others
// stay as they are. The key runs on from the third character of the "VS" line
// through every encoded line: character j is stored as plain + LineKey[j % 43].
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace qrb {

// A file that cannot be encoded so that the readers get it back; the message
// names the file and the line.
class EncodeRefusedError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class SflKind { SRecord, IntelHex };

struct EncodedSfl {
    SflKind kind = SflKind::SRecord;
    std::vector<std::string> lines;  // the encoded file's lines, without line ends
};

// Encodes the lines of a plain file (as read by TextLineReader). fileName only
// names the file in messages. Throws EncodeRefusedError when the file has no
// S0 record, is encoded already, has a header line the readers would take for
// the record start, or when an encoded line would hold a byte 0A, 0D or 1A
// (or, in an Intel HEX file, no ':', so that the reader would skip it).
EncodedSfl EncodeSflLines(const std::vector<std::string>& plainLines, const std::string& fileName);

// Reads inFile, encodes it and writes outFile with CR LF line ends. The output
// appears complete or not at all: it is written to a temporary file beside it
// and renamed. Throws FileAccessError or EncodeRefusedError.
SflKind EncodeSflFile(const std::string& inFile, const std::string& outFile);

}  // namespace qrb
