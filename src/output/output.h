// The three print routines every message passes through, and the log file.
//   Output      console (unless RUN_SILENT; see SilentEarlyToStderr) and log
//               (while RUN_LOG_READY)
//   log_write   log only (while RUN_LOG_READY)
//   debug_print standard error only, with RUN_DEBUG and without RUN_SILENT
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/platform.h"

extern char LogPath[PLAT_PATH_MAX]; // empty until the upgrade run sets it
extern FILE *LogFile;               // open while RUN_LOG_OPEN
extern bool LogOpenFailed;          // an open failed: the log is left out for the rest of the run
// Set when the upgrade run begins: from then on, until the log path is set, a
// silent run's Output goes to standard error instead of nowhere, so that a
// run that ends before its log (no rights, a refused folder, another run in
// progress) still says why. Standard output stays silent.
extern bool SilentEarlyToStderr;

// Console attributes: 12 for error messages; 7 is what a coloured message leaves behind.
constexpr uint16_t ATTR_ERROR = 12;
constexpr uint16_t ATTR_NORMAL = 7;

void Output(uint16_t attribute, const char *format, ...) PLAT_PRINTF(2, 3);
void log_write(const char *format, ...) PLAT_PRINTF(1, 2);
void debug_print(const char *format, ...) PLAT_PRINTF(1, 2);
void log_close();

// Judges PATH by the rule of plat_check_trusted. When it is refused, prints
// "Cannot trust %s: %s\r\n" in red with SHOWN (the path as the program names
// it) and the reason, and returns false.
bool TrustPath(const char *path, const char *shown);
