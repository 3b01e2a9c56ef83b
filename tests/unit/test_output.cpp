// Where the three print routines send their text, the lazy log open in append
// mode, the closing line end, and a log that cannot be opened.
#include "select_fixture.h"

namespace {

// The selection bench serves here for its work folder, log path and capture.
class OutputTest : public select_test::SelectTest {};

// One message through each routine under each combination of the flags that steer it.
// In an upgrade run (SilentEarlyToStderr), the phase before its log path is set.
enum RunPhase { NO_RUN, BEFORE_LOG_PATH, LOG_PATH_SET };

struct RouteCase {
    uint32_t flags;
    bool to_console;               // Output
    bool to_log;                   // Output and log_write
    bool to_stderr;                // debug_print
    RunPhase phase = NO_RUN;       // the log path is set unless BEFORE_LOG_PATH
    bool output_to_stderr = false; // Output, standard output silent
};

const RouteCase kRoutes[] = {
    // A silent run that ends before its log says why on standard error; once
    // the path is set, a console-only line (RUN_LOG_READY cleared) does not.
    {RUN_SILENT, false, false, false, BEFORE_LOG_PATH, true},
    {RUN_SILENT | RUN_DEBUG, false, false, false, BEFORE_LOG_PATH, true},
    {0, true, false, false, BEFORE_LOG_PATH, false},
    {RUN_SILENT, false, false, false, LOG_PATH_SET, false},
    {0, true, false, false},
    {RUN_SILENT, false, false, false},
    {RUN_DEBUG, true, false, true},
    {RUN_DEBUG | RUN_SILENT, false, false, false},
    {RUN_LOG_READY, true, true, false},
    {RUN_LOG_READY | RUN_SILENT, false, true, false},
    {RUN_LOG_READY | RUN_DEBUG, true, true, true},
    {RUN_LOG_READY | RUN_DEBUG | RUN_SILENT, false, true, false},
};

TEST_F(OutputTest, EachRoutineWritesWhereItsFlagsSay) {
    for (const RouteCase &c : kRoutes) {
        SCOPED_TRACE(testing::Message() << "flags 0x" << std::hex << c.flags);
        TearDown();
        SetUp();
        RunFlags = c.flags;
        SilentEarlyToStderr = c.phase != NO_RUN;
        if (c.phase == BEFORE_LOG_PATH) {
            LogPath[0] = '\0';
        }
        Capture();
        Output(0, "out %d\r\n", 1);
        Output(ATTR_ERROR, "red %s\r\n", "x");
        log_write("log %lu\r\n", static_cast<unsigned long>(2));
        debug_print("dbg %s\r\n", "3");
        Collect();
        SilentEarlyToStderr = false;
        EXPECT_EQ(out_, c.to_console ? "out 1\r\nred x\r\n" : "");
        EXPECT_EQ(err_, std::string(c.output_to_stderr ? "out 1\r\nred x\r\n" : "") +
                            (c.to_stderr ? "dbg 3\r\n" : ""));
        EXPECT_EQ((RunFlags & RUN_LOG_OPEN) != 0, c.to_log);
        if (c.to_log) {
            EXPECT_EQ(Log(), "out 1\r\nred x\r\nlog 2\r\n");
        } else {
            EXPECT_FALSE(std::filesystem::exists(log_))
                << "no file is touched before the log is ready";
        }
    }
}

TEST_F(OutputTest, LogIsOpenedOnDemandAndAppendedToAfterEachClose) {
    {
        std::ofstream earlier(log_);
        earlier << "earlier run\r\n";
    }
    RunFlags = RUN_LOG_READY;
    EXPECT_EQ(LogFile, nullptr);
    Capture();
    Output(0, "first\r\n");
    EXPECT_NE(RunFlags & RUN_LOG_OPEN, 0u);
    log_close();
    EXPECT_EQ(RunFlags & RUN_LOG_OPEN, 0u);
    EXPECT_EQ(LogFile, nullptr);
    log_write("second\r\n");
    log_close();
    log_close(); // a closing with the file closed opens it for its own line end
    Collect();
    EXPECT_EQ(out_, "first\r\n");
    EXPECT_EQ(Log(), "earlier run\r\nfirst\r\n\r\nsecond\r\n\r\n\r\n");
}

// A sequence of calls with the log unwritable or not yet ready: what the
// console and standard error receive, the flags afterwards, and no log file.
enum Call { CALL_OUTPUT, CALL_OUTPUT_ERROR, CALL_LOG_WRITE, CALL_LOG_CLOSE, CALL_USAGE };

struct Step {
    Call call;
    const char *text;
};

struct NoLogCase {
    const char *name;
    bool missing_dir; // the log's directory does not exist
    uint32_t flags;
    std::vector<Step> steps;
    const char *out;
    const char *failed_open; // the routine named by the one open failure, null for none
    uint32_t flags_after;
};

NoLogCase NoLog(const char *name, bool missing_dir, uint32_t flags, std::vector<Step> steps,
                const char *out, const char *failed_open, uint32_t flags_after) {
    return {name, missing_dir, flags, steps, out, failed_open, flags_after};
}

const NoLogCase kNoLogCases[] = {
    NoLog("LogCloseBeforeTheLogIsReadyWritesNothing", false, 0, {{CALL_LOG_CLOSE, ""}}, "", nullptr,
          0),
    // The open failure is reported once: no retry after the close.
    NoLog("FailedOpenKeepsTheConsoleAndLeavesTheLogOut", true, RUN_LOG_READY | RUN_DEBUG,
          {{CALL_OUTPUT, "title\r\n"},
           {CALL_OUTPUT_ERROR, "error\r\n"},
           {CALL_LOG_WRITE, "log only\r\n"},
           {CALL_LOG_CLOSE, ""},
           {CALL_OUTPUT, "after close\r\n"}},
          "title\r\nerror\r\nafter close\r\n", "Output", RUN_LOG_READY | RUN_DEBUG),
    NoLog("FailedOpenByLogWriteNamesLogWrite", true, RUN_LOG_READY | RUN_DEBUG,
          {{CALL_LOG_WRITE, "x\r\n"}, {CALL_OUTPUT, "shown\r\n"}}, "shown\r\n", "log_write",
          RUN_LOG_READY | RUN_DEBUG | RUN_LOG_OPEN),
    NoLog("FailedOpenIsSilentWithoutDebug", true, RUN_LOG_READY, {{CALL_OUTPUT, "shown\r\n"}},
          "shown\r\n", nullptr, RUN_LOG_READY | RUN_LOG_OPEN),
    NoLog("UsageTextIsFiveLinesOnTheConsoleOnly", false, 0, {{CALL_USAGE, ""}},
          "USAGE: lanrefit [ -s [ -f ] ] [ -p ]\r\n"
          "\t Interactively upgrade Boot Code and PXE, current firmware is saved. \r\n"
          "\t -s  Silently upgrade Boot Code and PXE.\r\n"
          "\t -f  Force downgrade if system has newer Boot Code or PXE.\r\n"
          "\t -p  Restore firmware image from previous upgrade.\r\n",
          nullptr, 0),
};

TEST_F(OutputTest, NoLogIsWritten) {
    for (const NoLogCase &c : kNoLogCases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        const std::string path = c.missing_dir ? dir_ + "/log/lanrefit.log" : log_;
        snprintf(LogPath, sizeof LogPath, "%s", path.c_str());
        RunFlags = c.flags;
        Capture();
        for (const Step &step : c.steps) {
            switch (step.call) {
            case CALL_OUTPUT:
                Output(0, "%s", step.text);
                break;
            case CALL_OUTPUT_ERROR:
                Output(ATTR_ERROR, "%s", step.text);
                break;
            case CALL_LOG_WRITE:
                log_write("%s", step.text);
                break;
            case CALL_LOG_CLOSE:
                log_close();
                break;
            case CALL_USAGE:
                usage();
                break;
            }
        }
        Collect();
        EXPECT_EQ(out_, c.out);
        const std::string failed =
            c.failed_open == nullptr
                ? ""
                : std::string(c.failed_open) + "() open() " + path + " failed 2\r\n";
        EXPECT_EQ(err_, failed);
        EXPECT_EQ(RunFlags, c.flags_after);
        EXPECT_EQ(LogFile, nullptr);
        EXPECT_FALSE(std::filesystem::exists(path));
    }
}

} // namespace
