#include "firmware/FileCatalogue.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "TempFiles.h"
#include "firmware/FirmwareError.h"

namespace qrb {
namespace {

// Local time is UTC for every test in this file, so date texts are fixed.
class UtcZone : public ::testing::Environment {
  public:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
};
const auto* const kUtc = ::testing::AddGlobalTestEnvironment(new UtcZone);

constexpr long long kMarch5th2024 = 1709596800;  // 2024-03-05 00:00:00 UTC

TEST(CatalogueNames, PatternsSearchPathsAndTargets) {
    EXPECT_TRUE(MatchesPattern("TN508001_M_V0102.SFL", TargetPattern[0]));
    EXPECT_TRUE(MatchesPattern("tn508abc_m_vxyz9.sfl", TargetPattern[0]));
    EXPECT_FALSE(MatchesPattern("TN50801_M_V0102.SFL", TargetPattern[0]));    // one short
    EXPECT_FALSE(MatchesPattern("TN5080011_M_V0102.SFL", TargetPattern[0]));  // one long
    EXPECT_FALSE(MatchesPattern("TN508001_S_V0102.SFL", TargetPattern[0]));
    EXPECT_TRUE(MatchesPattern("TN508001_S_V0102.SFL", TargetPattern[1]));
    EXPECT_TRUE(MatchesPattern("TQX37_V0105.SFL", TargetPattern[2]));
    EXPECT_FALSE(MatchesPattern("TQX37_V0105.SFL.bak", TargetPattern[2]));

    EXPECT_EQ(SearchPath("/fw", "X?"), "/fw/X?");
    EXPECT_EQ(SearchPath("/", "X?"), "/X?");
    EXPECT_EQ(SearchPath("/fw/", "X?"), "/fw/X?");

    const std::vector<std::pair<std::string, FileKind>> kinds = {
        {"TN508001_M_V0102.SFL", FileKind::MasterCpu},
        {"TN508001_S_V0102.SFL", FileKind::SlaveCpu},
        {"TN508_M_0_S_V0102.SFL", FileKind::KeepTarget},  // "_M_" first found at 6
        {"TN508001_X_V0102.SFL", FileKind::KeepTarget},
        {"TQX37_V0105.SFL", FileKind::OptionUnit},
        {"tn508001_m_v0102.sfl", FileKind::NotFirmware},
        {"SFL File", FileKind::NotFirmware},
    };
    for (const auto& [name, kind] : kinds) {
        EXPECT_EQ(TargetFromFileName(name), kind) << name;
    }
}

TEST(CatalogueDates, ShortDateLongTimeTwoSecondsNoTimeAtMidnight) {
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QLocale de(QLocale::German, QLocale::Germany);
    EXPECT_EQ(DateText(kMarch5th2024, us), "3/5/24");
    EXPECT_EQ(DateText(kMarch5th2024 + 1, us), "3/5/24") << "00:00:01 rounds down to midnight";
    EXPECT_EQ(DateText(kMarch5th2024 + 13 * 3600 + 4 * 60 + 7, us), "3/5/24 1:04:06 PM");
    EXPECT_EQ(DateText(kMarch5th2024 + 13 * 3600 + 4 * 60 + 7, de), "05.03.24 13:04:06");
}

TEST(CatalogueSort, DateTextDescendingThenNameDescendingByteWise) {
    GridRows rows = {{"SFL File", "Date", ""},
                     {"A_V0101", "3/5/24", ""},
                     {"A_V0102", "3/5/24", ""},
                     {"B", "12/1/23", ""},
                     {"C", "3/5/24 1:00:00 PM", ""},
                     {"D", "\xC3\xA4", ""},  // 8-bit text sorts above ASCII
                     {"E", "3/5/24", ""}};
    SortFileList(rows);
    std::vector<std::string> names;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        names.push_back(rows[i][0]);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"D", "C", "E", "A_V0102", "A_V0101", "B"}));
    EXPECT_EQ(rows[0][0], "SFL File");
}

TEST(CatalogueSort, ManyRowsWithRepeatedDatesGiveTheFullOrder) {
    std::vector<std::uint8_t> noise = test::randomBytes(4000, 3);
    GridRows rows = {{"SFL File", "Date", ""}};
    for (int i = 0; i < 2000; ++i) {
        rows.push_back({"N" + std::to_string(noise[2 * i] * 1000 + i),
                        "D" + std::to_string(noise[2 * i + 1] % 17), ""});
    }
    GridRows expected = rows;
    std::sort(expected.begin() + 1, expected.end(), [](const GridRow& a, const GridRow& b) {
        return a[1] != b[1] ? a[1] > b[1] : a[0] > b[0];
    });
    SortFileList(rows);
    EXPECT_EQ(rows, expected);
}

// A firmware folder whose files have chosen modification times.
class CatalogueFolder : public ::testing::Test {
  protected:
    void add(const std::string& name, long long mtime, const std::string& text = "S0\r\n") {
        setTime(dir.write(name, text), mtime);
    }
    void setTime(const std::string& path, long long mtime) {
        const timespec times[2] = {{mtime, 0}, {mtime, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
    std::vector<std::string> names(const FileCatalogue& c) {
        std::vector<std::string> out;
        for (std::size_t i = 1; i < c.rows().size(); ++i) {
            out.push_back(c.rows()[i][0]);
        }
        return out;
    }
    std::array<bool, 3> downs(const FileCatalogue& c) {
        return {c.button(0).down, c.button(1).down, c.button(2).down};
    }
    std::array<bool, 3> enables(const FileCatalogue& c) {
        return {c.button(0).enabled, c.button(1).enabled, c.button(2).enabled};
    }

    test::TempDir dir;
    QLocale us{QLocale::English, QLocale::UnitedStates};
    std::string fileName = "unset";
    int target = 7;
    std::vector<std::string> memo{"old"};
    bool writeAll = true;
};

TEST_F(CatalogueFolder, EmptyFolderLeavesOnlyTheLooseHeaderRow) {
    FileCatalogue c(dir.path().string(), us);
    c.Reload();
    ASSERT_EQ(c.rows().size(), 1u);
    EXPECT_EQ(c.rows()[0], (GridRow{"SFL File", "Date", ""}));
    EXPECT_FALSE(c.headerRowFixed());
    EXPECT_EQ(c.currentRow(), 0);
    EXPECT_EQ(enables(c), (std::array<bool, 3>{false, false, false}));
    EXPECT_FALSE(c.WriteButtonEnabled());
    c.SelectCurrentRow(fileName, target, memo, writeAll);
    EXPECT_EQ(fileName, "SFL File");
    EXPECT_EQ(target, 7);
    EXPECT_TRUE(memo.empty());
    EXPECT_TRUE(writeAll) << "no header was read";

    FileCatalogue missing(dir.file("no-such-folder"), us);
    missing.Reload();
    EXPECT_EQ(missing.rows().size(), 1u);
}

TEST_F(CatalogueFolder, ReloadListsSortsAndSelectsTheFirstRow) {
    const long long t = kMarch5th2024 + 3600;
    add("TN508001_M_V0101.SFL", t, "MASTER 0101\r\nS0\r\n");
    add("TN508001_M_V0102.SFL", t, "MASTER 0102\r\nline 2\r\nALL\r\nS0\r\n");
    add("TQX37_V0105.SFL", t - 86400);
    add("tn508001_s_v0102.sfl", t - 2 * 86400);
    ASSERT_EQ(::mkdir(dir.file("TQX37_V0199.SFL").c_str(), 0755), 0);
    setTime(dir.file("TQX37_V0199.SFL"), t - 3 * 86400);
    add("TN508001_M_V0102.SFL.bak", t);

    FileCatalogue c(dir.path().string() + "/", us);  // a trailing separator is fine
    c.Reload();
    EXPECT_EQ(names(c), (std::vector<std::string>{"TN508001_M_V0102.SFL", "TN508001_M_V0101.SFL",
                                                  "TQX37_V0105.SFL", "tn508001_s_v0102.sfl",
                                                  "TQX37_V0199.SFL"}));
    EXPECT_EQ(c.rows()[1][1], "3/5/24 1:00:00 AM");
    EXPECT_EQ(c.rows()[3][1], "3/4/24 1:00:00 AM");
    EXPECT_TRUE(c.headerRowFixed());
    EXPECT_EQ(c.currentRow(), 1);
    EXPECT_EQ(enables(c), (std::array<bool, 3>{true, true, true}));
    EXPECT_TRUE(c.WriteButtonEnabled());

    test::CurrentDir cwd(dir.path());
    c.SelectCurrentRow(fileName, target, memo, writeAll);
    EXPECT_EQ(fileName, "TN508001_M_V0102.SFL");
    EXPECT_EQ(target, 0);
    EXPECT_EQ(memo, (std::vector<std::string>{"MASTER 0102", "line 2"}));
    EXPECT_TRUE(writeAll);

    // Lower-case prefix: listed, but not recognised; nothing is read.
    c.setCurrentRow(4);
    target = 2;
    c.SelectCurrentRow(fileName, target, memo, writeAll);
    EXPECT_EQ(fileName, "tn508001_s_v0102.sfl");
    EXPECT_EQ(target, 2);
    EXPECT_TRUE(memo.empty());
    EXPECT_TRUE(c.WriteButtonEnabled());

    // A matching folder cannot be read as a file; the flag is cleared first.
    c.setCurrentRow(5);
    EXPECT_THROW(c.SelectCurrentRow(fileName, target, memo, writeAll), FileAccessError);
    EXPECT_EQ(fileName, "TQX37_V0199.SFL");
    EXPECT_FALSE(writeAll);
}

TEST_F(CatalogueFolder, FileWithoutRecordStartDisablesWriteUntilTheNextRebuild) {
    add("TN508001_S_V0102.SFL", kMarch5th2024 + 7200, "only\r\nheader\r\n");
    add("TN508001_S_V0101.SFL", kMarch5th2024);
    FileCatalogue c(dir.path().string(), us);
    c.Reload();
    test::CurrentDir cwd(dir.path());
    c.SelectCurrentRow(fileName, target, memo, writeAll);
    EXPECT_EQ(target, 1);
    EXPECT_TRUE(memo.empty());
    EXPECT_FALSE(c.WriteButtonEnabled());
    c.setCurrentRow(2);
    c.SelectCurrentRow(fileName, target, memo, writeAll);
    EXPECT_FALSE(c.WriteButtonEnabled()) << "selecting a good file does not enable WRITE";
    c.Reload();
    EXPECT_TRUE(c.WriteButtonEnabled());
}

TEST_F(CatalogueFolder, TargetButtonsFilterAsOneGroup) {
    add("TN508001_M_V0102.SFL", kMarch5th2024);
    add("TN508001_S_V0102.SFL", kMarch5th2024);
    FileCatalogue c(dir.path().string(), us);
    c.Reload();
    ASSERT_EQ(enables(c), (std::array<bool, 3>{true, true, false}));

    c.PressTargetButton(kCatalogueMasterCpu);  // keyboard accelerator: toggles itself
    EXPECT_EQ(downs(c), (std::array<bool, 3>{true, false, false}));
    EXPECT_EQ(names(c), (std::vector<std::string>{"TN508001_M_V0102.SFL"}));

    // An option-unit file appears. A rebuild that stays filtered on Master
    // (a release marked the button, so the press does not toggle) leaves the
    // other buttons' states alone.
    add("TQX37_V0105.SFL", kMarch5th2024);
    c.MouseUpOnTargetButton(kCatalogueMasterCpu);
    c.PressTargetButton(kCatalogueMasterCpu);
    EXPECT_EQ(downs(c), (std::array<bool, 3>{true, false, false}));
    EXPECT_EQ(enables(c), (std::array<bool, 3>{true, true, false}));

    c.MouseClickTargetButton(kCatalogueSlaveCpu);
    EXPECT_EQ(downs(c), (std::array<bool, 3>{false, true, false}));
    EXPECT_EQ(names(c), (std::vector<std::string>{"TN508001_S_V0102.SFL"}));
    EXPECT_FALSE(c.button(kCatalogueSlaveCpu).ToggledByMouse) << "the click consumed it";

    // Pressing the button that is down lists everything and refreshes all.
    c.PressTargetButton(kCatalogueSlaveCpu);
    EXPECT_EQ(downs(c), (std::array<bool, 3>{false, false, false}));
    EXPECT_EQ(names(c), (std::vector<std::string>{"TQX37_V0105.SFL", "TN508001_S_V0102.SFL",
                                                  "TN508001_M_V0102.SFL"}));
    EXPECT_EQ(enables(c), (std::array<bool, 3>{true, true, true}));

    // A release that completed no click still marks the button: the next
    // accelerator press rebuilds without toggling.
    c.MouseUpOnTargetButton(kCatalogueOptionUnit);
    c.PressTargetButton(kCatalogueOptionUnit);
    EXPECT_EQ(downs(c), (std::array<bool, 3>{false, false, false}));
    EXPECT_EQ(names(c).size(), 3u);
    EXPECT_FALSE(c.button(kCatalogueOptionUnit).ToggledByMouse);

    c.PressTargetButton(kCatalogueOptionUnit);
    EXPECT_EQ(downs(c), (std::array<bool, 3>{false, false, true}));
    c.Reload();
    EXPECT_EQ(downs(c), (std::array<bool, 3>{false, false, false}));
    EXPECT_EQ(names(c).size(), 3u);
}

}  // namespace
}  // namespace qrb
