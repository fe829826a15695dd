#include "firmware/TextLineReader.h"

#include <cstring>

#include "firmware/FirmwareError.h"

namespace qrb {

namespace {

constexpr std::size_t kChunkSize = std::size_t{256} * 1024;
constexpr char kEndOfFile = '\x1A';

}  // namespace

TextLineReader::TextLineReader(std::string fileName)
    : fileName_(std::move(fileName)), file_(fileName_), buffer_(kChunkSize) {
    if (!file_.isOpen()) {
        throw FileAccessError("Cannot open file \"" + fileName_ + "\". " + file_.errorText());
    }
}

bool TextLineReader::fill() {
    if (begin_ < end_) {
        return true;
    }
    if (dataEnded_) {
        return false;
    }
    begin_ = 0;
    end_ = 0;
    const std::ptrdiff_t got = file_.read(buffer_.data(), buffer_.size());
    if (got < 0) {
        dataEnded_ = true;
        throw FileAccessError("Cannot read file \"" + fileName_ + "\". " + file_.errorText());
    }
    if (got == 0) {
        dataEnded_ = true;
        return false;
    }
    end_ = static_cast<std::size_t>(got);
    // Nothing after a 1A byte is part of the file.
    if (const void* stop = std::memchr(buffer_.data(), kEndOfFile, end_)) {
        end_ = static_cast<std::size_t>(static_cast<const char*>(stop) - buffer_.data());
        dataEnded_ = true;
    }
    return begin_ < end_;
}

bool TextLineReader::atEnd() {
    return !fill();
}

bool TextLineReader::readLine(std::string& line) {
    line.clear();
    if (!fill()) {
        return false;
    }
    ++lineNumber_;
    while (fill()) {
        const char* start = buffer_.data() + begin_;
        const std::size_t available = end_ - begin_;
        const char* lineFeed = static_cast<const char*>(std::memchr(start, '\n', available));
        const std::size_t take = lineFeed ? static_cast<std::size_t>(lineFeed - start) : available;
        // Every CR is dropped: one before LF belongs to the line end, a lone one
        // is dropped from the line.
        const char* piece = start;
        const char* pieceEnd = start + take;
        while (const void* cr =
                   std::memchr(piece, '\r', static_cast<std::size_t>(pieceEnd - piece))) {
            const char* crAt = static_cast<const char*>(cr);
            line.append(piece, crAt);
            piece = crAt + 1;
        }
        line.append(piece, pieceEnd);
        begin_ += take;
        if (lineFeed) {
            ++begin_;
            return true;
        }
    }
    return true;
}

}  // namespace qrb
