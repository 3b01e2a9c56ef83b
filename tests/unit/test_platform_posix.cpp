// What the POSIX platform layer adds to the shared platform tests: the NTFS
// listing order, dot-files as hidden, colours only on a terminal, the child's
// standard handles, interruptions held off, and the system drive from
// SystemDrive.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

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

// Listings, each of a directory of its own: empty, or populated first with files, a directory
// and a symbolic link to a file. An entry reads: its name, "/" after a directory's, " hidden"
// and " link" (a reparse point) as they apply. A refused listing has no entries and says why.
TEST_F(PosixPlatformTest, Listings) {
    struct Case {
        const char *name;
        bool populated;
        const char *pattern;
        std::vector<std::string> entries;
    } cases[] = {
        // Compared upper-cased: "." (0x2E) before "2", "_" (0x5F) after the letters. A
        // symbolic link is a reparse point.
        {"ListsInNtfsOrderWithDotFilesHidden",
         true,
         "\\*",
         {"./", "../", ".hidden hidden", "A.img", "a2.img", "b.img", "B1", "link.img link", "Sub/",
          "_x"}},
        {"OnlyAWholeDirectoryCanBeListed", false, "\\*.img", {}},
        {"AnEmptyDirectoryStillListsItsDots", false, "\\*", {"./", "../"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = dir_ + "/" + c.name;
        fs::create_directory(dir);
        if (c.populated) {
            for (const char *name : {"b.img", "A.img", "_x", "a2.img", ".hidden", "B1"}) {
                std::ofstream(dir + "/" + name) << "x";
            }
            fs::create_directory(dir + "/Sub");
            fs::create_symlink(dir + "/b.img", dir + "/link.img");
        }
        PlatDirEntry entry;
        unsigned long error = 0;
        PlatFind *find = plat_find_first((dir + c.pattern).c_str(), &entry, &error);
        std::vector<std::string> entries;
        if (find == nullptr) {
            EXPECT_NE(error, 0ul);
        } else {
            do {
                entries.push_back(std::string(entry.name) + (entry.is_directory != 0 ? "/" : "") +
                                  (entry.is_hidden != 0 ? " hidden" : "") +
                                  (entry.is_reparse != 0 ? " link" : ""));
            } while (plat_find_next(find, &entry) != 0);
            plat_find_close(find);
        }
        EXPECT_EQ(entries, c.entries);
    }
}

// Directories made whatever the umask: a work directory is the owner's alone, any other one
// is writable by its owner only. Then the rules of the work directories' check.
TEST_F(PosixPlatformTest, PrivateDirectoriesAreTheOwnersAlone) {
    struct Made {
        const char *name;
        unsigned long (*make)(const char *path);
        fs::perms perms;
    };
    const fs::perms read_all = fs::perms::owner_all | fs::perms::group_read |
                               fs::perms::group_exec | fs::perms::others_read |
                               fs::perms::others_exec;
    for (const Made &m : {Made{"work", plat_create_private_directory, fs::perms::owner_all},
                          Made{"plain", plat_create_directory, read_all}}) {
        const mode_t umask_before = umask(0);
        EXPECT_EQ(m.make((dir_ + "\\" + m.name + "\\").c_str()), 0ul) << m.name;
        umask(umask_before);
        EXPECT_EQ(fs::status(dir_ + "/" + m.name).permissions(), m.perms) << m.name;
    }
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

// The rule for what the program loads, starts and reads: the entry itself,
// then every folder from the root down to it (others may write a folder above
// only when it is sticky). Each case lays out DIR/<name>/ and judges the path
// given below it; "x" is a file, "d/" a folder, "l" a link.
TEST_F(PosixPlatformTest, TrustedFilesAndTheFoldersAboveThem) {
    struct Case {
        const char *name;
        const char *path;   // below the case's folder
        const char *layout; // "mode path" or "owner path" or "link path target", ';' between
        unsigned long verdict;
    } cases[] = {
        {"PlainFile", "x", "0644 x", 0},
        {"FileWritableByItsGroup", "x", "0664 x", PLAT_ERROR_OPEN_TO_OTHERS},
        {"FileOfAnotherOwner", "x", "0644 x;owner x", PLAT_ERROR_FOREIGN_OWNER},
        {"LinkToAFile", "l", "0644 x;link l x", PLAT_ERROR_REPARSE_POINT},
        {"FolderWritableByItsGroup", "d", "0775 d/", PLAT_ERROR_OPEN_TO_OTHERS},
        {"FolderAboveWritableByAll", "d/x", "0777 d/;0644 d/x", PLAT_ERROR_OPEN_TO_OTHERS},
        {"FolderAboveStickyAndWritableByAll", "d/x", "01777 d/;0644 d/x", 0},
        {"FolderAboveOfAnotherOwner", "d/x", "0755 d/;0644 d/x;owner d", PLAT_ERROR_FOREIGN_OWNER},
        // Through a link the folders of its target are judged as well.
        {"LinkAboveIntoAnOpenFolder", "l/x", "0777 o/;0755 o/in/;0644 o/in/x;link l o/in",
         PLAT_ERROR_OPEN_TO_OTHERS},
        {"LinkAboveIntoAPrivateFolder", "l/x", "0755 o/;0755 o/in/;0644 o/in/x;link l o/in", 0},
        {"Missing", "none", "", ENOENT},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string base = dir_ + "/" + c.name + "/";
        fs::create_directory(base);
        std::string layout = c.layout;
        bool other_owner = false;
        for (size_t at = 0; at < layout.size();) {
            size_t end = layout.find(';', at);
            std::string step = layout.substr(at, end == std::string::npos ? end : end - at);
            at = end == std::string::npos ? layout.size() : end + 1;
            const std::string what = step.substr(0, step.find(' '));
            std::string path = base + step.substr(step.find(' ') + 1);
            if (what == "link") {
                const std::string target = path.substr(path.rfind(' ') + 1);
                path.erase(path.rfind(' '));
                fs::create_symlink(base + target, path);
            } else if (what == "owner") {
                other_owner = true;
                ASSERT_EQ(lchown(path.c_str(), 12345, 12345), geteuid() == 0 ? 0 : -1);
            } else {
                if (path.back() == '/') {
                    fs::create_directory(path);
                } else {
                    std::ofstream(path) << "x";
                }
                ASSERT_EQ(chmod(path.c_str(), static_cast<mode_t>(std::stoi(what, nullptr, 8))), 0);
            }
        }
        if (other_owner && geteuid() != 0) {
            continue; // only root gives a file away
        }
        std::string win = base + c.path;
        std::replace(win.begin(), win.end(), '/', '\\');
        EXPECT_EQ(plat_check_trusted(win.c_str()), c.verdict);
    }
}

// The log is opened for appending only when it is a regular file with one
// name and a trusted owner; never through a link.
TEST_F(PosixPlatformTest, TheLogIsNeverOpenedThroughALink) {
    struct Case {
        const char *name;
        const char *made; // "" nothing, "file", "link", "hardlink", "owner", "fifo"
        int error;        // errno of a refused open, 0 when the log opens
    } cases[] = {
        {"Created", "", 0},
        {"Appended", "file", 0},
        {"Link", "link", ELOOP},
        {"SecondName", "hardlink", EPERM},
        {"OtherOwner", "owner", EPERM},
        {"Fifo", "fifo", ENXIO},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string log = dir_ + "/" + c.name + ".log";
        const std::string elsewhere = dir_ + "/" + c.name + ".root-only";
        std::ofstream(elsewhere) << "kept\n";
        const std::string made = c.made;
        if (made == "file" || made == "owner") {
            std::ofstream(log) << "kept\n";
        } else if (made == "link") {
            fs::create_symlink(elsewhere, log);
        } else if (made == "hardlink") {
            fs::create_hard_link(elsewhere, log);
        } else if (made == "fifo") {
            ASSERT_EQ(mkfifo(log.c_str(), 0600), 0);
        }
        if (made == "owner" && (geteuid() != 0 || chown(log.c_str(), 12345, 12345) != 0)) {
            continue;
        }
        errno = 0;
        FILE *file = plat_fopen_log(log.c_str());
        EXPECT_EQ(file == nullptr ? errno : 0, c.error);
        if (file != nullptr) {
            fputs("line\n", file);
            fclose(file);
            std::ifstream in(log);
            std::string text((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
            EXPECT_EQ(text, made == "file" ? "kept\nline\n" : "line\n");
        }
        std::ifstream kept(elsewhere);
        std::string text((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text, "kept\n") << "nothing written elsewhere";
    }
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

// While held, SIGINT, SIGTERM and SIGHUP are counted, not obeyed; a signal
// ignored before stays ignored (and uncounted). Released, each has again the
// handling it had before.
TEST(PosixPlatform, InterruptionsAreCountedWhileHeld) {
    struct Case {
        int signal;
        bool ignored_before;
        unsigned counted;
    };
    for (const Case &c : {Case{SIGINT, false, 1}, Case{SIGTERM, false, 1}, Case{SIGHUP, false, 1},
                          Case{SIGHUP, true, 0}}) {
        SCOPED_TRACE(testing::Message() << "signal " << c.signal);
        struct sigaction before = {};
        before.sa_handler = c.ignored_before ? SIG_IGN : SIG_DFL;
        ASSERT_EQ(sigaction(c.signal, &before, nullptr), 0);
        const unsigned start = plat_interruptions();
        plat_hold_interruptions();
        ASSERT_EQ(raise(c.signal), 0);
        plat_release_interruptions();
        EXPECT_EQ(plat_interruptions() - start, c.counted);
        struct sigaction after = {};
        ASSERT_EQ(sigaction(c.signal, nullptr, &after), 0);
        EXPECT_EQ(after.sa_handler, before.sa_handler);
        signal(c.signal, SIG_DFL);
    }
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
