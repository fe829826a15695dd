#include "cli/StationLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QJsonDocument>
#include <cerrno>
#include <system_error>

namespace qrb::cli {

namespace {

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

int OpenForAppend(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}

// Whether the file ends with a newline (or is empty), so a line cut short
// by an earlier crash is not glued to the next record.
bool EndsCleanly(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || info.st_size == 0) {
        return true;
    }
    char last = '\n';
    return ::pread(fd.get(), &last, 1, info.st_size - 1) != 1 || last == '\n';
}

std::string ErrnoText() {
    return std::error_code(errno, std::generic_category()).message();
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

QJsonObject RecordJson(const RadioRecord& record) {
    QJsonObject o;
    o["start"] = QString::fromStdString(record.start);
    o["end"] = QString::fromStdString(record.end);
    o["port"] = QString::fromStdString(record.port);
    o["target"] = QString::fromStdString(record.target);
    o["unit_version"] = record.unitVersion.empty()
                            ? QJsonValue(QJsonValue::Null)
                            : QJsonValue(QString::fromStdString(record.unitVersion));
    o["file"] = QString::fromStdString(record.file);
    o["checksum"] = QString::fromStdString(record.checksum);
    o["result"] = QString::fromStdString(record.result);
    o["attempts"] = record.attempts;
    o["duration_s"] = record.durationSeconds;
    return o;
}

bool StationLog::fail(const std::string& what) {
    error_ = "cannot write the log " + path_ + ": " + what;
    return false;
}

bool StationLog::check() {
    Fd fd(OpenForAppend(path_));
    if (fd.get() < 0) {
        return fail(ErrnoText());
    }
    return true;
}

bool StationLog::append(const RadioRecord& record) {
    std::string line =
        QJsonDocument(RecordJson(record)).toJson(QJsonDocument::Compact).toStdString();
    line += '\n';
    if (!EndsCleanly(path_)) {
        line.insert(line.begin(), '\n');
    }
    Fd fd(OpenForAppend(path_));
    if (fd.get() < 0) {
        return fail(ErrnoText());
    }
    if (!WriteAll(fd.get(), line)) {
        return fail(ErrnoText());
    }
    if (::fsync(fd.get()) != 0) {
        return fail(ErrnoText());
    }
    return true;
}

std::string NowIso8601() {
    return QDateTime::currentDateTime()
        .toOffsetFromUtc(QDateTime::currentDateTime().offsetFromUtc())
        .toString(Qt::ISODateWithMs)
        .toStdString();
}

}  // namespace qrb::cli
