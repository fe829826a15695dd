// qrb117-cli: the write engine of the window program without windows, for
// scripted updates of many radios, demos and end-to-end tests.
#include <QCoreApplication>
#include <cstdio>
#include <exception>

#include "cli/BuildInfo.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Usage.h"

namespace {

using namespace qrb::cli;

struct Command {
    const char* name;
    int (*run)(const Arguments& args);
};

constexpr Command kCommands[] = {
    {"ports", RunPorts},   {"info", RunInfo},     {"write", RunWrite},
    {"encode", RunEncode}, {"detect", RunDetect},
};

// COMMAND [ARGUMENTS...]: the program's --help, or the command's status.
int RunCommandLine(const Arguments& all) {
    const CommandLine line(all, {QCommandLineOption("version")}, CommandLine::Scope::Program);
    const Arguments words = line.operands();
    if (line.wantsHelp() || (!words.empty() && words.front() == "help")) {
        return ShowHelp(kMainHelp);
    }
    if (line.isSet("version")) {
        std::fputs(VersionText().c_str(), stdout);
        return kExitOk;
    }
    if (words.empty()) {
        std::fputs(kMainHelp, stderr);
        return kExitUsage;
    }
    for (const Command& command : kCommands) {
        if (words.front() == command.name) {
            return command.run(Arguments(words.begin() + 1, words.end()));
        }
    }
    throw UsageError("unknown command '" + words.front() + "'");
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
