// Version lookup, instance guard and the default error box's text rule.
#include <gtest/gtest.h>

#include <QString>
#include <QTemporaryDir>

#include <unistd.h>

#include <string>

#include "app/InstanceGuard.h"
#include "ui/DefaultErrorBox.h"
#include "version/U_About.h"

namespace qrb {
namespace {

const std::string kNul(1, '\0');

TEST(VersionKeys, AreTheTwelvePredefinedNamesInOrder) {
    EXPECT_STREQ(VersionKeys[0], "Comments");
    EXPECT_STREQ(VersionKeys[3], "FileVersion");
    EXPECT_STREQ(VersionKeys[kProductNameKey], "ProductName");
    EXPECT_STREQ(VersionKeys[kProductVersionKey], "ProductVersion");
    EXPECT_STREQ(VersionKeys[11], "SpecialBuild");
}

TEST(GetVersionString, ReadsTheBuiltInValuesWithTheirTrailingNul) {
    std::string name;
    std::string version;
    GetVersionString(kProductNameKey, name);
    GetVersionString(kProductVersionKey, version);
    EXPECT_EQ(name, "QRB117" + kNul);
    EXPECT_EQ(version, "1.02" + kNul);
}

struct LookupCase {
    const char* what;
    VersionData data;
    std::uint8_t key;
    std::string expected;  // starting from "unchanged"
};

TEST(GetVersionString, LooksUpThroughTheFirstTranslation) {
    const std::string unchanged = "unchanged";
    const std::vector<LookupCase> cases = {
        {"the first translation names the table",
         {{0x04B00409u, 0x04E40409u},
          {{"\\StringFileInfo\\040904B0\\ProductName", "Unicode"},
           {"\\StringFileInfo\\040904E4\\ProductName", "Ansi"}}},
         kProductNameKey,
         "Unicode" + kNul},
        {"language and code page as four upper-case digits",
         {{0x00000C0Au}, {{"\\StringFileInfo\\0C0A0000\\ProductVersion", "2.5"}}},
         kProductVersionKey,
         "2.5" + kNul},
        {"a value missing from the table leaves the result",
         {{0x04E40409u}, {{"\\StringFileInfo\\040904E4\\ProductName", "X"}}},
         kProductVersionKey,
         unchanged},
        {"an empty value is the NUL alone",
         {{0x04E40409u}, {{"\\StringFileInfo\\040904E4\\ProductName", ""}}},
         kProductNameKey,
         kNul},
        {"no version data at all leaves the result", {}, kProductNameKey, unchanged},
        {"a key index beyond the names leaves the result",
         {{0x04E40409u}, {{"\\StringFileInfo\\040904E4\\ProductName", "X"}}},
         12,
         unchanged},
    };
    for (const LookupCase& c : cases) {
        std::string result = unchanged;
        GetVersionString(c.key, result, c.data);
        EXPECT_EQ(result, c.expected) << c.what;
    }
}

TEST(GetVersionString, FailsWithTheFixedMessageWithoutATranslationTable) {
    const VersionData noTranslation{{}, {{"\\StringFileInfo\\040904E4\\ProductName", "X"}}};
    std::string result = "kept";
    try {
        GetVersionString(kProductNameKey, result, noTranslation);
        FAIL() << "no error raised";
    } catch (const VersionLookupError& error) {
        EXPECT_EQ(QString::fromUtf8(error.what()),
                  QString::fromUtf8("\xE6\x83\x85\xE5\xA0\xB1\xE3\x81\xAE\xE5\x8F\x96\xE5\xBE\x97"
                                    "\xE3\x81\xAB\xE5\xA4\xB1\xE6\x95\x97\xE3\x81\x97\xE3\x81\xBE"
                                    "\xE3\x81\x97\xE3\x81\x9F"));  // 情報の取得に失敗しました
    }
    EXPECT_EQ(result, "kept");
}

TEST(ErrorBoxText, AppendsAPeriodOnlyAfterACharacterAboveThePeriod) {
    const std::vector<std::pair<QString, QString>> cases = {
        {"File not found", "File not found."},
        {"Already ends.", "Already ends."},
        {"Ends in a slash/", "Ends in a slash/."},  // '/' is 0x2F
        {"Ends in a dash-", "Ends in a dash-"},     // '-' is 0x2D
        {"Question?", "Question?."},                // '?' is 0x3F
        {"Bang!", "Bang!"},
        {"Blank ", "Blank "},
        {"", ""},
        {QString::fromUtf8("\xE5\xA4\xB1\xE6\x95\x97"),
         QString::fromUtf8("\xE5\xA4\xB1\xE6\x95\x97.")},
    };
    for (const auto& [message, shown] : cases) {
        EXPECT_EQ(ErrorBoxText(message), shown) << message.toStdString();
    }
}

TEST(InstanceGuard, OnlyOneHolderAtATime) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("QRB-117").toStdString();
    {
        const InstanceGuard first(path);
        ASSERT_EQ(first.state(), InstanceGuard::State::Held);
        const InstanceGuard second(path);  // a lock of its own open file: refused
        EXPECT_EQ(second.state(), InstanceGuard::State::HeldElsewhere);
        EXPECT_TRUE(second.anotherCopyRuns());
    }
    const InstanceGuard afterwards(path);
    EXPECT_EQ(afterwards.state(), InstanceGuard::State::Held);
}

TEST(InstanceGuard, RunsUnguardedWhenNoLockFileCanBeMade) {
    QTemporaryDir dir;
    const InstanceGuard guard(dir.filePath("missing/QRB-117").toStdString());
    EXPECT_EQ(guard.state(), InstanceGuard::State::Unavailable);
    EXPECT_FALSE(guard.anotherCopyRuns());
}

TEST(InstanceGuard, DoesNotFollowAPlantedLink) {
    QTemporaryDir dir;
    const std::string target = dir.filePath("elsewhere").toStdString();
    const std::string path = dir.filePath("QRB-117").toStdString();
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
    const InstanceGuard guard(path);
    EXPECT_EQ(guard.state(), InstanceGuard::State::Unavailable);
    EXPECT_NE(::access(target.c_str(), F_OK), 0) << "the link's target was created";
}

TEST(InstanceGuard, LockPathFollowsTheRuntimeDirectory) {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedValue = saved != nullptr ? saved : "";
    ::setenv("XDG_RUNTIME_DIR", "/run/user/1234", 1);
    EXPECT_EQ(InstanceGuard::DefaultLockPath(), "/run/user/1234/QRB-117");
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(InstanceGuard::DefaultLockPath(), "/tmp/QRB-117-" + std::to_string(::getuid()));
    if (saved != nullptr) {
        ::setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1);
    }
}

}  // namespace
}  // namespace qrb
