#include "firmware/FileCatalogue.h"

#include <utility>

#include "firmware/FirmwareError.h"
#include "firmware/U_FileAccessQRB.h"

namespace qrb {

namespace {

// Which targets a press of each button lists after its own when it ends up
// (no filter).
constexpr std::array<std::array<int, 2>, kTargetCount> kOtherTargets = {{
    {kCatalogueSlaveCpu, kCatalogueOptionUnit},
    {kCatalogueMasterCpu, kCatalogueOptionUnit},
    {kCatalogueMasterCpu, kCatalogueSlaveCpu},
}};

}  // namespace

FileKind TargetFromFileName(std::string_view name) {
    // Character 9 counted from 1 is index 8.
    constexpr std::size_t kTargetLetterAt = 8;
    if (name.starts_with("TN508")) {
        if (name.find("_M_") == kTargetLetterAt) {
            return FileKind::MasterCpu;
        }
        if (name.find("_S_") == kTargetLetterAt) {
            return FileKind::SlaveCpu;
        }
        return FileKind::KeepTarget;
    }
    if (name.starts_with("TQX37")) {
        return FileKind::OptionUnit;
    }
    return FileKind::NotFirmware;
}

FileCatalogue::FileCatalogue(std::string firmwareFolder, const QLocale& locale)
    : FirmwareFolder(std::move(firmwareFolder)), locale_(locale) {
    clearList();
}

void FileCatalogue::setCurrentRow(int row) {
    if (row >= 0 && row < static_cast<int>(rows_.size())) {
        currentRow_ = row;
    }
}

void FileCatalogue::moveRow(int from, int to) {
    const int count = static_cast<int>(rows_.size());
    if (from < 0 || from >= count || to < 0 || to >= count || from == to) {
        return;
    }
    GridRow moved = std::move(rows_[static_cast<std::size_t>(from)]);
    rows_.erase(rows_.begin() + from);
    rows_.insert(rows_.begin() + to, std::move(moved));
}

void FileCatalogue::clearList() {
    rows_.assign(1, GridRow{"SFL File", "Date", ""});
    headerRowFixed_ = false;
    currentRow_ = 0;
}

bool FileCatalogue::addTarget(int target) {
    const bool found = AddMatchingFiles(rows_, FirmwareFolder,
                                        TargetPattern[static_cast<std::size_t>(target)], locale_);
    if (found && !headerRowFixed_) {
        // Fixing the header row moves the grid's current row to the first data row.
        headerRowFixed_ = true;
        currentRow_ = 1;
    }
    buttons_[static_cast<std::size_t>(target)].enabled = found;
    return found;
}

void FileCatalogue::updateWriteButton() {
    writeEnabled_ = false;
    for (const TargetButtonState& b : buttons_) {
        writeEnabled_ = writeEnabled_ || b.enabled;
    }
}

void FileCatalogue::Reload() {
    for (TargetButtonState& b : buttons_) {
        b.down = false;
    }
    clearList();
    for (int target = 0; target < kTargetCount; ++target) {
        addTarget(target);
    }
    SortFileList(rows_);
    updateWriteButton();
}

void FileCatalogue::SetTargetButtonDown(int target, bool down) {
    TargetButtonState& pressed = buttons_.at(static_cast<std::size_t>(target));
    pressed.down = down;
    if (down) {
        for (TargetButtonState& b : buttons_) {
            if (&b != &pressed) {
                b.down = false;
            }
        }
    }
}

void FileCatalogue::PressTargetButton(int target) {
    TargetButtonState& pressed = buttons_.at(static_cast<std::size_t>(target));
    // A mouse click has toggled the button already; the accelerator has not.
    if (!pressed.ToggledByMouse) {
        SetTargetButtonDown(target, !pressed.down);
    }
    pressed.ToggledByMouse = false;

    clearList();
    addTarget(target);
    if (!pressed.down) {
        for (int other : kOtherTargets[static_cast<std::size_t>(target)]) {
            addTarget(other);
        }
    }
    SortFileList(rows_);
    updateWriteButton();
}

void FileCatalogue::MouseUpOnTargetButton(int target) {
    buttons_.at(static_cast<std::size_t>(target)).ToggledByMouse = true;
}

void FileCatalogue::MouseClickTargetButton(int target) {
    SetTargetButtonDown(target, !buttons_.at(static_cast<std::size_t>(target)).down);
    MouseUpOnTargetButton(target);
    PressTargetButton(target);
}

void FileCatalogue::SelectCurrentRow(std::string& selectedFileName, int& selectedTarget,
                                     std::vector<std::string>& memoLines, bool& writeAllAreas) {
    selectedFileName = rows_.at(static_cast<std::size_t>(currentRow_))[kNameColumn];
    memoLines.clear();
    switch (TargetFromFileName(selectedFileName)) {
        case FileKind::MasterCpu:
            selectedTarget = kCatalogueMasterCpu;
            break;
        case FileKind::SlaveCpu:
            selectedTarget = kCatalogueSlaveCpu;
            break;
        case FileKind::OptionUnit:
            selectedTarget = kCatalogueOptionUnit;
            break;
        case FileKind::KeepTarget:
            break;
        case FileKind::NotFirmware:
            return;
    }
    // The reader starts from a cleared flag; it stays clear when the file
    // cannot be opened.
    writeAllAreas = false;
    const SflHeader header = ReadSflHeader(selectedFileName);
    writeAllAreas = header.WriteAllAreas;
    if (header.recordStartFound) {
        memoLines = header.HeaderLines;
    } else {
        writeEnabled_ = false;
    }
}

}  // namespace qrb
