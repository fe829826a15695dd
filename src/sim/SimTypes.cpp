// Names of the steps and the text form of violations.
#include "sim/SimTypes.h"

#include <array>
#include <cstdio>
#include <utility>

namespace qrb::sim {
namespace {

constexpr std::array<std::pair<Step, std::string_view>, 21> kStepNames{{
    {Step::Any, "any"},
    {Step::Ready, "ready"},
    {Step::Identification, "identification"},
    {Step::MasterVersion, "master-version"},
    {Step::UnitVersion, "unit-version"},
    {Step::SelectErase, "select-erase"},
    {Step::Frame, "frame"},
    {Step::EndFrame, "end-frame"},
    {Step::QueryProgrammingUnit, "query-unit"},
    {Step::SelectDevice, "select-device"},
    {Step::SelectClockMode, "select-clock"},
    {Step::SelectBitRate, "select-bitrate"},
    {Step::ConfirmBitRate, "confirm-bitrate"},
    {Step::EnterProgrammingState, "enter"},
    {Step::Routine, "routine"},
    {Step::QueryBootStatus, "boot-status"},
    {Step::CheckBlank, "check-blank"},
    {Step::EraseBlock, "erase"},
    {Step::EraseEnd, "erase-end"},
    {Step::SelectProgramming, "select-programming"},
    {Step::ReadUnitChecksum, "checksum"},
}};

}  // namespace

std::string_view stepName(Step step) {
    for (const auto& [value, name] : kStepNames) {
        if (value == step) {
            return name;
        }
    }
    return "?";
}

std::optional<Step> parseStep(std::string_view name) {
    for (const auto& [value, known] : kStepNames) {
        if (known == name) {
            return value;
        }
    }
    return std::nullopt;
}

std::string formatViolation(const Violation& violation) {
    const auto us = violation.at.count();
    char when[48];
    std::snprintf(when, sizeof when, "%lld.%06lld s: ", static_cast<long long>(us / 1'000'000),
                  static_cast<long long>(us % 1'000'000));
    return when + violation.what;
}

}  // namespace qrb::sim
