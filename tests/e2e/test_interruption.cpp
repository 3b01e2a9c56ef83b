// The two-adapter upgrade stopped at its worst moments: lanrefit killed
// (SIGKILL), or interrupted (SIGINT to the process group it runs in, as a
// Ctrl-C at its console would; SIGTERM; SIGHUP; a Ctrl-C typed at the
// pseudo-terminal it runs at) while the writer tool writes, between two
// writes, and at a question; and a second run started while the first
// writes. A write in progress always completes (the tool runs in a process
// group of its own): an interrupted lanrefit waits for it, checks and logs it,
// starts no other write and ends as cancelled; a killed one leaves the tool
// running, holding the run lock until it ends. Afterwards the NVRAM images
// are whole, the backups hold the images from before, the log ends at a line
// end, and the same upgrade run again finishes the job. Native only (these
// are Linux signals), apart from the second run, which Wine runs as well.
#include "upgrade_fixture.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

enum Moment {
    DURING_WRITE,   // while the tool's start number `write` runs (its delay, before it writes)
    BETWEEN_WRITES, // start number `write` has ended, the next has not begun
    AT_QUESTION,    // an interactive run waits for an answer, after `declines` answers "n"
};

// Instead of a signal: a second run is started while the first writes.
constexpr int SECOND_RUN = 0;
// Instead of a signal: Ctrl-C typed at the pseudo-terminal of an interactive run.
constexpr int CTRL_C_TYPED = -1;

struct Interruption {
    const char *name;
    Moment moment;
    int write;           // DURING_WRITE, BETWEEN_WRITES: the start of the tool, from 1
    int declines;        // AT_QUESTION: boot code records offered to A and declined before
    int signal;          // SIGKILL to lanrefit, another signal to its process group, or the above
    unsigned failed = 0; // writes whose start saves no backup (IMGWRITER_FAULT nobackup)
};

const Interruption kInterruptions[] = {
    {"KilledDuringFirstWrite", DURING_WRITE, 1, 0, SIGKILL},
    {"CtrlCDuringFirstWrite", DURING_WRITE, 1, 0, SIGINT},
    {"TerminatedDuringSecondWrite", DURING_WRITE, 2, 0, SIGTERM},
    {"HangupDuringFirstWrite", DURING_WRITE, 1, 0, SIGHUP},
    // A pipe whose reader went away (a tee ended by the same Ctrl-C, a dropped session).
    {"PipeBrokenDuringFirstWrite", DURING_WRITE, 1, 0, SIGPIPE},
    // The first write failed: the run ends with errors, not as cancelled.
    {"CtrlCAfterAFailedWrite", DURING_WRITE, 2, 0, SIGINT, 1u << 0},
    {"CtrlCTypedAtTheTerminal", DURING_WRITE, 1, 0, CTRL_C_TYPED},
    {"SecondRunDuringFirstWrite", DURING_WRITE, 1, 0, SECOND_RUN},
    {"KilledDuringJumperWrite", DURING_WRITE, 3, 0, SIGKILL},
    {"KilledBetweenWrites", BETWEEN_WRITES, 1, 0, SIGKILL},
    // Stopped in its wait for the tool, lanrefit finds the Ctrl-C when it goes on.
    {"CtrlCBetweenWrites", BETWEEN_WRITES, 1, 0, SIGINT},
    {"KilledAtQuestion", AT_QUESTION, 0, 0, SIGKILL},
    {"CtrlCAtQuestion", AT_QUESTION, 0, 0, SIGINT},
    // More answers than the log's stream buffer holds went before the question.
    {"KilledAtQuestionAfterManyAnswers", AT_QUESTION, 0, 99, SIGKILL},
};

const char kQuestion[] = "Update Boot Code 5.0.3 to 5.0.4 -  y/n/q (y):";
constexpr auto kPatience = std::chrono::seconds(30);

// lanrefit started in a process group of its own, its standard input a pipe
// kept open, its standard output a pipe read here; or, at a terminal, both
// the one pseudo-terminal whose session it leads.
struct Started {
    pid_t pid = -1;
    int input = -1;
    int output = -1;
    std::string out;
    std::string err_path;
};

Started Start(const std::string &work, std::vector<std::string> args, std::vector<std::string> env,
              const std::string &input, bool terminal = false) {
    Started s;
    s.err_path = work + "/stderr.txt";
    env.push_back("SystemDrive=" + SystemDriveDir(work));
    args.insert(args.begin(), TargetProgram());
    if (IsWindowsTarget()) {
        args.insert(args.begin(), "/usr/bin/wine");
        env.insert(env.end(), {"WINEDEBUG=-all", "WINEPREFIX=" + WinePrefix()});
    }
    std::vector<char *> argv = ArgvOf(args);

    int in[2], out[2];
    int master = terminal ? posix_openpt(O_RDWR | O_NOCTTY) : -1;
    if (terminal ? master < 0 || grantpt(master) != 0 || unlockpt(master) != 0
                 : pipe(in) != 0 || pipe(out) != 0) {
        ADD_FAILURE() << "pipe or terminal: " << strerror(errno);
        return s;
    }
    const std::string slave = terminal ? ptsname(master) : "";
    fflush(nullptr);
    s.pid = fork();
    if (s.pid == 0) {
        if (terminal) {
            // The terminal's session leader, so its Ctrl-C reaches this
            // process group; line ends as the program prints them, no echo.
            setsid();
            int tty = open(slave.c_str(), O_RDWR);
            struct termios mode;
            if (tty < 0 || tcgetattr(tty, &mode) != 0) {
                _exit(127);
            }
            mode.c_oflag &= ~static_cast<tcflag_t>(OPOST);
            mode.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            tcsetattr(tty, TCSANOW, &mode);
            in[0] = out[1] = tty;
            close(master);
        } else {
            setpgid(0, 0);
        }
        // A suite started as a background job ignores SIGINT, and the program
        // would inherit that: it gets the default, as at a console.
        signal(SIGINT, SIG_DFL);
        SetChildEnvironment(env);
        int err = open(s.err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err < 0 || dup2(in[0], 0) < 0 || dup2(out[1], 1) < 0 || dup2(err, 2) < 0 ||
            chdir(work.c_str()) != 0) {
            _exit(127);
        }
        for (int fd : {in[0], out[1], terminal ? -1 : in[1], terminal ? -1 : out[0]}) {
            if (fd > 2) {
                close(fd);
            }
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (terminal) {
        s.input = master;
        s.output = dup(master);
    } else {
        setpgid(s.pid, s.pid); // also here, so that it holds before the first signal
        close(in[0]);
        close(out[1]);
        s.input = in[1];
        s.output = out[0];
    }
    fcntl(s.output, F_SETFL, O_NONBLOCK);
    if (!input.empty() &&
        write(s.input, input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
        ADD_FAILURE() << "cannot hand lanrefit its answers";
    }
    return s;
}

// Reads what lanrefit printed so far.
void Drain(Started &s) {
    char buf[4096];
    ssize_t n;
    while ((n = read(s.output, buf, sizeof buf)) > 0) {
        s.out.append(buf, static_cast<size_t>(n));
    }
}

// Polls CONDITION until it holds or patience runs out.
template <typename Condition> bool Await(Condition condition) {
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// The state letter of a process in /proc ('\0' when there is none).
char ProcState(pid_t pid, pid_t *parent = nullptr) {
    std::string stat = ReadFileText("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 4 > stat.size()) {
        return '\0';
    }
    if (parent != nullptr) {
        *parent = static_cast<pid_t>(std::strtol(stat.c_str() + close + 4, nullptr, 10));
    }
    return stat[close + 2];
}

// The child of PARENT whose command line names IMAGE: the tool writing it
// (under Wine, whose processes are not children of their Windows parent, any
// process whose command line names it).
pid_t FindTool(pid_t parent, const std::string &image) {
    DIR *proc = opendir("/proc");
    pid_t found = -1;
    for (struct dirent *e = proc != nullptr ? readdir(proc) : nullptr; e != nullptr && found < 0;
         e = readdir(proc)) {
        pid_t pid = static_cast<pid_t>(std::strtol(e->d_name, nullptr, 10));
        pid_t ppid = 0;
        if (pid <= 0 || ProcState(pid, &ppid) == '\0' || (ppid != parent && !IsWindowsTarget())) {
            continue;
        }
        std::string cmdline = ReadFileText("/proc/" + std::to_string(pid) + "/cmdline");
        if (cmdline.find(image) != std::string::npos) {
            found = pid;
        }
    }
    if (proc != nullptr) {
        closedir(proc);
    }
    return found;
}

// Waits for process PID, our child, to end, reading what S prints meanwhile;
// its wait status, or -1.
int Reap(pid_t pid, Started *s = nullptr) {
    int status = -1;
    bool ended = Await([&] {
        if (s != nullptr) {
            Drain(*s);
        }
        pid_t r = waitpid(pid, &status, WNOHANG);
        return r == pid || (r < 0 && errno != EINTR);
    });
    return ended ? status : -1;
}

// How often TEXT occurs in WITHIN.
size_t Occurrences(const std::string &within, const std::string &text) {
    size_t count = 0;
    for (size_t at = within.find(text); at != std::string::npos; at = within.find(text, at + 1)) {
        count++;
    }
    return count;
}

// Files below DIR whose names hold TEXT.
std::vector<std::string> FilesHolding(const std::string &dir, const std::string &text) {
    std::vector<std::string> found;
    if (DIR *d = opendir(dir.c_str())) {
        for (struct dirent *e = readdir(d); e != nullptr; e = readdir(d)) {
            if (std::string(e->d_name).find(text) != std::string::npos) {
                found.push_back(e->d_name);
            }
        }
        closedir(d);
    }
    return found;
}

// The row's name where a test name shows the parameter.
void PrintTo(const Interruption &row, std::ostream *os) {
    *os << row.name;
}

class InterruptionTest : public UpgradeServerTest,
                         public ::testing::WithParamInterface<Interruption> {
  protected:
    void TearDown() override {
        // Nothing started here outlives the test.
        if (lanrefit_ > 0) {
            kill(-lanrefit_, SIGKILL);
            waitpid(lanrefit_, nullptr, 0);
        }
        if (tool_ > 0) {
            kill(tool_, SIGKILL);
            waitpid(tool_, nullptr, 0);
        }
        UpgradeServerTest::TearDown();
    }
    pid_t lanrefit_ = -1;
    pid_t tool_ = -1;
};

// What a second run prints while another holds the run lock (a pipe: no colour).
const char kLocked[] =
    "Another lanrefit run is in progress on this server. Try again when it has ended.\r\n";

TEST_P(InterruptionTest, RunStoppedThenRunAgain) {
    const Interruption &t = GetParam();
    if (IsWindowsTarget() && t.signal != SECOND_RUN) {
        GTEST_SKIP() << "Linux signals: native only";
    }
    // The tool outlives a killed lanrefit; it is handed to this process then, to be waited for.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    Layout(SilentUpgrade(t.declines));
    ASSERT_FALSE(HasFailure());

    // The writes in effect once the run has been stopped and the tool has
    // ended: the write in progress and those before it that did not fail.
    const bool killed = t.signal == SIGKILL || t.moment == AT_QUESTION;
    const bool second_run = t.signal == SECOND_RUN;
    const unsigned effective = t.moment == AT_QUESTION ? 0u
                               : second_run            ? kAllWrites
                                                       : ((1u << t.write) - 1) & ~t.failed;
    Started s;
    if (t.moment == AT_QUESTION) {
        std::string answers;
        for (int i = 0; i < t.declines; i++) {
            answers += "n\n";
        }
        s = Start(work_, {}, Env(""), answers);
        lanrefit_ = s.pid;
        ASSERT_TRUE(Await([&] {
            Drain(s);
            return Occurrences(s.out, kQuestion) == static_cast<size_t>(t.declines) + 1;
        })) << "no question; printed:\n"
            << s.out;
    } else {
        int delay = t.moment == DURING_WRITE ? 1000 : 500;
        std::string fault = "delay=" + std::to_string(delay) + " at=" + std::to_string(t.write);
        for (int w = 0; w < kWriteCount; w++) {
            if ((t.failed & (1u << w)) != 0) {
                fault += "; nobackup at=" + std::to_string(w + 1);
            }
        }
        // At the terminal an interactive run, which takes every offer.
        const bool terminal = t.signal == CTRL_C_TYPED;
        s = terminal ? Start(work_, {}, Env(fault), "\n\n\n", true)
                     : Start(work_, {"-s"}, Env(fault), "");
        lanrefit_ = s.pid;
        const char *image = kPlannedWrites[t.write - 1].image;
        ASSERT_TRUE(Await([&] {
            Drain(s);
            return (tool_ = FindTool(s.pid, image)) > 0;
        })) << "the tool never started for "
            << image;
        if (t.moment == BETWEEN_WRITES) {
            // Held while the tool runs, signalled once it has ended.
            ASSERT_EQ(kill(s.pid, SIGSTOP), 0);
            int status = 0;
            ASSERT_EQ(waitpid(s.pid, &status, WUNTRACED), s.pid);
            ASSERT_TRUE(WIFSTOPPED(status));
            ASSERT_TRUE(Await([&] { return ProcState(tool_) == 'Z'; }));
        } else if (t.signal == SIGKILL || second_run) {
            // Held, so that it still writes when the next run is tried.
            ASSERT_EQ(kill(tool_, SIGSTOP), 0);
        }
    }
    const std::string calls_before = ReadFileText(server_.call_log);
    const std::string log_before = ReadFileText(LogFileOf(work_));
    if (second_run) {
        // A silent run says why on standard error, any other run on standard
        // output; neither touches the log or the library. The report runs
        // take no lock.
        RunResult silent = Run(RunSpec{{"-s"}, "", Env(""), ""});
        EXPECT_EQ(silent.exit_code, 0);
        EXPECT_EQ(silent.out, "");
        EXPECT_EQ(silent.err, Console(kLocked));
        RunResult listing = Run(RunSpec{{"-l"}, "", Env(""), ""});
        EXPECT_EQ(listing.exit_code, 0);
        EXPECT_EQ(listing.out, Console(kLocked));
        EXPECT_EQ(listing.err, "");
        EXPECT_EQ(ReadFileText(server_.call_log), calls_before) << "the second runs called";
        EXPECT_EQ(ReadFileText(LogFileOf(work_)), log_before);
        RunResult report = Run(RunSpec{{"-c"}, "", Env(""), ""});
        EXPECT_EQ(report.exit_code, 1) << report.out;
        ASSERT_EQ(kill(tool_, SIGCONT), 0);
    } else if (t.signal == SIGKILL) {
        ASSERT_EQ(kill(s.pid, SIGKILL), 0);
    } else if (t.signal == CTRL_C_TYPED) {
        ASSERT_EQ(write(s.input, "\x03", 1), 1);
    } else {
        ASSERT_EQ(kill(-s.pid, t.signal), 0);
        ASSERT_EQ(kill(-s.pid, SIGCONT), 0);
    }
    int status = Reap(s.pid, &s);
    Drain(s);
    lanrefit_ = -1;
    if (killed) {
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == t.signal)
            << "wait status " << status;
    } else {
        // lanrefit waited for the tool, then ended the run itself.
        EXPECT_TRUE(WIFEXITED(status)) << "wait status " << status;
        if (IsWindowsTarget()) {
            waitpid(tool_, nullptr, WNOHANG); // Wine's processes are no children of their parent
        } else {
            EXPECT_EQ(kill(tool_, 0), -1) << "the tool outlived lanrefit";
        }
        tool_ = -1;
    }
    if (tool_ > 0) {
        if (t.signal == SIGKILL && t.moment == DURING_WRITE) {
            // The tool still writes: it holds the run lock for the next run.
            RunResult early = Run(RunSpec{{"-s"}, "", Env(""), ""});
            EXPECT_EQ(early.err, Console(kLocked));
            EXPECT_EQ(early.exit_code, 0);
            ASSERT_EQ(kill(tool_, SIGCONT), 0);
        }
        int tool_status = Reap(tool_);
        EXPECT_TRUE(WIFEXITED(tool_status) && WEXITSTATUS(tool_status) == 0)
            << "the tool's wait status " << tool_status;
        tool_ = -1;
    }
    close(s.input);
    close(s.output);
    EXPECT_EQ(ReadFileText(s.err_path), "");

    // The write in progress completed, none after it began.
    std::string journal;
    std::map<std::string, std::string> backups;
    for (int w = 0; w < kWriteCount; w++) {
        if ((t.failed & (1u << w)) != 0 && w + 1 < t.write) {
            journal += Command(w, 0) + " => backup: cannot save the backup (injected)\n";
        } else if ((effective & (1u << w)) != 0) {
            journal += Command(w, 0) + " => written\n";
            backups[BackupName(kPlannedWrites[w].adapter, 0)] =
                ImageWith(kPlannedWrites[w].adapter, 0);
        }
    }
    EXPECT_EQ(ReadFileText(Journal()), journal);
    EXPECT_TRUE(NvramHolds(effective));
    EXPECT_TRUE(BackupsAre(backups));
    EXPECT_EQ(FilesHolding(ServerDir(), ".tmp"), std::vector<std::string>{});

    // The log holds every line the run had finished, and no part of another:
    // up to where it was closed before the tool started (during and between
    // writes), or, at a question, up to the answer before it. An interrupted
    // run adds that it was, and ends as cancelled, or with errors after a
    // failed write.
    const std::string log = ReadFileText(LogFileOf(work_));
    if (t.moment == AT_QUESTION) {
        std::string said = BannerLog() + FoundLine('A');
        for (int i = 0; i < t.declines; i++) {
            said += std::string(kQuestion) + "n\n";
        }
        size_t tail = log.size() > 120 ? log.size() - 120 : 0;
        EXPECT_TRUE(log == said) << "the log holds " << log.size() << " bytes of the "
                                 << said.size() << " the run had said; it ends:\n"
                                 << log.substr(tail);
    } else if (second_run) {
        EXPECT_EQ(log, Expected(0, kAllWrites).log);
        EXPECT_EQ(WEXITSTATUS(status), 1);
    } else if (killed) {
        EXPECT_EQ(log, Expected(0, effective, false, t.write).log);
    } else {
        const std::string ending = t.failed != 0
                                       ? "\nNIC firmware update completed with errors. \r\n"
                                       : "\r\nFirmware upgrade cancelled by User \r\n";
        const std::string tail = "Run interrupted: no further writes.\r\n" + ending + "\r\n";
        if (t.signal == CTRL_C_TYPED) {
            // Questions and answers went before: the log's end is compared.
            EXPECT_EQ(log.substr(log.size() - std::min(log.size(), tail.size())), tail);
        } else {
            EXPECT_EQ(log, Expected(0, effective, false, t.write, t.failed).log + tail);
        }
        EXPECT_EQ(WEXITSTATUS(status), t.failed != 0 ? 0 : 1);
        EXPECT_EQ(log.find("elapsed"), std::string::npos);
    }
    if (t.signal == CTRL_C_TYPED) {
        // At the terminal: the progress line drawn when the tool starts, and
        // erased in place when it ends; the interruption announced once; the
        // cancel line.
        const std::string progress = "\rBoot Code MAC: 0A1B2C3D4E5F  0:00 elapsed";
        const std::string erased = "\r" + std::string(progress.size() - 1, ' ') + "\r";
        EXPECT_NE(s.out.find(progress), std::string::npos) << s.out;
        EXPECT_EQ(Occurrences(s.out,
                              "\r\nInterrupted: the write in progress will finish, then the run "
                              "stops.\r\n"),
                  1u)
            << s.out;
        EXPECT_EQ(s.out.substr(s.out.rfind("elapsed") + 7, erased.size()), erased) << s.out;
        EXPECT_NE(s.out.find("\r\nFirmware upgrade cancelled by User \r\n"), std::string::npos);
    }

    // The same upgrade again does what is left, appending to the log; the
    // backups from before stay, the new ones hold the images it found.
    RunResult again = RunSilent("");
    ExpectedRun e = Expected(effective, kAllWrites);
    EXPECT_EQ(again.exit_code, e.exit_code);
    EXPECT_EQ(again.out, "");
    EXPECT_EQ(again.err, "");
    EXPECT_EQ(ReadFileText(LogFileOf(work_)), log + e.log);
    EXPECT_TRUE(LibraryClosed(calls_));
    for (int w = 0; w < kWriteCount; w++) {
        if ((effective & (1u << w)) == 0) {
            char key = kPlannedWrites[w].adapter;
            journal += Command(w, effective) + " => written\n";
            backups.emplace(BackupName(key, effective), ImageWith(key, effective));
        }
    }
    EXPECT_EQ(ReadFileText(Journal()), journal);
    EXPECT_TRUE(NvramHolds(kAllWrites));
    EXPECT_TRUE(BackupsAre(backups));
}

INSTANTIATE_TEST_SUITE_P(Runs, InterruptionTest, ::testing::ValuesIn(kInterruptions),
                         RowName<Interruption>);

} // namespace
