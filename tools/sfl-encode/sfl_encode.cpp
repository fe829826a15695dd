// sfl-encode IN OUT: encodes a plain firmware file (S-records, or Intel HEX
// with an S0 line) with the line key built into this program. The output is
// written completely or not at all.
#include <cstdio>
#include <cstring>
#include <exception>

#include "firmware/FirmwareError.h"
#include "firmware/SflEncoder.h"

namespace {

void printUsage(std::FILE* to) {
    std::fputs(
        "usage: sfl-encode IN OUT\n"
        "Encodes the plain firmware file IN into OUT with the built-in line key.\n"
        "S-record files: the S0 record becomes the \"VS\" line, every later line is encoded.\n"
        "Intel HEX files: the first line beginning \"S0\" (it must hold a ':') becomes the\n"
        "\"VS\" line; after it only lines holding a ':' are encoded.\n"
        "Refuses a file whose encoding the readers would not give back.\n",
        to);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        printUsage(stdout);
        return 0;
    }
    if (argc != 3) {
        printUsage(stderr);
        return 2;
    }
    try {
        const qrb::SflKind kind = qrb::EncodeSflFile(argv[1], argv[2]);
        std::printf("%s: %s file encoded into %s\n", argv[1],
                    kind == qrb::SflKind::IntelHex ? "Intel HEX" : "S-record", argv[2]);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sfl-encode: %s\n", e.what());
        return 1;
    }
}
