// What the POSIX platform layer adds to the shared platform tests: the NTFS
// listing order, dot-files as hidden, colours only on a terminal, the child's
// standard handles, and the system drive from SystemDrive.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

class PosixPlatformTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/lanrefit-platform-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string dir_;
};

TEST_F(PosixPlatformTest, ListsInNtfsOrderWithDotFilesHidden) {
    for (const char *name : {"b.img", "A.img", "_x", "a2.img", ".hidden", "B1"}) {
        std::ofstream(dir_ + "/" + name) << "x";
    }
    fs::create_directory(dir_ + "/Sub");
    fs::create_symlink(dir_ + "/b.img", dir_ + "/link.img");
    PlatDirEntry entry;
    unsigned long error = 0;
    PlatFind *find = plat_find_first((dir_ + "\\*").c_str(), &entry, &error);
    ASSERT_NE(find, nullptr);
    std::vector<std::string> names, hidden, links;
    do {
        names.push_back(entry.name);
        if (entry.is_hidden != 0) {
            hidden.push_back(entry.name);
        }
        if (entry.is_reparse != 0) {
            links.push_back(entry.name);
        }
    } while (plat_find_next(find, &entry) != 0);
    plat_find_close(find);
    // Compared upper-cased: "." (0x2E) before "2", "_" (0x5F) after the letters.
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", ".hidden", "A.img", "a2.img", "b.img",
                                               "B1", "link.img", "Sub", "_x"}));
    EXPECT_EQ(hidden, (std::vector<std::string>{".hidden"}));
    EXPECT_EQ(links, (std::vector<std::string>{"link.img"}))
        << "a symbolic link is a reparse point";
}

// Work directories: mode 0700 whatever the umask, and the rules of the check.
TEST_F(PosixPlatformTest, PrivateDirectoriesAreTheOwnersAlone) {
    const mode_t umask_before = umask(0);
    EXPECT_EQ(plat_create_private_directory((dir_ + "\\work\\").c_str()), 0ul);
    umask(umask_before);
    EXPECT_EQ(fs::status(dir_ + "/work").permissions(), fs::perms::owner_all);
    struct Case {
        mode_t mode;
        unsigned long refusal;
    };
    for (const Case &c : {Case{0700, 0}, Case{0755, 0}, Case{0720, PLAT_ERROR_OPEN_TO_OTHERS},
                          Case{0702, PLAT_ERROR_OPEN_TO_OTHERS}}) {
        ASSERT_EQ(chmod((dir_ + "/work").c_str(), c.mode), 0);
        EXPECT_EQ(plat_check_private_directory((dir_ + "\\work\\").c_str()), c.refusal)
            << std::oct << c.mode;
    }
}

TEST_F(PosixPlatformTest, OnlyAWholeDirectoryCanBeListed) {
    PlatDirEntry entry;
    unsigned long error = 0;
    EXPECT_EQ(plat_find_first((dir_ + "\\*.img").c_str(), &entry, &error), nullptr);
    EXPECT_NE(error, 0ul);
}

TEST_F(PosixPlatformTest, AnEmptyDirectoryStillListsItsDots) {
    PlatDirEntry entry;
    unsigned long error = 0;
    PlatFind *find = plat_find_first((dir_ + "\\*").c_str(), &entry, &error);
    ASSERT_NE(find, nullptr);
    EXPECT_STREQ(entry.name, ".");
    EXPECT_EQ(entry.is_directory, 1);
    plat_find_close(find);
}

// The child inherits no handles, and runs in a process group of its own, out
// of reach of a Ctrl-C at the console.
TEST_F(PosixPlatformTest, TheChildGetsNullDevicesAndAProcessGroupOfItsOwn) {
    std::string script = dir_ + "/probe.sh";
    std::ofstream(script) << "#!/bin/sh\nreadlink /proc/self/fd/0 /proc/self/fd/2 > " << dir_
                          << "/handles.txt\ncut -d ' ' -f5 /proc/$$/stat > " << dir_
                          << "/pgid.txt\necho $$ >> " << dir_ << "/pgid.txt\n";
    chmod(script.c_str(), 0755);
    unsigned long error = 0;
    ASSERT_EQ(plat_run_process(script.c_str(), &error), 1);
    std::ifstream in(dir_ + "/handles.txt");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "/dev/null\n/dev/null\n");
    std::ifstream ids(dir_ + "/pgid.txt");
    long group = 0;
    long pid = -1;
    ids >> group >> pid;
    EXPECT_EQ(group, pid);
    EXPECT_NE(group, static_cast<long>(getpgrp()));
}

TEST(PosixPlatform, SystemDriveComesFromTheEnvironment) {
    char drive[PLAT_PATH_MAX];
    setenv("SystemDrive", "/srv/c", 1);
    plat_system_drive(drive, sizeof drive);
    EXPECT_STREQ(drive, "/srv/c");
    unsetenv("SystemDrive");
    plat_system_drive(drive, sizeof drive);
    EXPECT_STREQ(drive, "");
}

// Standard output is put on a pseudo-terminal for the span of the calls.
std::string ConsoleBytes(bool terminal) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(master, 0);
    EXPECT_EQ(grantpt(master), 0);
    EXPECT_EQ(unlockpt(master), 0);
    int target = terminal ? open(ptsname(master), O_RDWR | O_NOCTTY) : open("/dev/null", O_WRONLY);
    EXPECT_GE(target, 0);
    fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    dup2(target, STDOUT_FILENO);
    plat_console_attribute(12);
    plat_console_attribute(7);
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(target);
    std::string bytes;
    fcntl(master, F_SETFL, O_NONBLOCK);
    char buf[64];
    for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;) {
        bytes.append(buf, static_cast<size_t>(n));
    }
    close(master);
    return bytes;
}

TEST(PosixPlatform, ColoursGoToATerminalOnly) {
    EXPECT_EQ(ConsoleBytes(true), "\033[1;31m\033[0m");
    EXPECT_EQ(ConsoleBytes(false), "");
}

} // namespace
