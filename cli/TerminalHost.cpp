#include "cli/TerminalHost.h"

#include <cctype>
#include <cstdio>
#include <iostream>

namespace qrb::cli {

namespace {

const char* UnitName(WriteTarget target) {
    switch (target) {
        case 0:
            return "Master CPU";
        case 1:
            return "Slave CPU";
        default:
            return "OLU-6";
    }
}

std::string Lowered(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

}  // namespace

std::string TerminalText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        out += text[i];
    }
    return out;
}

bool AskLine(const std::string& prompt, std::string& answer) {
    std::fprintf(stderr, "%s", prompt.c_str());
    std::fflush(stderr);
    return static_cast<bool>(std::getline(std::cin, answer));
}

TerminalHost::TerminalHost(HostAnswers answers, bool stderrIsTerminal)
    : answers_(answers), progress_(stderr, stderrIsTerminal) {}

void TerminalHost::activity() {
    if (onActivity_) {
        onActivity_();
    }
}

void TerminalHost::setInstructionText(const std::string& text) {
    activity();
    if (text.empty() || text == lastText_) {
        return;
    }
    lastText_ = text;
    progress_.finish();
    std::printf("%s\n", TerminalText(text).c_str());
    std::fflush(stdout);
}

void TerminalHost::setVersionLabel(WriteTarget target, const std::string& text) {
    activity();
    progress_.finish();
    std::printf("%s version: %s\n", UnitName(target), text.c_str());
    std::fflush(stdout);
}

void TerminalHost::workStarted(WorkPhase phase, int total) {
    progress_.begin(PhaseName(phase), total);
    activity();
    progress_.update(0);
}

void TerminalHost::workProgressed(const WorkProgress& progress) {
    activity();
    progress_.update(progress.done);
}

void TerminalHost::workEnded() {
    progress_.finish();
}

bool TerminalHost::askProblemOnComPort() {
    progress_.finish();
    std::fprintf(stderr, "Problem on COM port\n");
    if (answers_.attemptsGiven || !answers_.interactive) {
        if (attemptsMade_ < answers_.attempts) {
            ++attemptsMade_;
            std::fprintf(stderr, "Attempt %d of %d.\n", attemptsMade_, answers_.attempts);
            return true;
        }
        return false;
    }
    std::string answer;
    if (!AskLine("Try again? [OK = Enter / Cancel = c] ", answer)) {
        return false;
    }
    const std::string reply = Lowered(answer);
    const bool again = reply.empty() || reply == "ok" || reply == "y" || reply == "yes";
    if (again) {
        ++attemptsMade_;
    }
    return again;
}

bool TerminalHost::askOkConfirmation() {
    progress_.finish();
    if (answers_.confirmWithoutAsking) {
        return true;
    }
    if (!answers_.interactive) {
        std::fprintf(stderr, "Ok ? not confirmed: standard input is not a terminal (use --yes).\n");
        return false;
    }
    std::string answer;
    if (!AskLine("Ok ? [OK = Enter] ", answer)) {
        return false;
    }
    const std::string reply = Lowered(answer);
    return reply.empty() || reply == "ok" || reply == "y" || reply == "yes";
}

void TerminalHost::showError(const std::string& message) {
    progress_.finish();
    std::fprintf(stderr, "qrb117-cli: %s\n", message.c_str());
}

}  // namespace qrb::cli
