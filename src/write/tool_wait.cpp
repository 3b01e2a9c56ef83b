// Running the writer tool and waiting for it. While it writes, an
// interruption does not end the program: it is announced once and the write
// is waited for, so that it is checked and reported like any other; the
// write pass then starts no further write. An interactive run on a console
// shows meanwhile one line with the component, the MAC and the time elapsed.
#include <cstdio>
#include <cstring>

#include "base/runflags.h"
#include "output/output.h"
#include "write/write.h"

namespace {

constexpr const char *INTERRUPTED_NOTICE =
    "\r\nInterrupted: the write in progress will finish, then the run stops.\r\n";

bool InterruptionAnnounced = false;

// Console only, at once: never the log, never a redirected output's buffer.
void ConsoleNow(const char *text) {
    const uint32_t ready = RunFlags & RUN_LOG_READY;
    RunFlags &= ~RUN_LOG_READY;
    Output(0, "%s", text);
    RunFlags |= ready;
    fflush(stdout);
}

// The progress line, redrawn in place; width is the longest drawn so far.
struct ProgressLine {
    bool shown;
    size_t width;
};

void DrawProgress(ProgressLine &progress, const char *component, const char *mac,
                  unsigned long long elapsed_ms) {
    const unsigned long seconds = static_cast<unsigned long>(elapsed_ms / 1000);
    char line[128];
    int n = snprintf(line, sizeof line, "\r%s MAC: %.12s  %lu:%02lu elapsed", component, mac,
                     seconds / 60, seconds % 60);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof line) {
        return;
    }
    ConsoleNow(line);
    progress.shown = true;
    progress.width =
        static_cast<size_t>(n) - 1 > progress.width ? static_cast<size_t>(n) - 1 : progress.width;
}

void EraseProgress(ProgressLine &progress) {
    if (!progress.shown) {
        return;
    }
    char blanks[130];
    size_t width = progress.width < sizeof blanks - 3 ? progress.width : sizeof blanks - 3;
    blanks[0] = '\r';
    memset(blanks + 1, ' ', width);
    blanks[width + 1] = '\r';
    blanks[width + 2] = '\0';
    ConsoleNow(blanks);
    progress.shown = false;
}

} // namespace

int RunTool(const char *command_line, const char *component, const char *mac) {
    const bool show_progress = (RunFlags & RUN_SILENT) == 0 && plat_stdout_is_console() != 0;
    unsigned long error = 0;
    PlatProcess *child = plat_start_process(command_line, &error);
    if (child == nullptr) {
        return 0;
    }
    const unsigned long long start = plat_milliseconds();
    ProgressLine progress = {false, 0};
    unsigned long long drawn = ~0ULL; // the second last drawn
    for (;;) {
        const unsigned long long elapsed = plat_milliseconds() - start;
        if (show_progress && elapsed / 1000 != drawn) {
            drawn = elapsed / 1000;
            DrawProgress(progress, component, mac, elapsed);
        }
        const bool ended = plat_wait_process(child, show_progress ? 1000 - elapsed % 1000
                                                                  : PLAT_WAIT_FOREVER) != 0;
        if (plat_interruptions() != 0 && !InterruptionAnnounced) {
            InterruptionAnnounced = true;
            EraseProgress(progress);
            ConsoleNow(INTERRUPTED_NOTICE);
            drawn = ~0ULL;
        }
        if (ended) {
            break;
        }
    }
    EraseProgress(progress);
    return 1;
}
