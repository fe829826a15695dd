// Reading the CLI's trace file.
#include "CliTrace.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qrb::bench {
namespace {

// "12.345" -> 12345
bool parseStamp(const std::string& text, long long& ms) {
    const auto dot = text.find('.');
    if (dot == std::string::npos || dot == 0 || text.size() - dot != 4) {
        return false;
    }
    char* end = nullptr;
    const long long seconds = std::strtoll(text.c_str(), &end, 10);
    if (end != text.c_str() + dot) {
        return false;
    }
    const long long millis = std::strtoll(text.c_str() + dot + 1, &end, 10);
    if (*end != '\0') {
        return false;
    }
    ms = seconds * 1000 + millis;
    return true;
}

bool parseHexByte(const std::string& text, std::uint8_t& value) {
    if (text.size() != 2) {
        return false;
    }
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 16);
    if (*end != '\0') {
        return false;
    }
    value = static_cast<std::uint8_t>(parsed);
    return true;
}

}  // namespace

CliTrace::CliTrace(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        throw std::runtime_error("cannot read the trace " + path);
    }
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        const auto bad = [&] {
            return std::runtime_error(path + ":" + std::to_string(lineNumber) +
                                      ": not a trace line: '" + line + "'");
        };
        std::istringstream words(line);
        std::string stamp;
        std::string kind;
        if (!(words >> stamp >> kind)) {
            if (line.find_first_not_of(" \t\r") == std::string::npos) {
                continue;
            }
            throw bad();
        }
        TraceRecord record;
        if (!parseStamp(stamp, record.ms)) {
            throw bad();
        }
        if (kind == "--") {
            record.direction = '-';
            std::getline(words >> std::ws, record.note);
        } else if (kind == "TX" || kind == "RX") {
            record.direction = kind[0];
            std::string hex;
            while (words >> hex) {
                std::uint8_t value = 0;
                if (!parseHexByte(hex, value)) {
                    throw bad();
                }
                record.bytes.push_back(value);
            }
            long long& total = record.direction == 'T' ? sent_ : received_;
            total += static_cast<long long>(record.bytes.size());
            if (!record.bytes.empty()) {
                (record.direction == 'T' ? sentMarks_ : receivedMarks_)
                    .push_back({total, record.ms});
            }
        } else {
            throw bad();
        }
        records_.push_back(std::move(record));
    }
}

long long CliTrace::byteMs(const std::vector<Mark>& marks, long long index) {
    if (index < 0) {
        return -1;
    }
    // The first record whose running count passes the index holds the byte.
    const auto holder = std::upper_bound(
        marks.begin(), marks.end(), index,
        [](long long wanted, const Mark& mark) { return wanted < mark.bytesSoFar; });
    return holder == marks.end() ? -1 : holder->ms;
}

long long CliTrace::sentByteMs(long long index) const {
    return byteMs(sentMarks_, index);
}

long long CliTrace::receivedByteMs(long long index) const {
    return byteMs(receivedMarks_, index);
}

std::vector<std::uint8_t> CliTrace::lastBytes(char direction, int count) const {
    std::vector<std::uint8_t> last;
    for (auto r = records_.rbegin(); r != records_.rend() && static_cast<int>(last.size()) < count;
         ++r) {
        if (r->direction != direction) {
            continue;
        }
        for (auto b = r->bytes.rbegin();
             b != r->bytes.rend() && static_cast<int>(last.size()) < count; ++b) {
            last.push_back(*b);
        }
    }
    std::reverse(last.begin(), last.end());
    return last;
}

std::vector<std::uint8_t> CliTrace::lastSent(int count) const {
    return lastBytes('T', count);
}

std::vector<std::uint8_t> CliTrace::lastReceived(int count) const {
    return lastBytes('R', count);
}

}  // namespace qrb::bench
