// The trace file that `qrb117-cli write --trace` writes, read back: every
// byte the CLI queued (TX) and received (RX) with its millisecond time
// stamp, counted from the start of the trace. The write benchmark takes its
// phase boundaries from it: the first byte received (the radio's ready
// byte), the first frame byte sent, the last answer before the end command.
//
// Trace lines look like "      1.234 TX E0 83 00 A0" and "      0.103 -- note".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qrb::bench {

struct TraceRecord {
    long long ms = 0;
    char direction = 0;  // 'T' sent, 'R' received, '-' a note
    std::vector<std::uint8_t> bytes;
    std::string note;
};

class CliTrace {
  public:
    // Throws std::runtime_error naming the file and line when the file
    // cannot be read or a line has another shape.
    explicit CliTrace(const std::string& path);

    const std::vector<TraceRecord>& records() const { return records_; }
    long long sentCount() const { return sent_; }
    long long receivedCount() const { return received_; }

    // Time stamp of the record holding the index-th byte of a direction
    // (0-based); -1 when there are fewer bytes.
    long long sentByteMs(long long index) const;
    long long receivedByteMs(long long index) const;

    // The last `count` bytes of a direction, in order (fewer if there are fewer).
    std::vector<std::uint8_t> lastSent(int count) const;
    std::vector<std::uint8_t> lastReceived(int count) const;

  private:
    // Bytes of one direction up to and including a record, and its stamp.
    struct Mark {
        long long bytesSoFar = 0;
        long long ms = 0;
    };
    static long long byteMs(const std::vector<Mark>& marks, long long index);
    std::vector<std::uint8_t> lastBytes(char direction, int count) const;

    std::vector<TraceRecord> records_;
    std::vector<Mark> sentMarks_;
    std::vector<Mark> receivedMarks_;
    long long sent_ = 0;
    long long received_ = 0;
};

}  // namespace qrb::bench
