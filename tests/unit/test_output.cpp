// Where the three print routines send their text, the lazy log open in append
// mode, the closing line end, and a log that cannot be opened.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "test_files.h"

#include "output/output.h"
#include "run/runflags.h"

namespace {

// In text mode, as the log is written (Windows stores a line feed as CR LF).
std::string ReadFile(const std::string &path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool Exists(const std::string &path) {
    return access(path.c_str(), F_OK) == 0;
}

class OutputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = FreshDirectory("lanrefit-output");
        log_ = dir_ + "/lanrefit.log";
        snprintf(LogPath, sizeof LogPath, "%s", log_.c_str());
        RunFlags = 0;
        LogOpenFailed = false;
    }
    void TearDown() override {
        if (LogFile != nullptr) {
            fclose(LogFile);
            LogFile = nullptr;
        }
        RunFlags = 0;
        LogOpenFailed = false;
        LogPath[0] = '\0';
        std::filesystem::remove_all(dir_);
    }
    void Capture() {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
    }
    void Collect() {
        fflush(nullptr);
        out_ = testing::internal::GetCapturedStdout();
        err_ = testing::internal::GetCapturedStderr();
        if (LogFile != nullptr) {
            fflush(LogFile);
        }
    }
    std::string dir_, log_, out_, err_;
};

// One message through each routine under each combination of the flags that steer it.
struct RouteCase {
    uint32_t flags;
    bool to_console; // Output
    bool to_log;     // Output and log_write
    bool to_stderr;  // debug_print
};

const RouteCase kRoutes[] = {
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
        RunFlags = c.flags;
        Capture();
        Output(0, "out %d\r\n", 1);
        Output(ATTR_ERROR, "red %s\r\n", "x");
        log_write("log %lu\r\n", static_cast<unsigned long>(2));
        debug_print("dbg %s\r\n", "3");
        Collect();
        EXPECT_EQ(out_, c.to_console ? "out 1\r\nred x\r\n" : "");
        EXPECT_EQ(err_, c.to_stderr ? "dbg 3\r\n" : "");
        EXPECT_EQ((RunFlags & RUN_LOG_OPEN) != 0, c.to_log);
        if (c.to_log) {
            EXPECT_EQ(ReadFile(log_), "out 1\r\nred x\r\nlog 2\r\n");
        } else {
            EXPECT_FALSE(Exists(log_)) << "no file is touched before the log is ready";
        }
        if (LogFile != nullptr) {
            fclose(LogFile);
            LogFile = nullptr;
        }
        std::remove(log_.c_str());
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
    EXPECT_EQ(ReadFile(log_), "earlier run\r\nfirst\r\n\r\nsecond\r\n\r\n\r\n");
}

TEST_F(OutputTest, LogCloseBeforeTheLogIsReadyWritesNothing) {
    log_close();
    EXPECT_FALSE(Exists(log_));
    EXPECT_EQ(RunFlags, 0u);
}

TEST_F(OutputTest, FailedOpenKeepsTheConsoleAndLeavesTheLogOut) {
    std::string missing = dir_ + "/log/lanrefit.log"; // its directory does not exist
    snprintf(LogPath, sizeof LogPath, "%s", missing.c_str());
    RunFlags = RUN_LOG_READY | RUN_DEBUG;
    Capture();
    Output(0, "title\r\n");
    Output(ATTR_ERROR, "error\r\n");
    log_write("log only\r\n");
    log_close();
    Output(0, "after close\r\n");
    Collect();
    EXPECT_EQ(out_, "title\r\nerror\r\nafter close\r\n");
    EXPECT_EQ(err_, "Output() open() " + missing + " failed 2\r\n") << "reported once, no retry";
    EXPECT_FALSE(Exists(missing));
}

TEST_F(OutputTest, FailedOpenByLogWriteNamesLogWrite) {
    std::string missing = dir_ + "/log/lanrefit.log";
    snprintf(LogPath, sizeof LogPath, "%s", missing.c_str());
    RunFlags = RUN_LOG_READY | RUN_DEBUG;
    Capture();
    log_write("x\r\n");
    Output(0, "shown\r\n");
    Collect();
    EXPECT_EQ(out_, "shown\r\n");
    EXPECT_EQ(err_, "log_write() open() " + missing + " failed 2\r\n");
    EXPECT_NE(RunFlags & RUN_LOG_OPEN, 0u);
    EXPECT_EQ(LogFile, nullptr);
}

TEST_F(OutputTest, FailedOpenIsSilentWithoutDebug) {
    std::string missing = dir_ + "/log/lanrefit.log";
    snprintf(LogPath, sizeof LogPath, "%s", missing.c_str());
    RunFlags = RUN_LOG_READY;
    Capture();
    Output(0, "shown\r\n");
    Collect();
    EXPECT_EQ(out_, "shown\r\n");
    EXPECT_EQ(err_, "");
}

TEST_F(OutputTest, UsageTextIsFiveLinesOnTheConsoleOnly) {
    RunFlags = 0;
    Capture();
    usage();
    Collect();
    EXPECT_EQ(out_, "USAGE: lanrefit [ -s [ -f ] ] [ -p ]\r\n"
                    "\t Interactively upgrade Boot Code and PXE, current firmware is saved. \r\n"
                    "\t -s  Silently upgrade Boot Code and PXE.\r\n"
                    "\t -f  Force downgrade if system has newer Boot Code or PXE.\r\n"
                    "\t -p  Restore firmware image from previous upgrade.\r\n");
    EXPECT_FALSE(Exists(log_));
}

} // namespace
