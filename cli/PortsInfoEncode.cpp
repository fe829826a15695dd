// qrb117-cli ports, info and encode: the commands that do not talk to a radio.
#include <cstdio>
#include <filesystem>
#include <optional>

#include "cli/Commands.h"
#include "cli/FileChecks.h"
#include "cli/TerminalHost.h"
#include "cli/Usage.h"
#include "firmware/FirmwareError.h"
#include "firmware/SflEncoder.h"
#include "firmware/U_FileAccessQRB.h"
#include "serial/U_ComRS.h"

namespace qrb::cli {

int RunPorts(const Arguments& args) {
    const CommandLine commandLine(args, {});
    if (commandLine.wantsHelp()) {
        return ShowHelp(kPortsHelp);
    }
    if (!commandLine.operands().empty()) {
        throw UsageError("ports takes no arguments");
    }
    const std::unique_ptr<RegistryReader> registry = MakeSystemRegistry();
    std::vector<std::string> ports;
    ListComPorts(*registry, ports);
    for (const auto& port : ports) {
        std::printf("%s\n", port.c_str());
    }
    return kExitOk;
}

int RunInfo(const Arguments& args) {
    const CommandLine commandLine(args, {});
    if (commandLine.wantsHelp()) {
        return ShowHelp(kInfoHelp);
    }
    const Arguments files = commandLine.operands();
    if (files.size() != 1) {
        throw UsageError("info takes one FILE");
    }
    const std::string& file = files[0];
    FileFacts facts;
    try {
        facts = CheckFirmwareFile(file, std::nullopt);
    } catch (const FileProblem& e) {
        std::fprintf(stderr, "qrb117-cli: %s\n", e.what());
        return kExitUsage;
    }
    std::printf("File:     %s\n", file.c_str());
    std::printf("Target:   %s\n", TargetName(facts.target).c_str());
    std::printf("Header:\n");
    for (const auto& line : facts.header.HeaderLines) {
        std::printf("  %s\n", line.c_str());
    }
    std::printf("Ends in ALL: %s\n", facts.header.WriteAllAreas ? "yes" : "no");
    if (facts.target == kSlaveCpu) {
        std::printf("Lines sent: %d\n", facts.slaveLineCount);
    } else {
        std::printf("%s\n", TerminalText(facts.checksumText).c_str());
    }
    return kExitOk;
}

int RunEncode(const Arguments& args) {
    const CommandLine commandLine(args, {});
    if (commandLine.wantsHelp()) {
        return ShowHelp(kEncodeHelp);
    }
    const Arguments files = commandLine.operands();
    if (files.size() != 2) {
        throw UsageError("encode takes IN and OUT");
    }
    const std::string& in = files[0];
    const std::string& out = files[1];
    if (std::filesystem::exists(out) && std::filesystem::equivalent(in, out)) {
        throw UsageError("IN and OUT are the same file");
    }
    try {
        const SflKind kind = EncodeSflFile(in, out);
        std::printf("%s: encoded %s file written\n", out.c_str(),
                    kind == SflKind::IntelHex ? "Intel HEX" : "S-record");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qrb117-cli: %s\n", e.what());
        return kExitUsage;
    }
    return kExitOk;
}

}  // namespace qrb::cli
