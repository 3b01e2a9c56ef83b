// End-to-end harness: process start-up, capture and the per-target details.
#include "harness.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

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

// Runs argv with the given environment additions, cwd and input; captures output.
RunResult Spawn(const std::vector<std::string> &argv, const RunSpec &spec, const std::string &cwd,
                const std::vector<std::string> &extra_env) {
    char tmpl[] = "/tmp/lanrefit-e2e-io-XXXXXX";
    std::string io = mkdtemp(tmpl);
    std::string in_path = io + "/stdin", out_path = io + "/stdout", err_path = io + "/stderr";
    WriteFileText(in_path, spec.input);

    // Later entries replace earlier ones of the same name.
    std::vector<std::string> env_store;
    auto set_env = [&env_store](const std::string &entry) {
        std::string name = entry.substr(0, entry.find('=') + 1);
        for (std::string &e : env_store) {
            if (e.compare(0, name.size(), name) == 0) {
                e = entry;
                return;
            }
        }
        env_store.push_back(entry);
    };
    for (char **e = environ; *e != nullptr; ++e) {
        set_env(*e);
    }
    for (const std::string &e : extra_env) {
        set_env(e);
    }
    for (const std::string &e : spec.env) {
        set_env(e);
    }
    std::vector<char *> envp;
    for (std::string &e : env_store) {
        envp.push_back(&e[0]);
    }
    envp.push_back(nullptr);
    std::vector<std::string> argv_store = argv;
    std::vector<char *> args;
    for (std::string &a : argv_store) {
        args.push_back(&a[0]);
    }
    args.push_back(nullptr);

    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int in = open(in_path.c_str(), O_RDONLY);
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
            dup2(err, 2) < 0 || chdir(cwd.c_str()) != 0) {
            _exit(127);
        }
        if (strchr(args[0], '/') != nullptr) {
            execve(args[0], args.data(), envp.data());
        } else {
            environ = envp.data();
            execvp(args[0], args.data());
        }
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

std::string MakeWorkDir() {
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info != nullptr ? std::string(info->test_suite_name()) + "." + info->name()
                                       : std::string("e2e");
    for (char &c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    std::string tmpl = "/tmp/lanrefit-e2e-" + name + "-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    const char *dir = mkdtemp(buf.data());
    return dir != nullptr ? dir : "";
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
    RunSpec rm;
    rm.args = {"-rf", root + "/VLMSYSTEM"};
    RunHost("/bin/rm", rm);
}

RunResult RunLanrefit(const std::string &work_dir, const RunSpec &spec) {
    std::string cwd = spec.cwd.empty() ? work_dir : spec.cwd;
    std::vector<std::string> argv;
    std::vector<std::string> env;
    if (IsWindowsTarget()) {
        argv = {"wine", TargetBuildDir() + "/lanrefit.exe"};
        env = {"WINEDEBUG=-all", "WINEPREFIX=" + WinePrefix()};
    } else {
        argv = {TargetBuildDir() + "/lanrefit"};
        env = {"SystemDrive=" + SystemDriveDir(work_dir)};
    }
    argv.insert(argv.end(), spec.args.begin(), spec.args.end());
    return Spawn(argv, spec, cwd, env);
}

RunResult RunHost(const std::string &program, const RunSpec &spec) {
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), spec.args.begin(), spec.args.end());
    char here[4096];
    std::string cwd = spec.cwd.empty() ? std::string(getcwd(here, sizeof here)) : spec.cwd;
    return Spawn(argv, spec, cwd, {});
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
    RunSpec rm;
    rm.args = {"-rf", path};
    RunHost("/bin/rm", rm);
}

void E2eTest::SetUp() {
    work_ = MakeWorkDir();
    ASSERT_FALSE(work_.empty());
    ResetSystemDrive(work_);
}

void E2eTest::TearDown() {
    if (!HasFailure()) {
        RemoveTree(work_);
    } else {
        std::fprintf(stderr, "work directory kept: %s\n", work_.c_str());
    }
}
