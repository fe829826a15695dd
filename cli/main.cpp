// qrb117-cli: the write engine of the window program without windows, for
// scripted updates of many radios, demos and end-to-end tests.
#include <QCoreApplication>
#include <cstdio>
#include <exception>
#include <functional>
#include <map>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Usage.h"

namespace {

using namespace qrb::cli;

const std::map<std::string, std::function<int(const Arguments&)>> kCommands = {
    {"ports", RunPorts},   {"info", RunInfo},     {"write", RunWrite},
    {"encode", RunEncode}, {"detect", RunDetect},
};

// COMMAND [ARGUMENTS...]: the program's --help, or the command's status.
int RunCommandLine(const Arguments& all) {
    const CommandLine line(all, {}, CommandLine::Scope::Program);
    const Arguments words = line.operands();
    if (line.wantsHelp() || (!words.empty() && words.front() == "help")) {
        return ShowHelp(kMainHelp);
    }
    if (words.empty()) {
        std::fputs(kMainHelp, stderr);
        return kExitUsage;
    }
    const auto command = kCommands.find(words.front());
    if (command == kCommands.end()) {
        throw UsageError("unknown command '" + words.front() + "'");
    }
    return command->second(Arguments(words.begin() + 1, words.end()));
}

}  // namespace

int main(int argc, char** argv) {
    // The serial component delivers its events through Qt's event loop; the
    // arguments are ours, not Qt's.
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    try {
        return RunCommandLine(Arguments(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        std::fprintf(stderr, "qrb117-cli: %s\nRun 'qrb117-cli --help' for usage.\n", e.what());
        return kExitUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qrb117-cli: %s\n", e.what());
        return kExitFailed;
    }
}
