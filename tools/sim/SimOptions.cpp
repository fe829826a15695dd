// Parsing of rq7300-sim's command line.
#include "SimOptions.h"

#include <QCommandLineParser>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

namespace qrb::sim {
namespace {

const char kUsage[] =
    "usage: rq7300-sim [options]\n"
    "A radio unit on a pseudo-terminal. Prints the terminal's path on the first line.\n"
    "\n"
    "  --unit master|slave|olu6|none  the unit to be (default master); none: a port\n"
    "                               without a radio, silent or (--noise) chattering\n"
    "  --noise MS                   --unit none: a line of other bytes every MS\n"
    "  --radios K                   a fleet: K radios one after another on the same\n"
    "                               terminal, each announcing itself after the previous\n"
    "                               one got its end command; radio N has the version\n"
    "                               plus N-1; --report and --memory-out get .N appended\n"
    "  --faulty-radio N             the faults below apply to radio N of the fleet only\n"
    "  --give-up-after S            a fleet's radio that the PC stopped talking to for\n"
    "                               S seconds before its end command makes way for the\n"
    "                               next one (default 10)\n"
    "  --version HHHH               its firmware version bytes (default 0100)\n"
    "  --line-rate                  pace both directions at 38400 bit/s, 11 bits a byte\n"
    "  --adapter-packets US         hand the PC's bytes over in packets, one every US\n"
    "                               microseconds, as a USB serial adapter does (1000\n"
    "                               for a full-speed one); default 0: each byte when due\n"
    "  --link PATH                  put a symbolic link to the terminal at PATH\n"
    "  --report FILE                write a JSON report at exit\n"
    "  --memory-out FILE            write the unit's memory image at exit (master, olu6)\n"
    "  --idle-exit S                exit after S seconds without a byte from the PC\n"
    "  --blank                      option unit: memory erased at the start\n"
    "  --echo-delay US              echo delay in microseconds (default 300)\n"
    "  --answer-delay US            answer delay in microseconds (default 2000)\n"
    "  --ready-interval MS          ready byte interval (default 300)\n"
    "  --enter-delay MS             option unit: 40 until its 06 (default 1200)\n"
    "  --erase-time MS              option unit: erase command until its 06 (default 300)\n"
    "  --answer-foreign-id          answer every unit's identification command\n"
    "\n"
    "Faults. SEL picks answers: STEP[@N[+COUNT|+all]], N counted from 0 over the run;\n"
    "STEP is one of any, ready, identification, master-version, unit-version,\n"
    "select-erase, frame, end-frame, query-unit, select-device, select-clock,\n"
    "select-bitrate, confirm-bitrate, enter, routine, boot-status, check-blank,\n"
    "erase, erase-end, select-programming, checksum. Without =SEL: the first answer.\n"
    "Frame K below counts the frames of a transfer from 0; a resend keeps its number.\n"
    "\n"
    "  --refuse-frame K:CODE[:always|:TIMES]  refuse frame K (Master CPU: NAK and CODE)\n"
    "  --silent-from-frame K        no answer from frame K on\n"
    "  --silent-from SEL            no answer from the chosen answer on\n"
    "  --silence-echo               the echo stops too while silent\n"
    "  --vanish-after-frame K       close the terminal after answering frame K\n"
    "  --garbage[=SEL]              a garbage byte before the answer\n"
    "  --garbage-instead[=SEL]      a garbage byte instead of the answer\n"
    "  --garbage-byte HH            the garbage byte (default 7E)\n"
    "  --bad-sum[=SEL]              the answer's check byte off by one\n"
    "  --bad-id[=TEXT]              identification text (default XXXXX)\n"
    "  --slow MS[:SEL]              the answer MS later\n"
    "  --truncate N[:SEL]           the answer cut after N bytes\n"
    "  --split N[:SEL]              the answer in two parts after N bytes, 3 ms apart\n"
    "  --refuse-version             Master CPU: NAK to E1 01 E2\n"
    "  --refuse-select-erase        Slave CPU: NAK to 48\n"
    "  --refuse-end-frame           Slave CPU, option unit: NAK to the end frame\n"
    "  --unit-size HHHH             option unit: programming unit reported for 27\n"
    "  --enter-error CODE           option unit: 40 answered C0 CODE\n"
    "  --boot-status CODE[@N]       option unit: status CODE in the N-th 4F answer\n"
    "  --check-blank-error CODE     option unit: 4D answered CD CODE\n"
    "  --erase-error BLOCK:CODE     option unit: erasing BLOCK answered D8 CODE\n"
    "  --help                       this text\n"
    "Numbers written HH or CODE are hexadecimal.\n";

[[noreturn]] void bad(const std::string& what) {
    throw std::invalid_argument(what);
}

long parseNumber(std::string_view text, int base, const std::string& option) {
    const std::string s(text);
    char* end = nullptr;
    const long value = std::strtol(s.c_str(), &end, base);
    if (s.empty() || end == nullptr || *end != '\0' || value < 0) {
        bad(option + ": not a number: '" + s + "'");
    }
    return value;
}

std::uint8_t parseByte(std::string_view text, const std::string& option) {
    const long value = parseNumber(text, 16, option);
    if (value > 0xFF) {
        bad(option + ": not a byte: '" + std::string(text) + "'");
    }
    return static_cast<std::uint8_t>(value);
}

// STEP[@N[+COUNT|+all]]
AnswerSelector parseSelector(std::string_view text, const std::string& option) {
    AnswerSelector selector;
    const auto at = text.find('@');
    const auto step = parseStep(text.substr(0, at));
    if (!step) {
        bad(option + ": unknown step '" + std::string(text.substr(0, at)) + "'");
    }
    selector.step = *step;
    if (at == std::string_view::npos) {
        return selector;
    }
    std::string_view rest = text.substr(at + 1);
    const auto plus = rest.find('+');
    selector.first = static_cast<int>(parseNumber(rest.substr(0, plus), 10, option));
    if (plus != std::string_view::npos) {
        const auto count = rest.substr(plus + 1);
        selector.count = count == "all" ? kEvery : static_cast<int>(parseNumber(count, 10, option));
    }
    return selector;
}

// "VALUE[:SEL]" split at the first colon.
std::pair<std::string_view, std::string_view> splitColon(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) {
        return {text, {}};
    }
    return {text.substr(0, colon), text.substr(colon + 1)};
}

AnswerSelector selectorOr(std::string_view text, const std::string& option) {
    return text.empty() ? AnswerSelector{} : parseSelector(text, option);
}

int parseCount(std::string_view text, const std::string& option) {
    return static_cast<int>(parseNumber(text, 10, option));
}

Micros parseMillis(std::string_view text, const std::string& option) {
    return Micros{parseNumber(text, 10, option) * 1'000};
}

// One option of the command line and what its value sets. A flag has no
// valueName; an option whose value may be left out (--garbage[=SEL]) names
// the value it stands for without one in whenBare.
struct SimOption {
    const char* name;
    const char* valueName;
    const char* whenBare;
    void (*apply)(SimOptions& o, std::string_view value, const std::string& option);
};

void setUnit(SimOptions& o, std::string_view unit, const std::string&) {
    if (unit == "master") {
        o.unit = Unit::MasterCpu;
    } else if (unit == "slave") {
        o.unit = Unit::SlaveCpu;
    } else if (unit == "olu6") {
        o.unit = Unit::OptionUnit;
    } else if (unit == "none") {
        o.noUnit = true;
    } else {
        bad("--unit: expected master, slave, olu6 or none");
    }
}

void setVersion(SimOptions& o, std::string_view text, const std::string& option) {
    const long version = parseNumber(text, 16, option);
    if (text.size() != 4 || version > 0xFFFF) {
        bad("--version: expected four hexadecimal digits");
    }
    o.config.version = static_cast<std::uint16_t>(version);
}

void setNoise(SimOptions& o, std::string_view text, const std::string& option) {
    o.noiseInterval = parseMillis(text, option);
    if (o.noiseInterval <= Micros{0}) {
        bad("--noise: expected an interval of at least 1 ms");
    }
}

void setRadios(SimOptions& o, std::string_view text, const std::string& option) {
    o.radios = parseCount(text, option);
    if (o.radios < 1 || o.radios > 1000) {
        bad("--radios: expected 1 to 1000");
    }
}

// K:CODE[:always|:TIMES], for whichever unit is chosen.
void addRefusal(SimOptions& o, std::string_view text, const std::string& option) {
    const auto [frame, rest] = splitColon(text);
    const auto [code, times] = splitColon(rest);
    if (code.empty()) {
        bad("--refuse-frame: expected K:CODE");
    }
    FrameRefusal refusal;
    refusal.frame = parseCount(frame, option);
    refusal.code = parseByte(code, option);
    if (times == "always") {
        refusal.times = kEvery;
    } else if (!times.empty()) {
        refusal.times = parseCount(times, option);
    }
    o.master.refusals.push_back(refusal);
    o.slave.refusals.push_back(refusal);
    o.option.refusals.push_back(refusal);
}

void setUnitSize(SimOptions& o, std::string_view text, const std::string& option) {
    const long size = parseNumber(text, 16, option);
    if (size > 0xFFFF) {
        bad("--unit-size: expected four hexadecimal digits");
    }
    o.option.programmingUnit = static_cast<std::uint16_t>(size);
}

// CODE[@N]
void setBootStatus(SimOptions& o, std::string_view text, const std::string& option) {
    const auto at = text.find('@');
    OptionUnitFaults::BootStatus status;
    status.code = parseByte(text.substr(0, at), option);
    if (at != std::string_view::npos) {
        status.occurrence = parseCount(text.substr(at + 1), option);
    }
    o.option.bootStatusError = status;
}

// BLOCK:CODE
void setEraseError(SimOptions& o, std::string_view text, const std::string& option) {
    const auto [block, code] = splitColon(text);
    if (code.empty()) {
        bad("--erase-error: expected BLOCK:CODE");
    }
    o.option.eraseError =
        OptionUnitFaults::EraseError{parseCount(block, option), parseByte(code, option)};
}

// The value and the option's name ("--slow"), for the table's short lambdas.
using Text = std::string_view;
using Name = const std::string&;

// Every option of the usage text above; applied in this order, each option's
// values in the order given (the last of a single value wins).
constexpr SimOption kOptions[] = {
    {"unit", "UNIT", nullptr, setUnit},
    {"version", "HHHH", nullptr, setVersion},
    {"noise", "MS", nullptr, setNoise},
    {"radios", "K", nullptr, setRadios},
    {"faulty-radio", "N", nullptr,
     [](SimOptions& o, Text v, Name n) { o.faultyRadio = parseCount(v, n); }},
    {"give-up-after", "S", nullptr,
     [](SimOptions& o, Text v, Name n) {
         o.giveUpAfter = Micros{parseNumber(v, 10, n) * 1'000'000};
     }},
    {"line-rate", nullptr, nullptr, [](SimOptions& o, Text, Name) { o.lineRate = true; }},
    {"adapter-packets", "US", nullptr,
     [](SimOptions& o, Text v, Name n) {
         o.adapterPacketInterval = Micros{parseNumber(v, 10, n)};
     }},
    {"link", "PATH", nullptr, [](SimOptions& o, Text v, Name) { o.link = v; }},
    {"report", "FILE", nullptr, [](SimOptions& o, Text v, Name) { o.reportFile = v; }},
    {"memory-out", "FILE", nullptr, [](SimOptions& o, Text v, Name) { o.memoryFile = v; }},
    {"idle-exit", "S", nullptr,
     [](SimOptions& o, Text v, Name n) { o.idleExit = Micros{parseNumber(v, 10, n) * 1'000'000}; }},
    {"blank", nullptr, nullptr, [](SimOptions& o, Text, Name) { o.config.blank = true; }},
    {"echo-delay", "US", nullptr,
     [](SimOptions& o, Text v, Name n) { o.config.echoDelay = Micros{parseNumber(v, 10, n)}; }},
    {"answer-delay", "US", nullptr,
     [](SimOptions& o, Text v, Name n) { o.config.answerDelay = Micros{parseNumber(v, 10, n)}; }},
    {"ready-interval", "MS", nullptr,
     [](SimOptions& o, Text v, Name n) { o.config.readyInterval = parseMillis(v, n); }},
    {"enter-delay", "MS", nullptr,
     [](SimOptions& o, Text v, Name n) { o.config.enterDelay = parseMillis(v, n); }},
    {"erase-time", "MS", nullptr,
     [](SimOptions& o, Text v, Name n) { o.config.eraseTime = parseMillis(v, n); }},
    {"answer-foreign-id", nullptr, nullptr,
     [](SimOptions& o, Text, Name) { o.config.answerForeignIdentification = true; }},
    {"refuse-frame", "K:CODE", nullptr, addRefusal},
    {"silent-from-frame", "K", nullptr,
     [](SimOptions& o, Text v, Name n) { o.common.silentFromFrame = parseCount(v, n); }},
    {"silent-from", "SEL", nullptr,
     [](SimOptions& o, Text v, Name n) { o.common.silentFrom = parseSelector(v, n); }},
    {"silence-echo", nullptr, nullptr,
     [](SimOptions& o, Text, Name) { o.common.silenceEcho = true; }},
    {"vanish-after-frame", "K", nullptr,
     [](SimOptions& o, Text v, Name n) { o.common.vanishAfterFrame = parseCount(v, n); }},
    {"garbage", "SEL", "",
     [](SimOptions& o, Text v, Name n) { o.common.garbageBefore = selectorOr(v, n); }},
    {"garbage-instead", "SEL", "",
     [](SimOptions& o, Text v, Name n) { o.common.garbageInstead = selectorOr(v, n); }},
    {"garbage-byte", "HH", nullptr,
     [](SimOptions& o, Text v, Name n) { o.common.garbageByte = parseByte(v, n); }},
    {"bad-sum", "SEL", "",
     [](SimOptions& o, Text v, Name n) { o.common.badCheck = selectorOr(v, n); }},
    {"bad-id", "TEXT", "XXXXX", [](SimOptions& o, Text v, Name) { o.common.identification = v; }},
    {"slow", "MS[:SEL]", nullptr,
     [](SimOptions& o, Text v, Name n) {
         const auto [ms, selector] = splitColon(v);
         o.common.slowBy = parseMillis(ms, n);
         o.common.slow = selectorOr(selector, n);
     }},
    {"truncate", "N[:SEL]", nullptr,
     [](SimOptions& o, Text v, Name n) {
         const auto [count, selector] = splitColon(v);
         o.common.truncateTo = parseCount(count, n);
         o.common.truncate = selectorOr(selector, n);
     }},
    {"split", "N[:SEL]", nullptr,
     [](SimOptions& o, Text v, Name n) {
         const auto [count, selector] = splitColon(v);
         o.common.splitAfter = parseCount(count, n);
         o.common.split = selectorOr(selector, n);
     }},
    {"refuse-version", nullptr, nullptr,
     [](SimOptions& o, Text, Name) { o.master.refuseVersion = true; }},
    {"refuse-select-erase", nullptr, nullptr,
     [](SimOptions& o, Text, Name) { o.slave.refuseSelectErase = true; }},
    {"refuse-end-frame", nullptr, nullptr,
     [](SimOptions& o, Text, Name) {
         o.slave.refuseEndFrame = true;
         o.option.refuseEndFrame = true;
     }},
    {"unit-size", "HHHH", nullptr, setUnitSize},
    {"enter-error", "CODE", nullptr,
     [](SimOptions& o, Text v, Name n) { o.option.enterError = parseByte(v, n); }},
    {"boot-status", "CODE[@N]", nullptr, setBootStatus},
    {"check-blank-error", "CODE", nullptr,
     [](SimOptions& o, Text v, Name n) { o.option.checkBlankError = parseByte(v, n); }},
    {"erase-error", "BLOCK:CODE", nullptr, setEraseError},
};

// Arguments pass through Qt's parser as Latin-1, one character a byte, so a
// path comes back byte for byte whatever its encoding.
std::string toBytes(const QString& text) {
    return text.toLatin1().toStdString();
}

// Qt's parser knows no optional values: a bare --garbage is handed to it as
// --garbage= with the value it stands for.
QStringList withBareValuesFilled(int argc, const char* const* argv) {
    QStringList list{QStringLiteral("rq7300-sim")};
    for (int i = 1; i < argc; ++i) {
        QString arg = QString::fromLatin1(argv[i]);
        for (const SimOption& option : kOptions) {
            if (option.whenBare != nullptr && arg == QLatin1String("--") + option.name) {
                arg += QLatin1Char('=') + QString::fromLatin1(option.whenBare);
            }
        }
        list.append(arg);
    }
    return list;
}

// The parser's complaint in the words of the other messages.
std::string parseError(const QCommandLineParser& parser) {
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty()) {
        return "unknown option " + std::string(unknown.front().size() == 1 ? "-" : "--") +
               toBytes(unknown.front());
    }
    QString text = parser.errorText();
    if (text.endsWith(QLatin1Char('.'))) {
        text.chop(1);
    }
    return toBytes(text.isEmpty() ? text : text.front().toLower() + text.mid(1));
}

}  // namespace

const char* simUsage() {
    return kUsage;
}

SimOptions parseSimOptions(int argc, const char* const* argv) {
    QCommandLineParser parser;
    parser.addOption(QCommandLineOption({"h", "help"}, QString()));
    for (const SimOption& option : kOptions) {
        parser.addOption(QCommandLineOption(option.name, QString(),
                                            option.valueName ? option.valueName : QString()));
    }
    if (!parser.parse(withBareValuesFilled(argc, argv))) {
        bad(parseError(parser));
    }
    if (const QStringList stray = parser.positionalArguments(); !stray.isEmpty()) {
        bad("unexpected argument " + toBytes(stray.front()));
    }
    SimOptions o;
    o.help = parser.isSet(QStringLiteral("help"));
    for (const SimOption& option : kOptions) {
        const std::string name = std::string("--") + option.name;
        if (option.valueName == nullptr) {
            if (parser.isSet(option.name)) {
                option.apply(o, {}, name);
            }
            continue;
        }
        for (const QString& value : parser.values(option.name)) {
            option.apply(o, toBytes(value), name);
        }
    }
    if (o.noiseInterval > Micros{0} && !o.noUnit) {
        bad("--noise goes with --unit none");
    }
    if (o.faultyRadio > o.radios) {
        bad("--faulty-radio: there are only " + std::to_string(o.radios) + " radios");
    }
    return o;
}

std::unique_ptr<RadioModel> makeModel(const SimOptions& options) {
    const RadioConfig& config = options.config;
    switch (options.unit) {
        case Unit::MasterCpu: {
            MasterFaults faults = options.master;
            static_cast<CommonFaults&>(faults) = options.common;
            return std::make_unique<MasterCpuModel>(config, faults);
        }
        case Unit::SlaveCpu: {
            SlaveFaults faults = options.slave;
            static_cast<CommonFaults&>(faults) = options.common;
            return std::make_unique<SlaveCpuModel>(config, faults);
        }
        case Unit::OptionUnit: {
            OptionUnitFaults faults = options.option;
            static_cast<CommonFaults&>(faults) = options.common;
            return std::make_unique<OptionUnitModel>(options.config, faults);
        }
    }
    return nullptr;
}

std::unique_ptr<RadioModel> makeFleetModel(const SimOptions& options, int index) {
    SimOptions radio = options;
    radio.config.version = static_cast<std::uint16_t>(options.config.version + index - 1);
    if (options.faultyRadio != 0 && options.faultyRadio != index) {
        radio.common = CommonFaults{};
        radio.master = MasterFaults{};
        radio.slave = SlaveFaults{};
        radio.option = OptionUnitFaults{};
        radio.option.programmingUnit = options.option.programmingUnit;  // not a fault
    }
    return makeModel(radio);
}

std::string fleetFileName(const std::string& file, const SimOptions& options, int index) {
    if (file.empty() || options.radios == 1) {
        return file;
    }
    return file + "." + std::to_string(index);
}

}  // namespace qrb::sim
