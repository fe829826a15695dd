// JSON report of a simulator run. Qt writes every value; this file keeps the
// layout the report has always had, which the demo's grep and text checks
// read: one field a line in a fixed order (QJsonObject would sort them) and
// each array on its field's line, items separated by ", ".
#include "SimReport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QString>
#include <cstdio>
#include <utility>
#include <vector>

#include "sim/MasterCpuModel.h"
#include "sim/OptionUnitModel.h"
#include "sim/SlaveCpuModel.h"

namespace qrb::sim {
namespace {

using Fields = std::vector<std::pair<const char*, QJsonValue>>;

// The unit's data are bytes, not text: each byte is one character.
QJsonValue bytesText(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QJsonValue hexWord(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return QString::fromLatin1(text);
}

template <typename Range>
QJsonArray numbers(const Range& items) {
    QJsonArray array;
    for (const auto item : items) {
        array.append(static_cast<qint64>(item));
    }
    return array;
}

QJsonArray texts(const std::vector<std::string>& items) {
    QJsonArray array;
    for (const auto& item : items) {
        array.append(bytesText(item));
    }
    return array;
}

void addFrames(Fields& fields, const std::vector<FrameRecord>& frames) {
    QJsonArray accepted;
    QJsonArray refused;
    for (const auto& f : frames) {
        (f.accepted ? accepted : refused).append(static_cast<qint64>(f.number));
    }
    fields.emplace_back("frames", accepted);
    fields.emplace_back("refused_frames", refused);
}

void addMemory(Fields& fields, const std::vector<std::uint8_t>& memory,
               const ReportExtras& extras) {
    std::uint32_t sum = 0;
    for (const std::uint8_t b : memory) {
        sum += b;
    }
    fields.emplace_back("memory_size", static_cast<qint64>(memory.size()));
    fields.emplace_back("memory_sum", hexWord(sum, 8));
    if (!extras.memoryFile.empty()) {
        fields.emplace_back("memory_file", bytesText(extras.memoryFile));
    }
}

// One value as Qt writes it, on one line.
QByteArray compactJson(const QJsonValue& value) {
    if (value.isArray()) {
        QByteArray items;
        for (const auto& item : value.toArray()) {
            items += (items.isEmpty() ? "" : ", ") + compactJson(item);
        }
        return '[' + items + ']';
    }
    // Qt writes documents, not single values: wrap it in [ ] and unwrap it.
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

std::string layout(const Fields& fields) {
    QByteArray text = "{";
    for (const auto& [name, value] : fields) {
        text += (text.size() == 1 ? "\n  " : ",\n  ") + compactJson(QString::fromLatin1(name)) +
                ": " + compactJson(value);
    }
    return (text + "\n}\n").toStdString();
}

}  // namespace

const std::vector<std::uint8_t>* unitMemory(const RadioModel& model) {
    if (const auto* master = dynamic_cast<const MasterCpuModel*>(&model)) {
        return &master->memory();
    }
    if (const auto* option = dynamic_cast<const OptionUnitModel*>(&model)) {
        return &option->memory();
    }
    return nullptr;
}

std::string reportJson(const RadioModel& model, const ReportExtras& extras) {
    Fields fields = {
        {"unit", bytesText(model.unitName())},
        {"version", hexWord(model.config().version, 4)},
        {"connected", model.connected()},
        {"identifications", model.identificationsAnswered()},
        {"version_answers", model.versionAnswers()},
        {"end_command", model.endCommandReceived()},
    };
    if (const auto* master = dynamic_cast<const MasterCpuModel*>(&model)) {
        addFrames(fields, master->frames());
        addMemory(fields, master->memory(), extras);
    } else if (const auto* slave = dynamic_cast<const SlaveCpuModel*>(&model)) {
        addFrames(fields, slave->frames());
        fields.emplace_back("lines", texts(slave->lines()));
        fields.emplace_back("end_frame", slave->endFrameReceived());
    } else if (const auto* option = dynamic_cast<const OptionUnitModel*>(&model)) {
        addFrames(fields, option->frames());
        addMemory(fields, option->memory(), extras);
        fields.emplace_back("end_frame", option->endFrameReceived());
        fields.emplace_back("routines", numbers(option->routinesLoaded()));
        fields.emplace_back("erased_blocks", numbers(option->erasedBlocks()));
    }
    fields.emplace_back("violations", texts(model.violationTexts()));
    fields.emplace_back("vanished", extras.vanished);
    fields.emplace_back("exit_reason", bytesText(extras.exitReason));
    return layout(fields);
}

}  // namespace qrb::sim
