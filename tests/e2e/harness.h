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

// The host directory that plays the system drive: native runs get it through
// SystemDrive, Wine runs use drive C: of the prefix. Its VLMSYSTEM folder is
// removed by ResetSystemDrive.
std::string SystemDriveDir(const std::string &work_dir);
void ResetSystemDrive(const std::string &work_dir);

// The program file of the target build.
std::string TargetProgram();

// Runs a program of the target build lying at PROGRAM (natively, or under
// Wine); by default in the program's own directory.
RunResult RunTarget(const std::string &program, const RunSpec &spec);
// Runs a host program (simtool, shell) natively; by default in the current directory.
RunResult RunHost(const std::string &program, const RunSpec &spec);

// For a child about to start a program: the pointers execv takes, into ARGS
// and ending in null; and the "NAME=value" entries set in its environment,
// later ones replacing earlier ones of the same name.
std::vector<char *> ArgvOf(std::vector<std::string> &args);
void SetChildEnvironment(const std::vector<std::string> &env);

// What a console text looks like when it arrives from the target: the Windows
// program writes standard output in text mode, so every "\n" becomes "\r\n".
std::string Console(const std::string &text);

std::string ReadFileText(const std::string &path);
void WriteFileText(const std::string &path, const std::string &text);
bool FileExists(const std::string &path);

void RemoveTree(const std::string &path);

// The name of a table row as its test's name, for INSTANTIATE_TEST_SUITE_P.
template <typename Row> std::string RowName(const ::testing::TestParamInfo<Row> &info) {
    return info.param.name;
}

// Base of the end-to-end tests: a fresh work directory and an empty system
// drive for every test; the work directory is kept when the test failed.
class E2eTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Runs lanrefit of the target build, by default in the work directory.
    RunResult Run(const RunSpec &spec);
    RunResult Run(const std::vector<std::string> &args) { return Run(RunSpec{args, "", {}, ""}); }
    std::string work_;
};
