#include "cli/StationLog.h"

#include "cli/LogFile.h"

#include <QDateTime>
#include <QJsonDocument>

namespace qrb::cli {

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
    const std::string failure = CheckAppendable(path_);
    return failure.empty() || fail(failure);
}

bool StationLog::append(const RadioRecord& record) {
    std::string line =
        QJsonDocument(RecordJson(record)).toJson(QJsonDocument::Compact).toStdString();
    line += '\n';
    const std::string failure = AppendDurably(path_, line);
    return failure.empty() || fail(failure);
}

std::string NowIso8601() {
    return QDateTime::currentDateTime()
        .toOffsetFromUtc(QDateTime::currentDateTime().offsetFromUtc())
        .toString(Qt::ISODateWithMs)
        .toStdString();
}

}  // namespace qrb::cli
