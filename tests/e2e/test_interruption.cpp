// The two-adapter upgrade stopped at its worst moments: lanrefit killed
// (SIGKILL) or interrupted (SIGINT to the process group it runs in, as a
// Ctrl-C at its console would) while the writer tool writes, between two
// writes, and at a question. Afterwards the write in progress has completed
// (the tool runs in a process group of its own and outlives the program) or
// never started, the NVRAM images are whole, the backups hold the images from
// before, the log ends at a line end, and the same upgrade run again finishes
// the job. Native only: these are Linux signals.
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
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

enum Moment {
    DURING_WRITE,   // while the tool's start number `write` runs (its delay, before it writes)
    BETWEEN_WRITES, // start number `write` has ended, the next has not begun
    AT_QUESTION,    // an interactive run waits for an answer, after `declines` answers "n"
};

struct Interruption {
    const char *name;
    Moment moment;
    int write;    // DURING_WRITE, BETWEEN_WRITES: the start of the tool, from 1
    int declines; // AT_QUESTION: boot code records offered to A and declined before
    int signal;   // SIGKILL to lanrefit, or SIGINT to its process group
};

const Interruption kInterruptions[] = {
    {"KilledDuringFirstWrite", DURING_WRITE, 1, 0, SIGKILL},
    {"CtrlCDuringFirstWrite", DURING_WRITE, 1, 0, SIGINT},
    {"KilledDuringJumperWrite", DURING_WRITE, 3, 0, SIGKILL},
    {"KilledBetweenWrites", BETWEEN_WRITES, 1, 0, SIGKILL},
    {"CtrlCBetweenWrites", BETWEEN_WRITES, 1, 0, SIGINT},
    {"KilledAtQuestion", AT_QUESTION, 0, 0, SIGKILL},
    {"CtrlCAtQuestion", AT_QUESTION, 0, 0, SIGINT},
    // More answers than the log's stream buffer holds went before the question.
    {"KilledAtQuestionAfterManyAnswers", AT_QUESTION, 0, 99, SIGKILL},
};

const char kQuestion[] = "Update Boot Code 5.0.3 to 5.0.4 -  y/n/q (y):";
constexpr auto kPatience = std::chrono::seconds(30);

// lanrefit started in a process group of its own, its standard input a pipe
// kept open, its standard output a pipe read here.
struct Started {
    pid_t pid = -1;
    int input = -1;
    int output = -1;
    std::string out;
    std::string err_path;
};

Started Start(const std::string &work, std::vector<std::string> args, std::vector<std::string> env,
              const std::string &input) {
    Started s;
    s.err_path = work + "/stderr.txt";
    env.push_back("SystemDrive=" + SystemDriveDir(work));
    args.insert(args.begin(), TargetProgram());
    std::vector<char *> argv = ArgvOf(args);

    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) {
        ADD_FAILURE() << "pipe: " << strerror(errno);
        return s;
    }
    fflush(nullptr);
    s.pid = fork();
    if (s.pid == 0) {
        setpgid(0, 0);
        // A suite started as a background job ignores SIGINT, and the program
        // would inherit that: it gets the default, as at a console.
        signal(SIGINT, SIG_DFL);
        SetChildEnvironment(env);
        int err = open(s.err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err < 0 || dup2(in[0], 0) < 0 || dup2(out[1], 1) < 0 || dup2(err, 2) < 0 ||
            chdir(work.c_str()) != 0) {
            _exit(127);
        }
        close(in[0]);
        close(in[1]);
        close(out[0]);
        close(out[1]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    setpgid(s.pid, s.pid); // also here, so that it holds before the first signal
    close(in[0]);
    close(out[1]);
    s.input = in[1];
    s.output = out[0];
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

// The child of PARENT whose command line names IMAGE: the tool writing it.
pid_t FindTool(pid_t parent, const std::string &image) {
    DIR *proc = opendir("/proc");
    pid_t found = -1;
    for (struct dirent *e = proc != nullptr ? readdir(proc) : nullptr; e != nullptr && found < 0;
         e = readdir(proc)) {
        pid_t pid = static_cast<pid_t>(std::strtol(e->d_name, nullptr, 10));
        pid_t ppid = 0;
        if (pid <= 0 || ProcState(pid, &ppid) == '\0' || ppid != parent) {
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

// Waits for process PID, our child, to end; its wait status, or -1.
int Reap(pid_t pid) {
    int status = -1;
    bool ended = Await([&] {
        pid_t r = waitpid(pid, &status, WNOHANG);
        return r == pid || (r < 0 && errno != EINTR);
    });
    return ended ? status : -1;
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

TEST_P(InterruptionTest, RunStoppedThenRunAgain) {
    const Interruption &t = GetParam();
    if (IsWindowsTarget()) {
        GTEST_SKIP() << "Linux signals: native only";
    }
    // The tool outlives lanrefit; it is handed to this process then, to be waited for.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    Layout(SilentUpgrade(t.declines));
    ASSERT_FALSE(HasFailure());

    // The writes in effect once the run has been stopped and the tool has ended.
    const unsigned effective = t.moment == AT_QUESTION ? 0u : (1u << t.write) - 1;
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
            size_t asked = 0;
            for (size_t at = s.out.find(kQuestion); at != std::string::npos;
                 at = s.out.find(kQuestion, at + 1)) {
                asked++;
            }
            return asked == static_cast<size_t>(t.declines) + 1;
        })) << "no question; printed:\n"
            << s.out;
    } else {
        int delay = t.moment == DURING_WRITE ? 1000 : 500;
        std::string fault = "delay=" + std::to_string(delay) + " at=" + std::to_string(t.write);
        s = Start(work_, {"-s"}, Env(fault), "");
        lanrefit_ = s.pid;
        const char *image = kPlannedWrites[t.write - 1].image;
        ASSERT_TRUE(Await([&] { return (tool_ = FindTool(s.pid, image)) > 0; }))
            << "the tool never started for " << image;
        if (t.moment == BETWEEN_WRITES) {
            // Held while the tool runs, signalled once it has ended.
            ASSERT_EQ(kill(s.pid, SIGSTOP), 0);
            int status = 0;
            ASSERT_EQ(waitpid(s.pid, &status, WUNTRACED), s.pid);
            ASSERT_TRUE(WIFSTOPPED(status));
            ASSERT_TRUE(Await([&] { return ProcState(tool_) == 'Z'; }));
        }
    }
    if (t.signal == SIGKILL) {
        ASSERT_EQ(kill(s.pid, SIGKILL), 0);
    } else {
        ASSERT_EQ(kill(-s.pid, SIGINT), 0);
        ASSERT_EQ(kill(-s.pid, SIGCONT), 0);
    }
    int status = Reap(s.pid);
    lanrefit_ = -1;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == t.signal) << "wait status " << status;
    if (tool_ > 0) {
        int tool_status = Reap(tool_);
        tool_ = -1;
        EXPECT_TRUE(WIFEXITED(tool_status) && WEXITSTATUS(tool_status) == 0)
            << "the tool's wait status " << tool_status;
    }
    close(s.input);
    close(s.output);
    EXPECT_EQ(ReadFileText(s.err_path), "");

    // The write in progress completed, none after it began.
    std::string journal;
    std::map<std::string, std::string> backups;
    for (int w = 0; w < kWriteCount; w++) {
        if ((effective & (1u << w)) != 0) {
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
    // up to where it was closed before the tool started, or, at a question,
    // up to the answer before it.
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
    } else {
        EXPECT_EQ(log, Expected(0, effective, false, t.write).log);
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
