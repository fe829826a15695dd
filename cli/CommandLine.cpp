#include "cli/CommandLine.h"

#include <cstdio>

#include "cli/Usage.h"

namespace qrb::cli {

namespace {

// Arguments pass through the parser as Latin-1, one character a byte, so a
// file name comes back byte for byte whatever its encoding.
QString FromArgument(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToArgument(const QString& text) {
    return text.toLatin1().toStdString();
}

// Qt's parser names an unknown option without its dashes.
std::string UsageErrorText(const QCommandLineParser& parser) {
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty()) {
        const QString& name = unknown.front();
        return "unknown option " + std::string(name.size() == 1 ? "-" : "--") + ToArgument(name);
    }
    // "Missing value after '--port'." as the other messages are written.
    QString text = parser.errorText();
    if (!text.isEmpty()) {
        text[0] = text[0].toLower();
    }
    if (text.endsWith(QLatin1Char('.'))) {
        text.chop(1);
    }
    return ToArgument(text);
}

}  // namespace

CommandLine::CommandLine(const Arguments& args, const QList<QCommandLineOption>& options,
                         Scope scope) {
    parser_.addOption(QCommandLineOption({"h", "help"}, QString()));
    parser_.addOptions(options);
    if (scope == Scope::Program) {
        parser_.setOptionsAfterPositionalArgumentsMode(
            QCommandLineParser::ParseAsPositionalArguments);
    }
    QStringList list{QStringLiteral("qrb117-cli")};
    for (const auto& a : args) {
        list.append(FromArgument(a));
    }
    if (!parser_.parse(list) && !wantsHelp()) {
        throw UsageError(UsageErrorText(parser_));
    }
}

bool CommandLine::wantsHelp() const {
    return parser_.isSet(QStringLiteral("help"));
}

bool CommandLine::isSet(const QString& name) const {
    return parser_.isSet(name);
}

std::optional<std::string> CommandLine::value(const QString& name) const {
    if (!parser_.isSet(name)) {
        return std::nullopt;
    }
    return ToArgument(parser_.value(name));
}

Arguments CommandLine::operands() const {
    Arguments result;
    for (const QString& operand : parser_.positionalArguments()) {
        result.push_back(ToArgument(operand));
    }
    return result;
}

int ShowHelp(const char* text) {
    std::fputs(text, stdout);
    return kExitOk;
}

}  // namespace qrb::cli
