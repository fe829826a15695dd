#include "cli/TracingLine.h"

namespace qrb::cli {

TracingLine::TracingLine(Line& inner, std::FILE* trace)
    : inner_(inner), trace_(trace), start_(std::chrono::steady_clock::now()) {}

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
        writeRecord("TX", &value, 1);
    } else {
        writeNote("send failed: port closed");
    }
    return queued;
}

int TracingLine::receive(std::uint8_t* buffer, int count) {
    const int read = inner_.receive(buffer, count);
    if (read > 0) {
        writeRecord("RX", buffer, read);
        if (onBytesReceived_) {
            onBytesReceived_(read);
        }
    }
    return read;
}

void TracingLine::writeRecord(const char* direction, const std::uint8_t* bytes, int count) {
    if (trace_ == nullptr) {
        return;
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start_)
                        .count();
    std::fprintf(trace_, "%10lld.%03lld %s", static_cast<long long>(ms / 1000),
                 static_cast<long long>(ms % 1000), direction);
    for (int i = 0; i < count; ++i) {
        std::fprintf(trace_, " %02X", bytes[i]);
    }
    std::fputc('\n', trace_);
}

void TracingLine::writeNote(const std::string& text) {
    if (trace_ == nullptr) {
        return;
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start_)
                        .count();
    std::fprintf(trace_, "%10lld.%03lld -- %s\n", static_cast<long long>(ms / 1000),
                 static_cast<long long>(ms % 1000), text.c_str());
    std::fflush(trace_);
}

}  // namespace qrb::cli
