// The station's record: one JSON object a line for each radio, appended to
// a file that may already hold earlier records. Each line is written with one
// write() and flushed to the disk before the next radio is taken.
#pragma once

#include <string>

#include <QJsonObject>

namespace qrb::cli {

struct RadioRecord {
    std::string start;  // ISO 8601
    std::string end;
    std::string port;
    std::string target;
    std::string unitVersion;  // empty when it was not read
    std::string file;
    std::string checksum;
    std::string result;  // "completed", "failed: ...", "cancelled"
    int attempts = 1;
    double durationSeconds = 0;
};

QJsonObject RecordJson(const RadioRecord& record);

class StationLog {
  public:
    explicit StationLog(std::string path) : path_(std::move(path)) {}

    // Checks that the file can be appended to; false with error() set.
    bool check();
    // Appends one line and syncs it; false with error() set.
    bool append(const RadioRecord& record);
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }

  private:
    bool fail(const std::string& what);
    std::string path_;
    std::string error_;
};

// The current time as 2026-12-10T03:15:02.345+01:00.
std::string NowIso8601();

}  // namespace qrb::cli
