// JSON report of a simulator run, written by hand: a flat object of
// numbers, booleans, strings and arrays of them.
#include "sim/SimReport.h"

#include <cstdio>

#include "sim/MasterCpuModel.h"
#include "sim/OptionUnitModel.h"
#include "sim/SlaveCpuModel.h"

namespace qrb::sim {
namespace {

class JsonObject {
  public:
    void field(const char* name, const std::string& rawValue) {
        text_ += first_ ? "{\n  " : ",\n  ";
        first_ = false;
        text_ += jsonString(name) + ": " + rawValue;
    }
    void text(const char* name, const std::string& value) { field(name, jsonString(value)); }
    void flag(const char* name, bool value) { field(name, value ? "true" : "false"); }
    void number(const char* name, long long value) { field(name, std::to_string(value)); }
    template <typename Range, typename Format>
    void array(const char* name, const Range& items, Format format) {
        std::string raw = "[";
        bool firstItem = true;
        for (const auto& item : items) {
            raw += firstItem ? "" : ", ";
            firstItem = false;
            raw += format(item);
        }
        field(name, raw + "]");
    }
    std::string finish() { return (first_ ? std::string("{") : text_) + "\n}\n"; }

  private:
    std::string text_;
    bool first_ = true;
};

std::string hexWord(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

void frameFields(JsonObject& json, const std::vector<FrameRecord>& frames) {
    std::vector<std::uint32_t> accepted;
    std::vector<std::uint32_t> refused;
    for (const auto& f : frames) {
        (f.accepted ? accepted : refused).push_back(f.number);
    }
    const auto number = [](std::uint32_t n) { return std::to_string(n); };
    json.array("frames", accepted, number);
    json.array("refused_frames", refused, number);
}

void memoryFields(JsonObject& json, const std::vector<std::uint8_t>& memory,
                  const ReportExtras& extras) {
    std::uint32_t sum = 0;
    for (const std::uint8_t b : memory) {
        sum += b;
    }
    json.number("memory_size", static_cast<long long>(memory.size()));
    json.text("memory_sum", hexWord(sum, 8));
    if (!extras.memoryFile.empty()) {
        json.text("memory_file", extras.memoryFile);
    }
}

}  // namespace

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u >= 0x7F) {
            // Everything outside printable ASCII as \u00XX: the unit's data are
            // bytes, not text.
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

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
    JsonObject json;
    json.text("unit", model.unitName());
    json.text("version", hexWord(model.config().version, 4));
    json.flag("connected", model.connected());
    json.number("identifications", model.identificationsAnswered());
    json.number("version_answers", model.versionAnswers());
    json.flag("end_command", model.endCommandReceived());
    if (const auto* master = dynamic_cast<const MasterCpuModel*>(&model)) {
        frameFields(json, master->frames());
        memoryFields(json, master->memory(), extras);
    } else if (const auto* slave = dynamic_cast<const SlaveCpuModel*>(&model)) {
        frameFields(json, slave->frames());
        json.array("lines", slave->lines(), jsonString);
        json.flag("end_frame", slave->endFrameReceived());
    } else if (const auto* option = dynamic_cast<const OptionUnitModel*>(&model)) {
        frameFields(json, option->frames());
        memoryFields(json, option->memory(), extras);
        json.flag("end_frame", option->endFrameReceived());
        const auto number = [](auto n) { return std::to_string(n); };
        json.array("routines", option->routinesLoaded(), number);
        json.array("erased_blocks", option->erasedBlocks(), number);
    }
    json.array("violations", model.violationTexts(), jsonString);
    json.flag("vanished", extras.vanished);
    json.text("exit_reason", extras.exitReason);
    return json.finish();
}

}  // namespace qrb::sim
