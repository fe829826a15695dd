// A line that passes everything to another line and writes every byte sent
// and received to a trace file, with a millisecond time stamp and its
// direction, for support cases.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "writing/ForwardingLine.h"

namespace qrb::cli {

class TracingLine : public ForwardingLine {
  public:
    // trace may be null: then only the activity callback is served.
    TracingLine(Line& inner, std::FILE* trace);
    ~TracingLine() override;

    // Called after every byte received, so a watchdog can see the radio talk.
    void setOnBytesReceived(std::function<void(int count)> callback);

    void open() override;
    void close() override;
    bool sendByte(std::uint8_t value) override;
    bool sendBytes(const std::uint8_t* bytes, int count) override;
    int receive(std::uint8_t* buffer, int count) override;

  private:
    // Bytes of one direction within one millisecond share a line.
    void record(char direction, const std::uint8_t* bytes, int count);
    void flushRecord();
    void writeNote(const std::string& text);
    long long elapsedMs() const;

    std::FILE* trace_;
    std::chrono::steady_clock::time_point start_;
    std::function<void(int)> onBytesReceived_;
    static constexpr int kBytesPerLine = 32;
    char pendingDirection_ = 0;
    long long pendingMs_ = 0;
    std::string pendingHex_;
    int pendingCount_ = 0;
};

}  // namespace qrb::cli
