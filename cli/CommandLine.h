// The arguments of qrb117-cli on Qt's command-line parser: the program's own
// (the command name and --help) and each command's options and operands.
// Every command takes -h and --help; its help text is written by hand in
// Usage.cpp, so the options here carry no descriptions.
#pragma once

#include <QCommandLineParser>
#include <optional>
#include <string>
#include <vector>

namespace qrb::cli {

using Arguments = std::vector<std::string>;

class CommandLine {
  public:
    // Which options the parser reads: a command's options anywhere among its
    // operands, or the program's options up to the command name, everything
    // after which is the command's.
    enum class Scope { Command, Program };

    // Throws UsageError for an unknown option or a missing value, unless
    // help was asked for.
    CommandLine(const Arguments& args, const QList<QCommandLineOption>& options,
                Scope scope = Scope::Command);

    bool wantsHelp() const;
    bool isSet(const QString& name) const;
    // The value of an option given more than once is the last one.
    std::optional<std::string> value(const QString& name) const;
    // The operands; with Scope::Program the command name and its arguments.
    Arguments operands() const;

  private:
    QCommandLineParser parser_;
};

// Prints a command's help text on standard output; returns kExitOk.
int ShowHelp(const char* text);

}  // namespace qrb::cli
