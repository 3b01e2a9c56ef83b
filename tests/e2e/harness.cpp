// End-to-end harness: process start-up, capture and the per-target details.
#include "harness.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string Config(const std::string &key) {
    const char *path = getenv("LANREFIT_E2E_CONFIG");
    std::ifstream in(path != nullptr ? path : "");
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, key.size() + 1, key + "=") == 0) {
            return line.substr(key.size() + 1);
        }
    }
    return "";
}

// Runs argv with the spec's environment additions, directory and input; captures output.
RunResult Spawn(std::vector<std::string> argv, const RunSpec &spec) {
    char tmpl[] = "/tmp/lanrefit-e2e-io-XXXXXX";
    std::string io = mkdtemp(tmpl);
    std::string in_path = io + "/stdin", out_path = io + "/stdout", err_path = io + "/stderr";
    WriteFileText(in_path, spec.input);
    argv.insert(argv.end(), spec.args.begin(), spec.args.end());
    std::vector<char *> args = ArgvOf(argv);

    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int in = open(in_path.c_str(), O_RDONLY);
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
            dup2(err, 2) < 0 || (!spec.cwd.empty() && chdir(spec.cwd.c_str()) != 0)) {
            _exit(127);
        }
        SetChildEnvironment(spec.env);
        execvp(args[0], args.data());
        _exit(127);
    }
    RunResult r;
    int status = 0;
    r.exit_code = -1;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        r.exit_code = WEXITSTATUS(status);
    }
    r.out = ReadFileText(out_path);
    r.err = ReadFileText(err_path);
    std::remove(in_path.c_str());
    std::remove(out_path.c_str());
    std::remove(err_path.c_str());
    rmdir(io.c_str());
    return r;
}

} // namespace

std::vector<char *> ArgvOf(std::vector<std::string> &args) {
    std::vector<char *> argv;
    for (std::string &a : args) {
        argv.push_back(&a[0]);
    }
    argv.push_back(nullptr);
    return argv;
}

void SetChildEnvironment(const std::vector<std::string> &env) {
    for (const std::string &e : env) {
        size_t eq = e.find('=');
        setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
    }
}

bool IsWindowsTarget() {
    return Config("target") == "windows";
}
std::string TargetBuildDir() {
    return Config("build");
}
std::string ToolsBuildDir() {
    return Config("tools");
}
std::string WinePrefix() {
    return Config("wineprefix");
}

std::string SystemDriveDir(const std::string &work_dir) {
    if (IsWindowsTarget()) {
        return WinePrefix() + "/drive_c";
    }
    return work_dir + "/sysdrive";
}

void ResetSystemDrive(const std::string &work_dir) {
    std::string root = SystemDriveDir(work_dir);
    mkdir(root.c_str(), 0755);
    RemoveTree(root + "/VLMSYSTEM");
}

std::string TargetProgram() {
    return TargetBuildDir() + (IsWindowsTarget() ? "/lanrefit.exe" : "/lanrefit");
}

RunResult RunTarget(const std::string &program, const RunSpec &spec) {
    RunSpec run = spec;
    if (run.cwd.empty()) {
        run.cwd = program.substr(0, program.rfind('/'));
    }
    if (!IsWindowsTarget()) {
        return Spawn({program}, run);
    }
    run.env.insert(run.env.begin(), {"WINEDEBUG=-all", "WINEPREFIX=" + WinePrefix()});
    return Spawn({"wine", program}, run);
}

RunResult RunHost(const std::string &program, const RunSpec &spec) {
    return Spawn({program}, spec);
}

std::string Console(const std::string &text) {
    if (!IsWindowsTarget()) {
        return text;
    }
    std::string r;
    for (char c : text) {
        if (c == '\n') {
            r += '\r';
        }
        r += c;
    }
    return r;
}

std::string ReadFileText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFileText(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

bool FileExists(const std::string &path) {
    return access(path.c_str(), F_OK) == 0;
}

void RemoveTree(const std::string &path) {
    RunHost("/bin/rm", RunSpec{{"-rf", path}, "", {}, ""});
}

void E2eTest::SetUp() {
    // /tmp/lanrefit-e2e-Suite.Name-XXXXXX, kept when the test fails.
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    std::string dir = "/tmp/lanrefit-e2e-" + name + "-XXXXXX";
    ASSERT_NE(mkdtemp(&dir[0]), nullptr);
    work_ = dir;
    ResetSystemDrive(work_);
}

RunResult E2eTest::Run(const RunSpec &spec) {
    RunSpec run = spec;
    if (run.cwd.empty()) {
        run.cwd = work_;
    }
    if (!IsWindowsTarget()) {
        run.env.insert(run.env.begin(), "SystemDrive=" + SystemDriveDir(work_));
    }
    return RunTarget(TargetProgram(), run);
}

void E2eTest::TearDown() {
    if (!HasFailure()) {
        RemoveTree(work_);
    } else {
        std::fprintf(stderr, "work directory kept: %s\n", work_.c_str());
    }
}
