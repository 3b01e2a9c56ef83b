// report_installed (-c) against the simulated library: the report line byte for
// byte, the library version bound, and the exit codes of its failures.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

#include "adapter/binding.h"
#include "adapter/inventory.h"
#include "run/reports.h"
#include "run/runflags.h"
#include "test_sim_fixture.h"

namespace {

constexpr uint32_t IMG_A = 0x400;
constexpr uint32_t IMG_B = 0x800;

class ReportInstalledTest : public SimFixture {
  protected:
    void SetUp() override {
        SimFixture::SetUp();
        UseSimulatedLibrary();
    }
    // Adapter i: listed as handle 100 + i, port handle 200 + i.
    Port &Add(const char *description = "Port 0") {
        uint32_t i = static_cast<uint32_t>(ports_.size());
        return AddPort(100 + i, 200 + i, description, "0A1B2C3D4E5F");
    }
    int Report() {
        Serve();
        return RunCaptured(report_installed);
    }
};

TEST_F(ReportInstalledTest, LineForBootCodeAndPxe) {
    Port &a = Add("Dual Port Server Adapter");
    SetTexts(a, "5.0.3", "8.3.2", "");
    PutDirEntry(a.nvram, 0, 1, IMG_A);
    PutPxeImage(a.nvram, IMG_A);
    EXPECT_EQ(Report(), 1);
    EXPECT_EQ(out, "0 0A1B2C3D4E5F 1234-ABCD-5678-0001 5 0 3 8 3 2 - - - - - - - - - - - -  "
                   "Dual Port Server Adapter \n");
    EXPECT_EQ(err, "");
    EXPECT_EQ(CallCount("OmbriUninitialize"), 1);
    EXPECT_EQ(CallCount("OmbriInitializeEx flags=0"), 1);
    EXPECT_TRUE(Misuse().empty());
}

// The version columns: PXE, UMP, CLP, iSCSI and the iSCSI stub.
struct ColumnCase {
    const char *what;
    const char *boot_code;
    const char *pre_boot;
    void (*image)(std::vector<uint8_t> &, uint32_t);
    const char *ump;
    const char *columns; // everything after the identity group
};

const ColumnCase kColumns[] = {
    {"nothing", "", "", nullptr, "", "0 0 0 - - - - - - - - - - - - - - - "},
    {"iscsi stub", "5.0.3", "1.0.0", PutIscsiImage, "", "5 0 3 - - - - - - - - - 1 0 0 1 0 0 "},
    {"iscsi not the stub", "5.0.3", "1.0.1", PutIscsiImage, "",
     "5 0 3 - - - - - - - - - 1 0 1 - - - "},
    {"clp and ump", "5.0.3", "2.4.1", PutClpImage, "300.1.2",
     "5 0 3 - - - 44 1 2 2 4 1 - - - - - - "},
    {"major 0 shows nothing", "0.1.2", "0.9.9", PutPxeImage, "0.5.0",
     "0 1 2 - - - - - - - - - - - - - - - "},
    {"pre-boot of no kind found", "5.0.3", "8.3.2", nullptr, "",
     "5 0 3 - - - - - - - - - - - - - - - "},
};

TEST_F(ReportInstalledTest, VersionColumns) {
    for (const ColumnCase &c : kColumns) {
        ports_.clear();
        Port &a = Add("D");
        SetTexts(a, c.boot_code, c.pre_boot, c.ump);
        if (c.image != nullptr) {
            PutDirEntry(a.nvram, 2, 1, IMG_B);
            c.image(a.nvram, IMG_B);
        }
        EXPECT_EQ(Report(), 1) << c.what;
        EXPECT_EQ(out, std::string("0 0A1B2C3D4E5F 1234-ABCD-5678-0001 ") + c.columns + " D \n")
            << c.what;
    }
}

TEST_F(ReportInstalledTest, OneLinePerAdapterInTableOrder) {
    Add("First");
    AddPort(101, 201, "Skipped", "000000000001", "0001-0002-0003-0004").keys += " type=2";
    SetTexts(AddPort(102, 202, "Second", "00A0C9FFEE01", "00E4-001A-FFFF-0000"), "12.34.56", "",
             "");
    EXPECT_EQ(Report(), 1);
    EXPECT_EQ(out, "0 0A1B2C3D4E5F 1234-ABCD-5678-0001 0 0 0 - - - - - - - - - - - - - - -  "
                   "First \n"
                   "1 00A0C9FFEE01 00E4-001A-FFFF-0000 12 34 56 - - - - - - - - - - - - - - -  "
                   "Second \n");
}

TEST_F(ReportInstalledTest, ShortMacTextIsPaddedToTwelve) {
    Add("D").keys = "handle=100 port=200 desc=D mactext=ABC pci=1234-ABCD-5678-0001";
    EXPECT_EQ(Report(), 1);
    EXPECT_EQ(out.substr(0, 16), "0 ABC          1");
}

struct VersionBound {
    uint32_t major;
    uint32_t minor;
    uint32_t build;
    bool accepted;
};

TEST_F(ReportInstalledTest, LibraryVersionBound) {
    const VersionBound cases[] = {
        {7, 6, 0, false},   {7, 6, 1, true}, {7, 6, 2, true}, {7, 5, 99, false},
        {6, 99, 99, false}, {7, 7, 0, true}, {8, 0, 0, true}, {0, 0, 0, false},
    };
    for (const VersionBound &c : cases) {
        ports_.clear();
        Add();
        std::string what =
            std::to_string(c.major) + "." + std::to_string(c.minor) + "." + std::to_string(c.build);
        lines_ = "version " + what + "\n";
        int result = Report();
        if (c.accepted) {
            EXPECT_EQ(result, 1) << what;
            EXPECT_EQ(CallCount("OmbriInitializeEx"), 1) << what;
        } else {
            EXPECT_EQ(result, 3) << what;
            EXPECT_EQ(out, "Unsupported OMBRI version " + what +
                               ".\r\nExpect OMBRI version 7.6.1 or later.\r\n");
            EXPECT_EQ(CallCount("OmbriInitializeEx"), 0) << what;
        }
    }
}

TEST_F(ReportInstalledTest, NoSupportedAdapterPrintsNothing) {
    Add().keys += " type=1";
    EXPECT_EQ(Report(), 3);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "");
    EXPECT_EQ(CallCount("OmbriUninitialize"), 1);
    EXPECT_EQ(CallCount("OmbriInitDiag"), 0);
}

TEST_F(ReportInstalledTest, NoAdapterAtAll) {
    EXPECT_EQ(Report(), 3);
    EXPECT_EQ(out, "");
    EXPECT_EQ(CallCount("OmbriUninitialize"), 1);
}

TEST_F(ReportInstalledTest, InitialisationFailure) {
    Add();
    lines_ = "fault OmbriInitializeEx status=0x1234\n";
    EXPECT_EQ(Report(), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "OmbriInitializeEx() failed 4660\r\n");
    EXPECT_EQ(CallCount("OmbriUninitialize"), 0);
    EXPECT_EQ(CallCount("OmbriGetNumPhyNicEx"), 0);
}

TEST_F(ReportInstalledTest, ListingFailureClosesTheLibrary) {
    Add();
    lines_ = "fault OmbriGetNumPhyNicEx status=2\n";
    EXPECT_EQ(Report(), 3);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "OmbriGetNumPhyNicEx() failed 2\r\n");
    EXPECT_EQ(CallCount("OmbriUninitialize"), 1);
}

TEST_F(ReportInstalledTest, OutOfMemoryEndsWithZero) {
    if (const char *why = HugeAllocationSkipReason()) {
        GTEST_SKIP() << why;
    }
    Add();
    lines_ = "count 0xFFFFFFFF\n";
    EXPECT_EQ(Report(), 0);
    EXPECT_EQ(out, "Not enough memory for the adapter tables.\r\n");
    EXPECT_EQ(CallCount("OmbriUninitialize"), 1);
}

TEST_F(ReportInstalledTest, AssignedOperationsCountAsBound) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(OmbriBind(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(Calls().empty());
    // Unbinding leaves operations it did not bind alone.
    OmbriUnbind();
    EXPECT_NE(OmbriGetVersion, nullptr);
}

TEST_F(ReportInstalledTest, LibraryThatCannotBeLoaded) {
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    exe[n] = '\0';
    std::string beside(exe);
    beside.erase(beside.rfind('/'));
    if (access((beside + "/libOMBRIa.so").c_str(), F_OK) == 0) {
        GTEST_SKIP() << "an adapter library lies beside the test program";
    }
    AimOperations(false);
    testing::internal::CaptureStdout();
    EXPECT_EQ(report_installed(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Cannot load the adapter library OMBRIa.DLL.\r\n");
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(OmbriGetVersion, nullptr);
}

} // namespace
