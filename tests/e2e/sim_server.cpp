// Simulated servers for the end-to-end tests: simtool runs, the call log
// reader and the checks shared by the report and fault-sweep tests.
#include "sim_server.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <sys/stat.h>

std::string SimCallArg(const SimCall &call, const std::string &key) {
    std::string needle = " " + key + "=";
    size_t at = call.line.find(needle);
    if (at == std::string::npos) {
        return "";
    }
    at += needle.size();
    size_t end = call.line.find(' ', at);
    return call.line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

bool RunSimtool(const std::vector<std::string> &args) {
    RunResult r = RunHost(ToolsBuildDir() + "/simtool", RunSpec{args, "", {}, ""});
    if (r.exit_code != 0) {
        std::string line;
        for (const std::string &a : args) {
            line += a + " ";
        }
        ADD_FAILURE() << "simtool " << line << "exited " << r.exit_code << ": " << r.err;
        return false;
    }
    return true;
}

bool WriteNvram(const SimServer &server, const std::string &name,
                const std::vector<std::string> &options) {
    std::vector<std::string> args = {"nvram", server.dir + "/" + name};
    args.insert(args.end(), options.begin(), options.end());
    return RunSimtool(args);
}

SimServer MakeServer(const std::string &dir, const std::string &version,
                     const std::vector<std::string> &adapters,
                     const std::vector<std::string> &faults) {
    SimServer server;
    server.dir = dir;
    server.machine = dir + "/machine.txt";
    server.call_log = dir + "/calls.log";
    mkdir(dir.c_str(), 0755);
    std::vector<std::string> args = {"machine", server.machine, "--version", version};
    for (const std::string &a : adapters) {
        args.push_back("--adapter");
        args.push_back(a);
    }
    for (const std::string &f : faults) {
        args.push_back("--fault");
        args.push_back(f);
    }
    RunSimtool(args);
    return server;
}

SimServer LayOutServer(const std::string &dir, const std::string &version,
                       const SimLayout &layout) {
    SimServer server = MakeServer(dir, version, layout.adapters);
    for (const std::string &image : layout.images) {
        std::vector<std::string> words = Words(image);
        WriteNvram(server, words[0], std::vector<std::string>(words.begin() + 1, words.end()));
    }
    return server;
}

std::vector<std::string> SimEnv(const SimServer &server, const std::string &faults) {
    return {"OMBRI_SIM_MACHINE=" + server.machine, "OMBRI_SIM_CALL_LOG=" + server.call_log,
            "OMBRI_SIM_FAULTS=" + faults};
}

std::vector<SimCall> ReadCallLog(const std::string &path) {
    std::vector<SimCall> calls;
    for (const std::string &line : ReadLines(path)) {
        if (line.empty()) {
            continue;
        }
        SimCall call;
        call.line = line;
        size_t op = line.find(' ');
        size_t op_end = op == std::string::npos ? op : line.find(' ', op + 1);
        call.op = op == std::string::npos ? "" : line.substr(op + 1, op_end - op - 1);
        call.status = std::strtoul(SimCallArg(call, "status").c_str(), nullptr, 10);
        call.injected = line.find(" injected") != std::string::npos;
        calls.push_back(call);
    }
    return calls;
}

std::vector<SimCall> CallsOf(const std::vector<SimCall> &calls, const std::string &op,
                             const std::string &handle) {
    std::vector<SimCall> found;
    for (const SimCall &c : calls) {
        if (c.op == op && (handle.empty() || SimCallArg(c, "handle") == handle)) {
            found.push_back(c);
        }
    }
    return found;
}

::testing::AssertionResult LibraryClosed(const std::vector<SimCall> &calls) {
    bool initialised = false;
    for (const SimCall &c : calls) {
        if (c.op == "OmbriInitializeEx" && c.status == 0) {
            initialised = true;
        }
    }
    size_t closes = CallsOf(calls, "OmbriUninitialize").size();
    if (!initialised) {
        if (closes != 0) {
            return ::testing::AssertionFailure()
                   << "OmbriUninitialize without a successful OmbriInitializeEx";
        }
        return ::testing::AssertionSuccess();
    }
    if (closes != 1) {
        return ::testing::AssertionFailure() << closes << " OmbriUninitialize calls, expected 1";
    }
    if (calls.back().op != "OmbriUninitialize") {
        return ::testing::AssertionFailure() << "last library call: " << calls.back().line;
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult NoRuntimeReport(const std::string &err) {
    const char *reports[] = {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error",
                             "Unhandled exception",     "Unhandled page fault", "wine: Unhandled"};
    for (const char *r : reports) {
        if (err.find(r) != std::string::npos) {
            return ::testing::AssertionFailure() << "report \"" << r << "\" on stderr:\n" << err;
        }
    }
    return ::testing::AssertionSuccess();
}

std::string ZeroReportLine(int index) {
    std::string line = std::to_string(index) + "              0000-0000-0000-0000 0 0 0 ";
    for (int i = 0; i < 5; i++) {
        line += "- - - ";
    }
    return line + "  \n";
}

bool CopyFile(const std::string &from, const std::string &to) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    if (!in || !out) {
        ADD_FAILURE() << "cannot copy " << from << " to " << to;
        return false;
    }
    out << in.rdbuf();
    out.close();
    chmod(to.c_str(), 0755);
    return static_cast<bool>(out);
}

std::string TargetLibraryName() {
    return IsWindowsTarget() ? "OMBRIa.dll" : "libOMBRIa.so";
}

RunResult SimE2eTest::RunAgainst(const SimServer &server, const std::vector<std::string> &args,
                                 const std::string &faults) {
    std::remove(server.call_log.c_str());
    RunResult r = Run(RunSpec{args, "", SimEnv(server, faults), ""});
    calls_ = ReadCallLog(server.call_log);
    return r;
}

bool WriteComponent(const std::string &path, const std::string &kind, const std::string &version,
                    const std::string &pci) {
    std::vector<std::string> args = {"component", path, "--kind", kind, "--version", version};
    if (!pci.empty()) {
        args.push_back("--pci");
        args.push_back(pci);
    }
    return RunSimtool(args);
}

bool InstallWriter(const std::string &dir) {
    const char *name = IsWindowsTarget() ? "/imgwriter.exe" : "/imgwriter";
    return CopyFile(TargetBuildDir() + name, dir + name);
}

std::string BackupDirOf(const std::string &work_dir) {
    return SystemDriveDir(work_dir) + "/VLMSYSTEM/NICFWBACKUP/";
}

std::string LogFileOf(const std::string &work_dir) {
    return SystemDriveDir(work_dir) + "/VLMSYSTEM/log/lanrefit.log";
}

std::string BackupDirArg(const std::string &work_dir) {
    return IsWindowsTarget() ? std::string("C:/VLMSYSTEM/NICFWBACKUP/") : BackupDirOf(work_dir);
}

std::vector<std::string> ReadLines(const std::string &path) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> Words(const std::string &text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> std::quoted(word);) {
        words.push_back(word);
    }
    return words;
}
