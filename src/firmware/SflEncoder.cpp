#include "firmware/SflEncoder.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "firmware/FirmwareError.h"
#include "firmware/PlatformFiles.h"
#include "firmware/TextLineReader.h"
#include "firmware/U_Decrypt.h"

namespace qrb {

namespace {

class LineEncoder {
  public:
    LineEncoder(const std::string& fileName) : fileName_(fileName) {}

    // Encodes text with the running key and checks that the line reading and
    // the decoder will give it back.
    std::string encode(std::string_view text, std::size_t lineIndex, bool isMarker) {
        std::string out;
        out.reserve(text.size() + 2);
        if (isMarker) {
            out = "VS";
        }
        for (char c : text) {
            out.push_back(static_cast<char>(static_cast<std::uint8_t>(c) + LineKey[keyIndex_]));
            keyIndex_ = (keyIndex_ + 1) % kLineKeySize;
        }
        for (std::size_t i = isMarker ? 2 : 0; i < out.size(); ++i) {
            const auto byte = static_cast<std::uint8_t>(out[i]);
            if (byte == 0x0A || byte == 0x0D || byte == 0x1A) {
                char hex[3];
                std::snprintf(hex, sizeof hex, "%02X", byte);
                refuse(lineIndex, std::string("the encoded line would hold the byte ") + hex +
                                      " at character " + std::to_string(i + 1) +
                                      ", which the line reading does not keep; this key cannot "
                                      "encode this file");
            }
        }
        if (!isMarker && out.starts_with("VS")) {
            refuse(lineIndex,
                   "the encoded line would begin with \"VS\" and be decoded as the marker; this "
                   "key cannot encode this file");
        }
        return out;
    }

    [[noreturn]] void refuse(std::size_t lineIndex, const std::string& what) const {
        throw EncodeRefusedError(fileName_ + ", line " + std::to_string(lineIndex + 1) + ": " +
                                 what);
    }

  private:
    const std::string& fileName_;
    int keyIndex_ = 0;
};

bool hasColon(std::string_view line) {
    return line.find(':') != std::string_view::npos;
}

}  // namespace

EncodedSfl EncodeSflLines(const std::vector<std::string>& plainLines, const std::string& fileName) {
    LineEncoder encoder(fileName);
    const auto beginsS0 = [](const std::string& l) { return l.starts_with("S0"); };
    const auto markerAt = std::find_if(plainLines.begin(), plainLines.end(), beginsS0);
    if (markerAt == plainLines.end()) {
        const auto encodedAt =
            std::find_if(plainLines.begin(), plainLines.end(),
                         [](const std::string& l) { return l.starts_with("VS"); });
        if (encodedAt != plainLines.end()) {
            encoder.refuse(static_cast<std::size_t>(encodedAt - plainLines.begin()),
                           "the line begins with \"VS\"; the file is encoded already");
        }
        throw EncodeRefusedError(fileName +
                                 ": no line begins with \"S0\"; there is no record to become the "
                                 "\"VS\" line (an Intel HEX file needs an S0 line holding a ':')");
    }
    const auto marker = static_cast<std::size_t>(markerAt - plainLines.begin());

    EncodedSfl result;
    const bool intelHex = std::any_of(markerAt + 1, plainLines.end(),
                                      [](const std::string& l) { return l.starts_with(':'); });
    result.kind = intelHex ? SflKind::IntelHex : SflKind::SRecord;

    for (std::size_t i = 0; i < marker; ++i) {
        const std::string& line = plainLines[i];
        if (line.starts_with("VS")) {
            encoder.refuse(i, "the line begins with \"VS\"; the file is encoded already");
        }
        // The image readers take the first line holding "S0" for the record start.
        if (!intelHex && line.find("S0") != std::string::npos) {
            encoder.refuse(i,
                           "the header line holds \"S0\"; the readers would take it for the "
                           "record start");
        }
        result.lines.push_back(line);
    }

    const std::string& s0 = plainLines[marker];
    if (intelHex && !hasColon(s0)) {
        encoder.refuse(marker,
                       "the S0 line holds no ':'; the Slave CPU reader would not see the \"VS\" "
                       "line that switches decoding on");
    }
    result.lines.push_back(encoder.encode(std::string_view(s0).substr(2), marker, true));

    for (std::size_t i = marker + 1; i < plainLines.size(); ++i) {
        const std::string& line = plainLines[i];
        // The Slave CPU reader decodes only the lines that hold a ':'.
        if (intelHex && !hasColon(line)) {
            result.lines.push_back(line);
            continue;
        }
        result.lines.push_back(encoder.encode(line, i, false));
    }
    if (intelHex) {
        // The reader picks its lines by the ':' in the encoded text.
        for (std::size_t i = marker; i < plainLines.size(); ++i) {
            if (hasColon(plainLines[i]) && !hasColon(result.lines[i])) {
                encoder.refuse(i,
                               "the encoded line would hold no ':' and the Slave CPU reader "
                               "would skip it; this key cannot encode this file");
            }
        }
    }
    return result;
}

SflKind EncodeSflFile(const std::string& inFile, const std::string& outFile) {
    std::vector<std::string> plain;
    {
        TextLineReader reader(inFile);
        std::string line;
        while (reader.readLine(line)) {
            plain.push_back(line);
        }
    }
    const EncodedSfl encoded = EncodeSflLines(plain, inFile);
    std::string text;
    for (const std::string& line : encoded.lines) {
        text += line;
        text += "\r\n";
    }
    const FileReplacement written = ReplaceFileContent(outFile, text);
    if (written.failure == FileReplacement::Failure::CreatingTemporary) {
        throw FileAccessError("Cannot create file \"" + written.temporaryPath + "\". " +
                              written.errorText);
    }
    if (!written.replaced()) {
        throw FileAccessError("Cannot write file \"" + outFile + "\". " + written.errorText);
    }
    return encoded.kind;
}

}  // namespace qrb
