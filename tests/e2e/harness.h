// End-to-end harness: runs the real program of one build (native, or the
// Windows build under Wine) in a fresh work directory, with chosen arguments,
// environment and standard input, and collects what it printed and its exit code.
//
// The target comes from the file named by LANREFIT_E2E_CONFIG, which CMake
// writes for each target, one "key=value" per line:
//   target      "native" or "windows"
//   build       the build tree holding lanrefit(.exe) and the simulated library
//   tools       the native build tree holding simtool (host tools)
//   wineprefix  for "windows": the private Wine prefix
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

struct RunSpec {
    std::vector<std::string> args;
    std::string input;            // standard input; empty means an empty file
    std::vector<std::string> env; // extra "NAME=value" entries
    std::string cwd;              // default: the test's work directory
};

struct RunResult {
    std::string out;
    std::string err;
    int exit_code; // -1 when the program did not end normally
};

bool IsWindowsTarget();
std::string TargetBuildDir();
std::string ToolsBuildDir();
std::string WinePrefix();

// A fresh, empty directory for the current test.
std::string MakeWorkDir();

// The host directory that plays the system drive: native runs get it through
// SystemDrive, Wine runs use drive C: of the prefix. Its VLMSYSTEM folder is
// removed by ResetSystemDrive.
std::string SystemDriveDir(const std::string &work_dir);
void ResetSystemDrive(const std::string &work_dir);

// Runs lanrefit of the target build.
RunResult RunLanrefit(const std::string &work_dir, const RunSpec &spec);
// Runs a host program (simtool, shell) natively.
RunResult RunHost(const std::string &program, const RunSpec &spec);

// What a console text looks like when it arrives from the target: the Windows
// program writes standard output in text mode, so every "\n" becomes "\r\n".
std::string Console(const std::string &text);

std::string ReadFileText(const std::string &path);
void WriteFileText(const std::string &path, const std::string &text);
bool FileExists(const std::string &path);

void RemoveTree(const std::string &path);

// Base of the end-to-end tests: a fresh work directory and an empty system
// drive for every test; the work directory is kept when the test failed.
class E2eTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    RunResult Run(const RunSpec &spec) { return RunLanrefit(work_, spec); }
    RunResult Run(const std::vector<std::string> &args) {
        RunSpec spec;
        spec.args = args;
        return RunLanrefit(work_, spec);
    }
    std::string work_;
};
