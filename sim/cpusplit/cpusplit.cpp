// cpusplit: runs a program and reports the CPU time that program used itself,
// apart from the time of the child processes it started and waited for (the
// benchmark's view of lanrefit without its writer tool). Linux only.
//
//   cpusplit REPORT PROGRAM [ARGUMENT]...
//
// The program runs with cpusplit's standard handles, environment and current
// directory; cpusplit exits with its exit code (128 + the signal when a signal
// ended it). REPORT gets one line of numbers:
//
//   self_ns=N children_ns=N total_ns=N self_user_ticks=N self_sys_ticks=N
//   children_ticks=N ticks_per_second=N
//
// How: the program is waited for without being reaped (waitid with WNOWAIT),
// so that its /proc entries remain; /proc/PID/schedstat then gives the
// nanoseconds the scheduler ran it (the program is single-threaded: its one
// thread is the whole process), and /proc/PID/stat its own user and system
// ticks and those of its reaped children. wait4 then reaps it; the rusage it
// returns holds the program's own time plus that of every child it waited
// for. total_ns is that sum, self_ns the scheduler's figure, children_ns the
// difference (rusage's whole microseconds aside); children_ticks is the
// kernel's tick count of the same, a check.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

long long Microseconds(const timeval &t) {
    return static_cast<long long>(t.tv_sec) * 1000000LL + t.tv_usec;
}

// The fields of /proc/PID/stat after the command name, from field 3 on.
bool StatFields(pid_t pid, std::string fields[], int count) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) {
        return false;
    }
    size_t close = line.rfind(')');
    if (close == std::string::npos) {
        return false;
    }
    std::istringstream rest(line.substr(close + 1));
    for (int i = 0; i < count; i++) {
        if (!(rest >> fields[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: cpusplit REPORT PROGRAM [ARGUMENT]...\n");
        return 2;
    }
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        fprintf(stderr, "cpusplit: fork: %s\n", strerror(errno));
        return 2;
    }
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        fprintf(stderr, "cpusplit: %s: %s\n", argv[2], strerror(errno));
        _exit(127);
    }
    siginfo_t info;
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0) {
        if (errno != EINTR) {
            fprintf(stderr, "cpusplit: waitid: %s\n", strerror(errno));
            return 2;
        }
    }
    // Still a zombie: its own figures are there to read.
    long long self_ns = -1;
    std::ifstream schedstat("/proc/" + std::to_string(pid) + "/schedstat");
    schedstat >> self_ns;
    // Fields 14 to 17 of stat: utime, stime, cutime, cstime (here from index 0 = field 3).
    std::string fields[15];
    bool have_stat = StatFields(pid, fields, 15);
    int status = 0;
    rusage usage;
    if (wait4(pid, &status, 0, &usage) != pid) {
        fprintf(stderr, "cpusplit: wait4: %s\n", strerror(errno));
        return 2;
    }
    long long total_ns = (Microseconds(usage.ru_utime) + Microseconds(usage.ru_stime)) * 1000LL;
    // rusage comes in whole microseconds, cut off: a program without children
    // can show a total a microsecond or two below the scheduler's figure.
    long long children_ns = total_ns > self_ns ? total_ns - self_ns : 0;

    FILE *report = fopen(argv[1], "w");
    if (report == nullptr || self_ns < 0 || !have_stat) {
        fprintf(stderr, "cpusplit: no figures for %s\n", argv[2]);
        if (report != nullptr) {
            fclose(report);
        }
        return 2;
    }
    long long children_ticks =
        strtoll(fields[13].c_str(), nullptr, 10) + strtoll(fields[14].c_str(), nullptr, 10);
    fprintf(report,
            "self_ns=%lld children_ns=%lld total_ns=%lld self_user_ticks=%s self_sys_ticks=%s "
            "children_ticks=%lld ticks_per_second=%ld\n",
            self_ns, children_ns, total_ns, fields[11].c_str(), fields[12].c_str(), children_ticks,
            sysconf(_SC_CLK_TCK));
    fclose(report);
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return WEXITSTATUS(status);
}
