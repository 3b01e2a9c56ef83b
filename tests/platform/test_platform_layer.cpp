// The platform layer, on both platforms: this suite is built natively and for
// Windows (run under Wine), so the Win32 and the POSIX implementations answer
// the same questions the same way. Paths are Windows path texts throughout.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

// A fresh directory below the current one, named as a Windows path text.
class PlatformTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        host_ = "pt-" + std::to_string(stamp);
        win_ = ".\\" + host_;
        ASSERT_EQ(plat_create_directory(win_.c_str()), 0ul);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(host_, ec);
    }
    std::string Win(const std::string &name) const { return win_ + "\\" + name; }
    std::string Host(const std::string &name) const { return host_ + "/" + name; }
    // A file's text as the host holds it, without the CR that Windows stores before a line feed
    // in text mode.
    std::string HostText(const std::string &name) const {
        std::ifstream in(Host(name), std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        return text;
    }
    std::string host_, win_;
};

TEST_F(PlatformTest, CreateDirectoryReportsAnExistingOneAs183) {
    EXPECT_EQ(plat_create_directory(Win("sub").c_str()), 0ul);
    EXPECT_TRUE(fs::is_directory(Host("sub")));
    EXPECT_EQ(plat_create_directory(Win("sub").c_str()), PLAT_ERROR_ALREADY_EXISTS);
    EXPECT_EQ(plat_create_directory((Win("sub") + "\\").c_str()), PLAT_ERROR_ALREADY_EXISTS)
        << "a trailing backslash names the same directory";
    unsigned long missing_parent = plat_create_directory(Win("no\\such\\dir").c_str());
    EXPECT_NE(missing_parent, 0ul);
    EXPECT_NE(missing_parent, PLAT_ERROR_ALREADY_EXISTS);
    EXPECT_NE(missing_parent, PLAT_ERROR_FILE_EXISTS);
}

// A directory made for the administrators passes the test that work
// directories must pass; a file is left to what follows.
TEST_F(PlatformTest, APrivateDirectoryPassesItsOwnCheck) {
    EXPECT_EQ(plat_create_private_directory(Win("private").c_str()), 0ul);
    EXPECT_TRUE(fs::is_directory(Host("private")));
    EXPECT_EQ(plat_create_private_directory(Win("private").c_str()), PLAT_ERROR_ALREADY_EXISTS);
    EXPECT_EQ(plat_check_private_directory(Win("private").c_str()), 0ul);
    EXPECT_EQ(plat_check_private_directory((Win("private") + "\\").c_str()), 0ul);
    EXPECT_EQ(plat_create_private_directory(Win("private\\inner").c_str()), 0ul);
    EXPECT_EQ(plat_check_private_directory(Win("private\\inner").c_str()), 0ul)
        << "what it holds is as private";
    std::ofstream(Host("file")) << "x";
    EXPECT_EQ(plat_check_private_directory(Win("file").c_str()), 0ul);
    EXPECT_NE(plat_check_private_directory(Win("missing").c_str()), 0ul);
}

TEST_F(PlatformTest, OpensFilesByWindowsPathAndTellsTheirSize) {
    FILE *out = plat_fopen(Win("data.bin").c_str(), "wb");
    ASSERT_NE(out, nullptr);
    const char bytes[] = {'\x66', '\x99', '\x55', '\xAA', '\n', '\r', '\0', 'x'};
    ASSERT_EQ(fwrite(bytes, 1, sizeof bytes, out), sizeof bytes);
    fclose(out);
    EXPECT_EQ(fs::file_size(Host("data.bin")), sizeof bytes) << "binary mode writes bytes as given";

    FILE *in = plat_fopen(Win("data.bin").c_str(), "rb");
    ASSERT_NE(in, nullptr);
    unsigned long long size = 0;
    EXPECT_EQ(plat_file_size(in, &size), 1);
    EXPECT_EQ(size, sizeof bytes);
    fclose(in);

    EXPECT_EQ(plat_fopen(Win("missing.bin").c_str(), "rb"), nullptr);
}

TEST_F(PlatformTest, AppendModeKeepsWhatWasThere) {
    for (const char *line : {"one\n", "two\n"}) {
        FILE *log = plat_fopen(Win("log.txt").c_str(), "a");
        ASSERT_NE(log, nullptr);
        fputs(line, log);
        fclose(log);
    }
    EXPECT_EQ(HostText("log.txt"), "one\ntwo\n");
}

TEST_F(PlatformTest, ListsEveryEntryOfADirectory) {
    for (const char *name : {"b.img", "A.img", "c.img"}) {
        std::ofstream(Host(name)) << name;
    }
    ASSERT_EQ(plat_create_directory(Win("sub").c_str()), 0ul);

    PlatDirEntry entry;
    unsigned long error = 1;
    PlatFind *find = plat_find_first((win_ + "\\*").c_str(), &entry, &error);
    ASSERT_NE(find, nullptr);
    EXPECT_EQ(error, 0ul);
    std::vector<std::string> names;
    std::vector<std::string> directories;
    do {
        names.push_back(entry.name);
        if (entry.is_directory != 0) {
            directories.push_back(entry.name);
        }
    } while (plat_find_next(find, &entry) != 0);
    plat_find_close(find);

    std::sort(names.begin(), names.end());
    std::sort(directories.begin(), directories.end());
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "A.img", "b.img", "c.img", "sub"}));
    EXPECT_EQ(directories, (std::vector<std::string>{".", "..", "sub"}));
}

TEST_F(PlatformTest, ListingAMissingDirectoryFails) {
    PlatDirEntry entry;
    unsigned long error = 0;
    EXPECT_EQ(plat_find_first(Win("nothing\\*").c_str(), &entry, &error), nullptr);
    EXPECT_NE(error, 0ul);
}

// The child writes its arguments into the file named by its first argument;
// a quoted one arrives whole, its closing backslashes halved.
TEST_F(PlatformTest, RunsAChildAndWaitsForItsEnd) {
    std::string command =
        ".\\platform_child " + Win("child.txt") + " upgrade -bc \"a  b\\\\\" c\\\\d";
    unsigned long error = 0;
    ASSERT_EQ(plat_run_process(command.c_str(), &error), 1) << "error " << error;
    EXPECT_EQ(HostText("child.txt"), "upgrade|-bc|a  b\\|c\\\\d|done\n")
        << "the file is complete once the call returns";
}

TEST_F(PlatformTest, AMissingProgramIsReportedNotRun) {
    unsigned long error = 0;
    EXPECT_EQ(plat_run_process(".\\no_such_program x y", &error), 0);
    EXPECT_NE(error, 0ul);
}

// One holder at a time: a second take, even by the same process, finds it
// held. (That the lock ends with its holder, and passes to the writer tool,
// is tested end to end.)
TEST_F(PlatformTest, TheRunLockIsTakenOnce) {
    const std::string lock = Win("lanrefit.lock");
    ASSERT_EQ(plat_take_run_lock(lock.c_str()), 0ul);
    EXPECT_EQ(plat_take_run_lock(lock.c_str()), PLAT_ERROR_LOCKED);
    EXPECT_NE(plat_take_run_lock(win_.c_str()), 0ul) << "a directory is no lock file";
}

// A child waited for in slices: not ended before it can have, ended at last.
TEST_F(PlatformTest, AChildIsWaitedForInSlices) {
    std::string command = ".\\platform_child " + Win("sliced.txt") + " x";
    unsigned long error = 0;
    PlatProcess *child = plat_start_process(command.c_str(), &error);
    ASSERT_NE(child, nullptr) << "error " << error;
    int ended = 0;
    for (int slice = 0; slice < 3000 && ended == 0; slice++) {
        ended = plat_wait_process(child, 10);
    }
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(HostText("sliced.txt"), "x|done\n");
    EXPECT_EQ(plat_interruptions(), 0u);
}

TEST(Platform, SystemDriveIsEmptyOrALetterAndColon) {
    char drive[PLAT_PATH_MAX] = "unset";
    plat_system_drive(drive, sizeof drive);
    std::string text = drive;
    EXPECT_TRUE(text.empty() || (text.size() == 2 && text[1] == ':')) << text;
}

TEST(Platform, AMissingLibraryIsNotLoaded) {
    EXPECT_EQ(plat_library_open("NOSUCHLIBRARY.DLL"), nullptr);
}

TEST(Platform, ConsoleAttributeWithoutAConsoleIsHarmless) {
    // Standard output is a file here: the colour changes put nothing into it.
    testing::internal::CaptureStdout();
    plat_console_attribute(12);
    printf("text");
    plat_console_attribute(7);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "text");
}

} // namespace
