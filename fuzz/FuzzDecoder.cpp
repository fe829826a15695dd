// Fuzz target: DecodeLine on any line from any starting key index. Encoding
// the result again with the key must give back the line, and the index must
// have moved on by the number of decoded characters, within 0..42.
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "firmware/U_Decrypt.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first four bytes are the starting index, also one out of range: the
    // decoder takes such an index modulo the key length.
    std::int32_t startIndex = 0;
    if (size >= sizeof startIndex) {
        std::memcpy(&startIndex, data, sizeof startIndex);
        data += sizeof startIndex;
        size -= sizeof startIndex;
    }
    const std::string_view line = qrb::fuzz::AsText(data, size);
    const int normalised =
        static_cast<int>((startIndex % qrb::kLineKeySize + qrb::kLineKeySize) % qrb::kLineKeySize);

    int keyIndex = startIndex;
    const std::string decoded = qrb::DecodeLine(line, keyIndex);

    const bool marker = line.starts_with("VS");
    const std::size_t prefix = marker ? 2 : 0;
    FUZZ_CHECK(decoded.size() == line.size(), "decoded length");
    FUZZ_CHECK(!marker || decoded.starts_with("S0"), "a VS line decodes to an S0 line");
    FUZZ_CHECK(keyIndex >= 0 && keyIndex < qrb::kLineKeySize, "key index within the key");
    FUZZ_CHECK(static_cast<std::size_t>(keyIndex) ==
                   (normalised + line.size() - prefix) % qrb::kLineKeySize,
               "key index advanced by one per decoded character");

    int encodeIndex = normalised;
    const std::string encodedAgain =
        qrb::fuzz::ReferenceEncode(std::string_view(decoded).substr(prefix), encodeIndex);
    FUZZ_CHECK(encodedAgain == line.substr(prefix), "encoding the result gives back the line");
    return 0;
}
