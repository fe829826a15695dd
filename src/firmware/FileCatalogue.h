// The firmware file catalogue without widgets: which firmware files of the
// three targets lie in the firmware folder, the grid rows that list them
// sorted on their date text, the three target filter buttons, and the step
// that turns the selected row into the file name and target of the next write.
// The main window mirrors this state into its grid and buttons.
#pragma once

#include <QLocale>

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace qrb {

// Grid columns: file name, date text, blank.
using GridRow = std::array<std::string, 3>;
using GridRows = std::vector<GridRow>;

inline constexpr int kNameColumn = 0;
inline constexpr int kDateColumn = 1;

// Targets in button order; the values are those of WriteTarget.
inline constexpr int kCatalogueMasterCpu = 0;
inline constexpr int kCatalogueSlaveCpu = 1;
inline constexpr int kCatalogueOptionUnit = 2;
inline constexpr int kTargetCount = 3;

// File name patterns per target: '?' is exactly one character, letters match
// in either case.
inline constexpr std::array<std::string_view, kTargetCount> TargetPattern = {
    "TN508???_M_V????.SFL",
    "TN508???_S_V????.SFL",
    "TQX37_V????.SFL",
};

// The folder, a '/' unless the folder already ends in one, then the pattern.
std::string SearchPath(const std::string& folder, std::string_view pattern);

// True when name matches pattern ('?' one character, ASCII letters in either
// case, every other character itself).
bool MatchesPattern(std::string_view name, std::string_view pattern);

// "<short date> <long time>" of a last-write time (seconds since the epoch),
// taken in local time and rounded down to two seconds; the date alone when
// the time of day is exactly midnight.
std::string DateText(long long secondsSinceEpoch, const QLocale& locale);

// DateText for many entries with one locale.
class DateTextFormat {
  public:
    explicit DateTextFormat(const QLocale& locale);
    std::string text(long long secondsSinceEpoch) const;

  private:
    static QString withoutZone(const QString& format);

    QLocale locale_;
    QString timeFormat_;
};

// Appends {name, date text, ""} for every entry of folder (files and
// directories, hidden ones included) whose name matches pattern, in the order
// the directory lists them. False when none matched (rows unchanged); a folder
// that does not exist or cannot be read matches nothing.
bool AddMatchingFiles(GridRows& rows, const std::string& folder, std::string_view pattern,
                      const QLocale& locale);

// Sorts rows first..last (indices into rows) on one column, descending, by
// byte-wise comparison: quicksort with Hoare partitioning and the pivot at
// (first + last) / 2.
void SortRows(GridRows& rows, int first, int last, int column);

// Sorts the data rows (row 1 on) by date text, descending; rows with equal
// date text by name, descending. Does nothing while only row 0 exists.
void SortFileList(GridRows& rows);

// What a selected file name says about its target.
enum class FileKind { MasterCpu, SlaveCpu, OptionUnit, KeepTarget, NotFirmware };

// "TN508" with "_M_" first found at character 9 (from 1): MasterCpu; else
// "_S_" first found there: SlaveCpu; else KeepTarget (the header is still
// read). "TQX37": OptionUnit. Anything else: NotFirmware. Case-sensitive.
FileKind TargetFromFileName(std::string_view name);

struct TargetButtonState {
    bool down = false;
    bool enabled = false;
    bool ToggledByMouse = false;  // a mouse release over the button was seen
};

class FileCatalogue {
  public:
    // firmwareFolder: the folder searched (normally the current directory).
    explicit FileCatalogue(std::string firmwareFolder, const QLocale& locale = QLocale());

    // The folder searched; the front end keeps it equal to the current
    // directory (file names in the rows are relative to it).
    std::string FirmwareFolder;

    const GridRows& rows() const { return rows_; }
    bool headerRowFixed() const { return headerRowFixed_; }
    int currentRow() const { return currentRow_; }
    // The person selected another row (mouse or keyboard in the grid).
    void setCurrentRow(int row);
    // The person dragged a row to another place (grid row moving).
    void moveRow(int from, int to);

    const TargetButtonState& button(int target) const { return buttons_.at(target); }
    // UpdateWriteButton after a rebuild; a selected file without record start
    // clears it until the next rebuild.
    bool WriteButtonEnabled() const { return writeEnabled_; }

    // All buttons up, list rebuilt from all three targets, sorted. The front
    // end runs SelectCurrentRow afterwards.
    void Reload();

    // The click handler of a target button. Toggles the button (with its
    // group) unless a mouse release already did (ToggledByMouse), clears the
    // flag, rebuilds the list for that target, or for all three when the
    // button ended up, and sorts. The front end runs SelectCurrentRow after.
    void PressTargetButton(int target);

    // A mouse button was released over the target button, whether or not the
    // release completes a click.
    void MouseUpOnTargetButton(int target);

    // The down state changed by the widget itself (a completed mouse click
    // toggles it before the click handler runs). Down puts the others up.
    void SetTargetButtonDown(int target, bool down);

    // A whole mouse click: the widget toggles, the release is seen, the click
    // handler runs.
    void MouseClickTargetButton(int target);

    // The selection step: selectedFileName := name in the current row,
    // memoLines cleared, target from the name; for a firmware name the header
    // is read into memoLines (record start found) or the WRITE button is
    // disabled (none found). writeAllAreas reflects the header read, and is
    // false when the file cannot be opened; FileAccessError then propagates
    // with selectedFileName already set and memoLines empty.
    void SelectCurrentRow(std::string& selectedFileName, int& selectedTarget,
                          std::vector<std::string>& memoLines, bool& writeAllAreas);

  private:
    void clearList();
    bool addTarget(int target);
    void updateWriteButton();

    QLocale locale_;
    GridRows rows_;
    bool headerRowFixed_ = false;
    int currentRow_ = 0;
    std::array<TargetButtonState, kTargetCount> buttons_{};
    bool writeEnabled_ = false;
};

}  // namespace qrb
