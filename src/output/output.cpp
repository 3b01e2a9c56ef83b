// Console, standard-error and log output. The log is opened on demand in append
// mode and closed by log_close (or by the writers before they start the tool).
//
// In a silent upgrade run, what Output prints before the log path is set
// goes to standard error: nothing else tells why such a run ended.
//
// A failed open is reported once through debug_print; the log is then left out
// for the rest of the run (RUN_LOG_OPEN stays set with no stream held), while
// the console still shows every message.
#include "output/output.h"

#include <cerrno>
#include <cstdarg>

#include "base/runflags.h"

char LogPath[PLAT_PATH_MAX] = "";
FILE *LogFile = nullptr;
bool LogOpenFailed = false;
bool SilentEarlyToStderr = false;

namespace {

// Step 1 of Output and log_write: open the log on demand.
void OpenLogOnDemand(const char *caller) {
    if ((RunFlags & RUN_LOG_OPEN) != 0 || (RunFlags & RUN_LOG_READY) == 0 || LogOpenFailed) {
        return;
    }
    RunFlags |= RUN_LOG_OPEN;
    // Never through a link, and only a file of a trusted owner; anything else
    // counts as a log that could not be opened.
    LogFile = plat_fopen_log(LogPath);
    if (LogFile == nullptr) {
        LogOpenFailed = true;
        debug_print("%s() open() %s failed %lu\r\n", caller, LogPath,
                    static_cast<unsigned long>(errno));
    }
}

// Writes one message to the log. A message that ends a line is flushed with
// it, so that a run stopped at any moment (a kill at a question) leaves every
// complete line in the file and never half a line. A question, which has no
// line end, waits in the stream for the answer that completes its line.
void WriteLog(const char *format, va_list args) PLAT_PRINTF(1, 0);
void WriteLog(const char *format, va_list args) {
    char text[2048];
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(text, sizeof text, format, copy);
    va_end(copy);
    bool line_end = true;
    if (n >= 0 && static_cast<size_t>(n) < sizeof text) {
        fwrite(text, 1, static_cast<size_t>(n), LogFile);
        line_end = n > 0 && text[n - 1] == '\n';
    } else {
        vfprintf(LogFile, format, args);
    }
    if (line_end) {
        fflush(LogFile);
    }
}

} // namespace

void Output(uint16_t attribute, const char *format, ...) {
    va_list args;
    OpenLogOnDemand("Output");
    if ((RunFlags & RUN_LOG_READY) != 0 && LogFile != nullptr) {
        va_start(args, format);
        WriteLog(format, args);
        va_end(args);
    }
    if ((RunFlags & RUN_SILENT) != 0) {
        // A silent run that ends before its log was ever ready (no rights,
        // a refused folder, another run in progress) says why on standard
        // error; standard output stays silent.
        if (SilentEarlyToStderr && LogPath[0] == '\0') {
            va_start(args, format);
            vfprintf(stderr, format, args);
            va_end(args);
        }
        return;
    }
    if (attribute != 0) {
        fflush(stdout);
        plat_console_attribute(attribute);
    }
    va_start(args, format);
    vfprintf(stdout, format, args);
    va_end(args);
    if (attribute != 0) {
        fflush(stdout);
        plat_console_attribute(ATTR_NORMAL);
    }
}

void log_write(const char *format, ...) {
    OpenLogOnDemand("log_write");
    if ((RunFlags & RUN_LOG_READY) == 0 || LogFile == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    WriteLog(format, args);
    va_end(args);
}

void debug_print(const char *format, ...) {
    if ((RunFlags & RUN_SILENT) != 0 || (RunFlags & RUN_DEBUG) == 0) {
        return;
    }
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
}

void log_close() {
    log_write("\r\n");
    RunFlags &= ~RUN_LOG_OPEN;
    if (LogFile != nullptr) {
        fclose(LogFile);
        LogFile = nullptr;
    }
}
