// Simulated servers for the end-to-end tests: NVRAM images and machine files
// written with simtool, runs of lanrefit against them, and the library's call
// log read back as records (see docs/simulator.md).
#pragma once

#include "harness.h"

#include <string>
#include <vector>

// One line of the simulated library's call log.
struct SimCall {
    std::string op;   // "OmbriReadFirmware"
    std::string line; // the whole line, without its line end
    unsigned long status;
    bool injected;
};

// The value of KEY=VALUE in a call log line ("" when absent): SimCallArg(c, "offset").
std::string SimCallArg(const SimCall &call, const std::string &key);

// A simulated server laid out in one directory.
struct SimServer {
    std::string dir;      // the images, the machine file and the call log
    std::string machine;  // dir + "/machine.txt"
    std::string call_log; // dir + "/calls.log"
};

// Runs the native simtool; a non-zero exit is a test failure (with simtool's message).
bool RunSimtool(const std::vector<std::string> &args);

// Writes dir/name as an NVRAM image ("simtool nvram" with the given options).
bool WriteNvram(const SimServer &server, const std::string &name,
                const std::vector<std::string> &options);

// Creates DIR and writes its machine file: the library version and one
// "adapter" line per entry ('handle=4097 desc="..." nvram=p1.nvram').
SimServer MakeServer(const std::string &dir, const std::string &version,
                     const std::vector<std::string> &adapters,
                     const std::vector<std::string> &faults = {});

// What a simulated server holds: the adapter lines of its machine file and its
// NVRAM images, each as its file name and simtool nvram options
// ("port.nvram --bootcode 5.0.3 --entry 1:pxe").
struct SimLayout {
    std::vector<std::string> adapters;
    std::vector<std::string> images;
};

// Creates DIR with the layout; a failed simtool run is a test failure.
SimServer LayOutServer(const std::string &dir, const std::string &version, const SimLayout &layout);

// The environment of a run against the server: machine file, call log and faults
// (always set, so that nothing leaks in from the caller's environment).
std::vector<std::string> SimEnv(const SimServer &server, const std::string &faults = "");

// The call log; empty when there is none.
std::vector<SimCall> ReadCallLog(const std::string &path);

// The calls of one operation, optionally only those with handle=HANDLE.
std::vector<SimCall> CallsOf(const std::vector<SimCall> &calls, const std::string &op,
                             const std::string &handle = "");

// The library was closed on the way out: when OmbriInitializeEx succeeded, the
// log holds exactly one OmbriUninitialize and it is the last call.
::testing::AssertionResult LibraryClosed(const std::vector<SimCall> &calls);

// No sanitizer or crash report in a program's standard error.
::testing::AssertionResult NoRuntimeReport(const std::string &err);

// The -c line of a port whose record stayed zero: no identity, no versions.
std::string ZeroReportLine(int index);

// Copies a file (mode 0755), for programs and libraries laid out elsewhere.
bool CopyFile(const std::string &from, const std::string &to);

// The file name of the target build's adapter library.
std::string TargetLibraryName();

// Writes a component image file ("simtool component"): kind bootcode, pxe,
// ump, clp, iscsi or iscsistub.
bool WriteComponent(const std::string &path, const std::string &kind, const std::string &version,
                    const std::string &pci);

// The writer tool of the target build, copied into DIR as the program runs it
// (".\imgwriter").
bool InstallWriter(const std::string &dir);

// Where the upgrade run keeps its files on the system drive of a test.
std::string BackupDirOf(const std::string &work_dir); // host path, ends in '/'
std::string LogFileOf(const std::string &work_dir);
// The backup directory as the writer tool receives it on its command line.
std::string BackupDirArg(const std::string &work_dir);

// Lines of a text file, without their line ends.
std::vector<std::string> ReadLines(const std::string &path);

// The words of a text separated by spaces: "--bootcode 5.0.3" gives two, and
// so does "--bootcode \"bc 1.9.6\"" (double quotes keep spaces in a word).
std::vector<std::string> Words(const std::string &text);

// Base of the tests that run lanrefit against a simulated server in work_/server.
class SimE2eTest : public E2eTest {
  protected:
    std::string ServerDir() const { return work_ + "/server"; }
    // Runs lanrefit with ARGS against SERVER, with a fresh call log, and reads the log into calls_.
    RunResult RunAgainst(const SimServer &server, const std::vector<std::string> &args,
                         const std::string &faults = "");
    std::vector<SimCall> calls_;
};
