// The platform's file calls as the firmware module's callers see them: the
// texts a failure reaches the person with, the permissions a replaced file
// ends up with, and the folder listing's times and links.
#include "firmware/PlatformFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>

#include "TempFiles.h"
#include "firmware/FirmwareError.h"
#include "firmware/SettingsFile.h"
#include "firmware/SflEncoder.h"
#include "firmware/TextLineReader.h"

namespace qrb {
namespace {

namespace fs = std::filesystem;

std::string ErrorOf(const std::function<void()>& work) {
    try {
        work();
    } catch (const FileAccessError& e) {
        return e.what();
    }
    return "(no FileAccessError)";
}

unsigned PermissionsOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

TEST(FileMessages, NameTheFileAndGiveTheSystemsReason) {
    test::TempDir dir;
    const std::string absent = dir.file("absent.SFL");
    EXPECT_EQ(ErrorOf([&] { TextLineReader reader(absent); }),
              "Cannot open file \"" + absent + "\". No such file or directory");

    const std::string folder = dir.path().string();
    EXPECT_EQ(ErrorOf([&] {
                  TextLineReader reader(folder);
                  std::string line;
                  reader.readLine(line);
              }),
              "Cannot read file \"" + folder + "\". Is a directory");

    // The temporary file beside the output is what cannot be created.
    const std::string in = dir.write("in.SFL", "HEAD\nS0030000FC\n");
    const std::string out = dir.file("no/such/folder/out.SFL");
    const std::string created = ErrorOf([&] { EncodeSflFile(in, out); });
    EXPECT_EQ(created.rfind("Cannot create file \"" + out + ".", 0), 0u) << created;
    EXPECT_TRUE(created.ends_with("\". No such file or directory")) << created;
}

TEST(FileReplacement, SettingsKeepTheirPermissionsAndANewEncodedFileGetsTheUmasks) {
    test::TempDir dir;
    const std::string settings = dir.write("QRB117.ini", "3");
    ASSERT_EQ(::chmod(settings.c_str(), 0640), 0);
    ASSERT_TRUE(WriteSettings(settings, 12));
    EXPECT_EQ(test::readAll(settings), "12");
    EXPECT_EQ(PermissionsOf(settings), 0640u);

    const mode_t previous = ::umask(027);
    const std::string in = dir.write("in.SFL", "HEAD\nS0030000FC\n");
    const std::string out = dir.file("out.SFL");
    EncodeSflFile(in, out);
    ::umask(previous);
    EXPECT_EQ(PermissionsOf(out), 0640u);
}

TEST(FolderListing, KeepsWantedNamesWithTheirTimesAndDanglingLinksByTheLinkItself) {
    test::TempDir dir;
    const auto at = [](int seconds) {
        return fs::file_time_type::clock::from_sys(std::chrono::sys_seconds{} +
                                                   std::chrono::seconds(seconds));
    };
    fs::last_write_time(dir.write("A.SFL", "a"), at(1'000'000'000));
    fs::last_write_time(dir.write("B.SFL", "b"), at(1'234'567'891));
    dir.write("C.TXT", "c");
    fs::create_symlink(dir.file("gone"), dir.file("D.SFL"));
    struct stat link {};
    ASSERT_EQ(::lstat(dir.file("D.SFL").c_str(), &link), 0);

    std::vector<FolderEntry> entries;
    ASSERT_TRUE(ListFolder(
        dir.path().string(), [](std::string_view name) { return name.ends_with(".SFL"); },
        entries));
    std::map<std::string, long long> times;
    for (const FolderEntry& entry : entries) {
        times[entry.name] = entry.lastWriteSeconds;
    }
    ASSERT_EQ(times.size(), 3u);
    EXPECT_EQ(times["A.SFL"], 1'000'000'000);
    EXPECT_EQ(times["B.SFL"], 1'234'567'891);
    EXPECT_EQ(times["D.SFL"], static_cast<long long>(link.st_mtim.tv_sec));

    EXPECT_FALSE(ListFolder(
        dir.file("absent"), [](std::string_view) { return true; }, entries));
}

}  // namespace
}  // namespace qrb
