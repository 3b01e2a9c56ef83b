// Test bench for the image selection: a fresh directory holding NIC_FW/, the
// three adapter tables, standard input fed from a file, console and log capture.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "test_files.h"

#include "adapter/firmware.h"
#include "adapter/inventory.h"
#include "output/output.h"
#include "run/runflags.h"
#include "select/plan.h"
#include "select/prompt.h"
#include "select/select.h"

namespace select_test {

// The adapter that the catalogues in the tests are written for.
constexpr uint16_t kVendor = 0x1234, kDevice = 0xABCD, kSubVendor = 0x5678, kSubsystem = 0x0001;
constexpr const char *kIdentity = "1234-ABCD-5678-0001";
constexpr const char *kDescription = "Test Gigabit Adapter";
constexpr const char *kMac = "00105A0B0C0D";
// What the heading above an adapter's first question reads.
inline std::string Heading() {
    return std::string("\r\nFound ") + kDescription + " MAC: " + kMac + " \r\n";
}

// The warnings above a question, byte for byte.
inline std::string SameWarning(const char *installed, const char *selected) {
    return std::string("** WARNING ** - Installed ") + installed +
           " is the same version as selected " + selected + ".\r\n";
}
inline std::string RecentWarning(const char *installed, const char *selected) {
    return std::string("** WARNING ** - Installed ") + installed +
           " is more recent than selected " + selected + ".\r\n";
}
// What an older UMP image gives, in the log only, never a question.
inline const std::string kUmpOlderLog =
    RecentWarning("UMP", "UMP") +
    "** WARNING ** - Installation of an older UMP version is not allowed.\r\n";

// One catalogue record for the test adapter.
inline std::string Rec(const std::string &file, const std::string &version) {
    return std::string(kIdentity) + " " + file + " " + version + "\n";
}

class SelectTest : public ::testing::Test {
  protected:
    void SetUp() override {
        old_cwd_ = std::filesystem::current_path().string();
        dir_ = FreshDirectory("lanrefit-select");
        for (const char *sub : {"Boot_Code", "PXE", "UMP", "CLP", "iSCSI"}) {
            std::filesystem::create_directories(dir_ + "/NIC_FW/" + sub);
        }
        std::filesystem::current_path(dir_);
        log_ = dir_ + "/lanrefit.log";
        snprintf(LogPath, sizeof LogPath, "%s", log_.c_str());
        ResetTables(RUN_LOG_READY);
        Feed(""); // no test may block on the terminal
    }

    void TearDown() override {
        if (LogFile != nullptr) {
            fclose(LogFile);
            LogFile = nullptr;
        }
        ResetTables(0);
        LogPath[0] = '\0';
        if (freopen(EmptyInputFile().c_str(), "r", stdin) == nullptr) {
            ADD_FAILURE() << "stdin not restored";
        }
        std::filesystem::current_path(old_cwd_);
        std::filesystem::remove_all(dir_);
    }

    // The process-wide state the routines under test read and write.
    static void ResetTables(uint32_t run_flags) {
        RunFlags = run_flags;
        LogOpenFailed = false;
        CurrentNic = 0;
        NicTable.clear();
        NicFwTable.clear();
        PlanTable.clear();
        NicCount = 0;
    }

    // Appends an adapter with the test identity and the given firmware flags.
    // The library block carries another identity and name on purpose: matching
    // uses the NicFwInfo identity, the messages use the library's name and MAC.
    size_t AddAdapter(uint32_t fw_flags) {
        NicEntry nic{};
        snprintf(nic.Info.Description, sizeof nic.Info.Description, "%s", kDescription);
        snprintf(nic.Info.MacText, sizeof nic.Info.MacText, "%s", kMac);
        nic.Info.VendorId = 0x1111;
        nic.Info.DeviceId = 0x2222;
        nic.Info.SubsystemVendorId = 0x3333;
        nic.Info.SubsystemId = 0x4444;
        NicFwInfo fw{};
        fw.Flags = fw_flags;
        snprintf(fw.Description, sizeof fw.Description, "%s", "wrong name");
        snprintf(fw.MacText, sizeof fw.MacText, "%s", "FFFFFFFFFFFF");
        fw.VendorId = kVendor;
        fw.DeviceId = kDevice;
        fw.SubsystemVendorId = kSubVendor;
        fw.SubsystemId = kSubsystem;
        NicTable.push_back(nic);
        NicFwTable.push_back(fw);
        PlanTable.push_back(UpgradePlan{});
        NicCount = static_cast<uint32_t>(NicTable.size());
        return NicTable.size() - 1;
    }

    // Writes a file under the test directory (a host path such as "NIC_FW/CLP/CLP.config").
    void WriteFile(const std::string &rel, const std::string &content) {
        std::ofstream out(dir_ + "/" + rel, std::ios::binary);
        out << content;
    }

    // Standard input reads content from here on.
    void Feed(const std::string &content) {
        const std::string path = dir_ + "/stdin.txt";
        WriteFile("stdin.txt", content);
        ASSERT_NE(freopen(path.c_str(), "r", stdin), nullptr);
    }

    // What standard input still holds.
    static std::string RestOfInput() {
        std::string rest;
        int c;
        while ((c = getchar()) != EOF) {
            rest.push_back(static_cast<char>(c));
        }
        return rest;
    }

    void Capture() {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
    }
    void Collect() {
        fflush(nullptr);
        out_ = testing::internal::GetCapturedStdout();
        err_ = testing::internal::GetCapturedStderr();
    }
    // The log so far, read in text mode as it was written: on Windows the C
    // library stores each line feed as CR LF, and text mode gives the text back.
    std::string Log() {
        if (LogFile != nullptr) {
            fflush(LogFile);
        }
        std::ifstream in(log_);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    std::string old_cwd_, dir_, log_, out_, err_;
};

} // namespace select_test
