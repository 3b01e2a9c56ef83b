// The command line: its parse into the run word and argument texts, the mode
// decision, the usage text and the entry point.
#pragma once

#include "base/runflags.h"

// What the command line asks for.
constexpr int MODE_USAGE = 0;            // print the usage text, exit with *exit_code
constexpr int MODE_REPORT_INSTALLED = 1; // -c
constexpr int MODE_REPORT_IMAGE = 2;     // -I file
constexpr int MODE_UPGRADE = 3;          // every other run

// Parses the arguments into RunFlags and the argument texts and takes the mode
// decision. For MODE_USAGE, *exit_code is the code the process ends with.
int ParseCommandLine(int argc, char **argv, int *exit_code);

// Prints the five usage lines through Output.
void usage();

// The entry point: parse, then exactly one of usage, a report or the upgrade run.
int lanrefit_main(int argc, char **argv);
