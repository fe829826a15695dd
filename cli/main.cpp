// qrb117-cli: the write engine of the window program without windows, for
// scripted updates of many radios, demos and end-to-end tests.
#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <exception>

#include "cli/BuildInfo.h"
#include "cli/Commands.h"
#include "cli/Usage.h"

int main(int argc, char** argv) {
    using namespace qrb::cli;
    if (argc < 2) {
        std::fputs(kMainHelp, stderr);
        return kExitUsage;
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kMainHelp, stdout);
        return kExitOk;
    }
    if (command == "--version") {
        std::fputs(VersionText().c_str(), stdout);
        return kExitOk;
    }
    // The serial component delivers its events through Qt's event loop.
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    const Arguments args(argv + 2, argv + argc);
    try {
        if (command == "ports") {
            return RunPorts(args);
        }
        if (command == "info") {
            return RunInfo(args);
        }
        if (command == "write") {
            return RunWrite(args);
        }
        if (command == "encode") {
            return RunEncode(args);
        }
        throw UsageError("unknown command '" + command + "'");
    } catch (const UsageError& e) {
        std::fprintf(stderr, "qrb117-cli: %s\nRun 'qrb117-cli --help' for usage.\n", e.what());
        return kExitUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qrb117-cli: %s\n", e.what());
        return kExitFailed;
    }
}
