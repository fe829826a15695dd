// Parsing of rq7300-sim's command line.
#include "SimOptions.h"

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

}  // namespace

const char* simUsage() {
    return kUsage;
}

SimOptions parseSimOptions(int argc, const char* const* argv) {
    SimOptions o;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string_view inlineValue;
        bool hasInline = false;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            inlineValue = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasInline = true;
        }
        const std::string name(arg);
        const auto value = [&]() -> std::string_view {
            if (hasInline) {
                return inlineValue;
            }
            if (i + 1 >= argc) {
                bad(name + " needs a value");
            }
            return argv[++i];
        };

        if (name == "--help" || name == "-h") {
            o.help = true;
        } else if (name == "--unit") {
            const auto unit = value();
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
        } else if (name == "--version") {
            const auto text = value();
            const long version = parseNumber(text, 16, name);
            if (text.size() != 4 || version > 0xFFFF) {
                bad("--version: expected four hexadecimal digits");
            }
            o.config.version = static_cast<std::uint16_t>(version);
        } else if (name == "--noise") {
            o.noiseInterval = Micros{parseNumber(value(), 10, name) * 1'000};
            if (o.noiseInterval <= Micros{0}) {
                bad("--noise: expected an interval of at least 1 ms");
            }
        } else if (name == "--radios") {
            o.radios = static_cast<int>(parseNumber(value(), 10, name));
            if (o.radios < 1 || o.radios > 1000) {
                bad("--radios: expected 1 to 1000");
            }
        } else if (name == "--faulty-radio") {
            o.faultyRadio = static_cast<int>(parseNumber(value(), 10, name));
        } else if (name == "--give-up-after") {
            o.giveUpAfter = Micros{parseNumber(value(), 10, name) * 1'000'000};
        } else if (name == "--line-rate") {
            o.lineRate = true;
        } else if (name == "--adapter-packets") {
            o.adapterPacketInterval = Micros{parseNumber(value(), 10, name)};
        } else if (name == "--link") {
            o.link = value();
        } else if (name == "--report") {
            o.reportFile = value();
        } else if (name == "--memory-out") {
            o.memoryFile = value();
        } else if (name == "--idle-exit") {
            o.idleExit = Micros{parseNumber(value(), 10, name) * 1'000'000};
        } else if (name == "--blank") {
            o.config.blank = true;
        } else if (name == "--echo-delay") {
            o.config.echoDelay = Micros{parseNumber(value(), 10, name)};
        } else if (name == "--answer-delay") {
            o.config.answerDelay = Micros{parseNumber(value(), 10, name)};
        } else if (name == "--ready-interval") {
            o.config.readyInterval = Micros{parseNumber(value(), 10, name) * 1'000};
        } else if (name == "--enter-delay") {
            o.config.enterDelay = Micros{parseNumber(value(), 10, name) * 1'000};
        } else if (name == "--erase-time") {
            o.config.eraseTime = Micros{parseNumber(value(), 10, name) * 1'000};
        } else if (name == "--answer-foreign-id") {
            o.config.answerForeignIdentification = true;
        } else if (name == "--refuse-frame") {
            const auto [frame, rest] = splitColon(value());
            const auto [code, times] = splitColon(rest);
            if (code.empty()) {
                bad("--refuse-frame: expected K:CODE");
            }
            FrameRefusal refusal;
            refusal.frame = static_cast<int>(parseNumber(frame, 10, name));
            refusal.code = parseByte(code, name);
            if (times == "always") {
                refusal.times = kEvery;
            } else if (!times.empty()) {
                refusal.times = static_cast<int>(parseNumber(times, 10, name));
            }
            o.master.refusals.push_back(refusal);
            o.slave.refusals.push_back(refusal);
            o.option.refusals.push_back(refusal);
        } else if (name == "--silent-from-frame") {
            o.common.silentFromFrame = static_cast<int>(parseNumber(value(), 10, name));
        } else if (name == "--silent-from") {
            o.common.silentFrom = parseSelector(value(), name);
        } else if (name == "--silence-echo") {
            o.common.silenceEcho = true;
        } else if (name == "--vanish-after-frame") {
            o.common.vanishAfterFrame = static_cast<int>(parseNumber(value(), 10, name));
        } else if (name == "--garbage") {
            o.common.garbageBefore = selectorOr(inlineValue, name);
        } else if (name == "--garbage-instead") {
            o.common.garbageInstead = selectorOr(inlineValue, name);
        } else if (name == "--garbage-byte") {
            o.common.garbageByte = parseByte(value(), name);
        } else if (name == "--bad-sum") {
            o.common.badCheck = selectorOr(inlineValue, name);
        } else if (name == "--bad-id") {
            o.common.identification = hasInline ? std::string(inlineValue) : "XXXXX";
        } else if (name == "--slow") {
            const auto [ms, selector] = splitColon(value());
            o.common.slowBy = Micros{parseNumber(ms, 10, name) * 1'000};
            o.common.slow = selectorOr(selector, name);
        } else if (name == "--truncate") {
            const auto [count, selector] = splitColon(value());
            o.common.truncateTo = static_cast<int>(parseNumber(count, 10, name));
            o.common.truncate = selectorOr(selector, name);
        } else if (name == "--split") {
            const auto [count, selector] = splitColon(value());
            o.common.splitAfter = static_cast<int>(parseNumber(count, 10, name));
            o.common.split = selectorOr(selector, name);
        } else if (name == "--refuse-version") {
            o.master.refuseVersion = true;
        } else if (name == "--refuse-select-erase") {
            o.slave.refuseSelectErase = true;
        } else if (name == "--refuse-end-frame") {
            o.slave.refuseEndFrame = true;
            o.option.refuseEndFrame = true;
        } else if (name == "--unit-size") {
            const long size = parseNumber(value(), 16, name);
            if (size > 0xFFFF) {
                bad("--unit-size: expected four hexadecimal digits");
            }
            o.option.programmingUnit = static_cast<std::uint16_t>(size);
        } else if (name == "--enter-error") {
            o.option.enterError = parseByte(value(), name);
        } else if (name == "--boot-status") {
            const auto text = value();
            const auto at = text.find('@');
            OptionUnitFaults::BootStatus status;
            status.code = parseByte(text.substr(0, at), name);
            if (at != std::string_view::npos) {
                status.occurrence = static_cast<int>(parseNumber(text.substr(at + 1), 10, name));
            }
            o.option.bootStatusError = status;
        } else if (name == "--check-blank-error") {
            o.option.checkBlankError = parseByte(value(), name);
        } else if (name == "--erase-error") {
            const auto [block, code] = splitColon(value());
            if (code.empty()) {
                bad("--erase-error: expected BLOCK:CODE");
            }
            o.option.eraseError = OptionUnitFaults::EraseError{
                static_cast<int>(parseNumber(block, 10, name)), parseByte(code, name)};
        } else {
            bad("unknown option " + std::string(argv[i]));
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
