// Splitting a command line into its arguments the way a Windows program's C
// runtime does it: the POSIX layer starts the writer tool with the arguments
// that the tool would receive on Windows.
#pragma once

#include <string>
#include <vector>

// The arguments of a Windows command line, the program name first. The
// program name runs to the first blank or tab outside double quotes, which
// are dropped; it knows no escapes (a backslash is part of the path). The other
// arguments are separated by blanks and tabs; a double quote opens or closes a
// quoted part, in which blanks and tabs belong to the argument; 2n backslashes
// before a double quote stand for n backslashes and the quote opens or closes,
// 2n+1 stand for n backslashes and a literal quote; backslashes before any
// other character are kept as they are; "" inside a quoted part is a literal
// quote and the part goes on.
std::vector<std::string> plat_split_command_line(const char *command_line);
