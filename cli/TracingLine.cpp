#include "cli/TracingLine.h"

namespace qrb::cli {

TracingLine::TracingLine(Line& inner, std::FILE* trace)
    : ForwardingLine(inner), trace_(trace), start_(std::chrono::steady_clock::now()) {}

TracingLine::~TracingLine() {
    flushRecord();
    if (trace_ != nullptr) {
        std::fflush(trace_);
    }
}

void TracingLine::setOnBytesReceived(std::function<void(int)> callback) {
    onBytesReceived_ = std::move(callback);
}

void TracingLine::open() {
    try {
        inner_.open();
    } catch (const std::exception& e) {
        writeNote(std::string("open failed: ") + e.what());
        throw;
    }
    writeNote("port opened");
}

void TracingLine::close() {
    const bool wasOpen = inner_.isOpen();
    inner_.close();
    if (wasOpen) {
        writeNote("port closed");
    }
}

bool TracingLine::sendByte(std::uint8_t value) {
    const bool queued = inner_.sendByte(value);
    if (queued) {
        record('T', &value, 1);
    } else {
        writeNote("send failed: port closed");
    }
    return queued;
}

// The run is stamped once, when it has been queued.
bool TracingLine::sendBytes(const std::uint8_t* bytes, int count) {
    const bool queued = inner_.sendBytes(bytes, count);
    if (queued) {
        record('T', bytes, count);
    } else {
        writeNote("send failed: port closed");
    }
    return queued;
}

int TracingLine::receive(std::uint8_t* buffer, int count) {
    const int read = inner_.receive(buffer, count);
    if (read > 0) {
        record('R', buffer, read);
        if (onBytesReceived_) {
            onBytesReceived_(read);
        }
    }
    return read;
}

long long TracingLine::elapsedMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start_)
        .count();
}

void TracingLine::record(char direction, const std::uint8_t* bytes, int count) {
    if (trace_ == nullptr) {
        return;
    }
    const long long ms = elapsedMs();
    for (int i = 0; i < count; ++i) {
        if (direction != pendingDirection_ || ms != pendingMs_ || pendingCount_ >= kBytesPerLine) {
            flushRecord();
            pendingDirection_ = direction;
            pendingMs_ = ms;
        }
        // Formatted by hand: a trace line is built for every byte of a
        // write, and printf's machinery cost more than the byte's hand-over.
        static constexpr char kDigits[] = "0123456789ABCDEF";
        const char hex[3] = {' ', kDigits[bytes[i] >> 4], kDigits[bytes[i] & 0x0F]};
        pendingHex_.append(hex, sizeof hex);
        ++pendingCount_;
    }
}

void TracingLine::flushRecord() {
    if (trace_ == nullptr || pendingCount_ == 0) {
        return;
    }
    std::fprintf(trace_, "%10lld.%03lld %cX%s\n", pendingMs_ / 1000, pendingMs_ % 1000,
                 pendingDirection_, pendingHex_.c_str());
    pendingHex_.clear();
    pendingCount_ = 0;
}

void TracingLine::writeNote(const std::string& text) {
    if (trace_ == nullptr) {
        return;
    }
    flushRecord();
    const long long ms = elapsedMs();
    std::fprintf(trace_, "%10lld.%03lld -- %s\n", ms / 1000, ms % 1000, text.c_str());
    std::fflush(trace_);
}

}  // namespace qrb::cli
