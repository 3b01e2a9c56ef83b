// report_installed (-c) against the fake library: the report line byte for
// byte, the library version bound, and the exit codes of its failures.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

#include "adapter/binding.h"
#include "adapter/inventory.h"
#include "fake_ombri.h"
#include "run/reports.h"
#include "run/runflags.h"

namespace {

using fake::Lib;

constexpr uint32_t IMG_A = 0x400;
constexpr uint32_t IMG_B = 0x800;

class ReportInstalledTest : public fake::AdapterTest {
  protected:
    fake::Adapter &Add(const char *description = "Port 0") {
        Lib.Adapters.push_back(
            fake::SupportedAdapter(100 + static_cast<uint32_t>(Lib.Adapters.size()),
                                   200 + static_cast<uint32_t>(Lib.Adapters.size()), description,
                                   "0A1B2C3D4E5F", 0x1234, 0xABCD, 0x5678, 0x0001));
        return Lib.Adapters.back();
    }
    int Report() { return RunCaptured(report_installed); }
};

TEST_F(ReportInstalledTest, LineForBootCodeAndPxe) {
    fake::Adapter &a = Add("Dual Port Server Adapter");
    fake::SetTexts(a, "5.0.3", "8.3.2", "");
    fake::PutDirEntry(a.Nvram, 0, 1, IMG_A);
    fake::PutPxeImage(a.Nvram, IMG_A);
    EXPECT_EQ(Report(), 1);
    EXPECT_EQ(out, "0 0A1B2C3D4E5F 1234-ABCD-5678-0001 5 0 3 8 3 2 - - - - - - - - - - - -  "
                   "Dual Port Server Adapter \n");
    EXPECT_EQ(err, "");
    EXPECT_EQ(Lib.Uninitialized, 1);
    EXPECT_EQ(fake::CallCount("OmbriInitializeEx 0"), 1);
    EXPECT_TRUE(Lib.Misuse.empty());
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
    {"iscsi stub", "5.0.3", "1.0.0", fake::PutIscsiImage, "",
     "5 0 3 - - - - - - - - - 1 0 0 1 0 0 "},
    {"iscsi not the stub", "5.0.3", "1.0.1", fake::PutIscsiImage, "",
     "5 0 3 - - - - - - - - - 1 0 1 - - - "},
    {"clp and ump", "5.0.3", "2.4.1", fake::PutClpImage, "300.1.2",
     "5 0 3 - - - 44 1 2 2 4 1 - - - - - - "},
    {"major 0 shows nothing", "0.1.2", "0.9.9", fake::PutPxeImage, "0.5.0",
     "0 1 2 - - - - - - - - - - - - - - - "},
    {"pre-boot of no kind found", "5.0.3", "8.3.2", nullptr, "",
     "5 0 3 - - - - - - - - - - - - - - - "},
};

TEST_F(ReportInstalledTest, VersionColumns) {
    for (const ColumnCase &c : kColumns) {
        fake::Reset();
        fake::Adapter &a = Add("D");
        fake::SetTexts(a, c.boot_code, c.pre_boot, c.ump);
        if (c.image != nullptr) {
            fake::PutDirEntry(a.Nvram, 2, 1, IMG_B);
            c.image(a.Nvram, IMG_B);
        }
        EXPECT_EQ(Report(), 1) << c.what;
        EXPECT_EQ(out, std::string("0 0A1B2C3D4E5F 1234-ABCD-5678-0001 ") + c.columns + " D \n")
            << c.what;
    }
}

TEST_F(ReportInstalledTest, OneLinePerAdapterInTableOrder) {
    Add("First");
    Lib.Adapters.push_back(fake::SupportedAdapter(101, 201, "Skipped", "000000000001", 1, 2, 3, 4));
    Lib.Adapters.back().Info.AdapterType = 2;
    fake::Adapter &b = Add("Second");
    snprintf(b.Info.MacText, sizeof b.Info.MacText, "00A0C9FFEE01");
    b.Info.VendorId = 0x00E4;
    b.Info.DeviceId = 0x1A;
    b.Info.SubsystemVendorId = 0xFFFF;
    b.Info.SubsystemId = 0;
    fake::SetTexts(b, "12.34.56", "", "");
    EXPECT_EQ(Report(), 1);
    EXPECT_EQ(out, "0 0A1B2C3D4E5F 1234-ABCD-5678-0001 0 0 0 - - - - - - - - - - - - - - -  "
                   "First \n"
                   "1 00A0C9FFEE01 00E4-001A-FFFF-0000 12 34 56 - - - - - - - - - - - - - - -  "
                   "Second \n");
}

TEST_F(ReportInstalledTest, ShortMacTextIsPaddedToTwelve) {
    fake::Adapter &a = Add("D");
    snprintf(a.Info.MacText, sizeof a.Info.MacText, "ABC");
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
        fake::Reset();
        Add();
        Lib.Version[0] = c.major;
        Lib.Version[1] = c.minor;
        Lib.Version[2] = c.build;
        int result = Report();
        std::string what =
            std::to_string(c.major) + "." + std::to_string(c.minor) + "." + std::to_string(c.build);
        if (c.accepted) {
            EXPECT_EQ(result, 1) << what;
            EXPECT_EQ(fake::CallCount("OmbriInitializeEx"), 1) << what;
        } else {
            EXPECT_EQ(result, 3) << what;
            EXPECT_EQ(out, "Unsupported OMBRI version " + what +
                               ".\r\nExpect OMBRI version 7.6.1 or later.\r\n");
            EXPECT_EQ(fake::CallCount("OmbriInitializeEx"), 0) << what;
        }
    }
}

TEST_F(ReportInstalledTest, NoSupportedAdapterPrintsNothing) {
    Add().Info.AdapterType = 1;
    EXPECT_EQ(Report(), 3);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "");
    EXPECT_EQ(Lib.Uninitialized, 1);
    EXPECT_EQ(fake::CallCount("OmbriInitDiag"), 0);
}

TEST_F(ReportInstalledTest, NoAdapterAtAll) {
    EXPECT_EQ(Report(), 3);
    EXPECT_EQ(out, "");
    EXPECT_EQ(Lib.Uninitialized, 1);
}

TEST_F(ReportInstalledTest, InitialisationFailure) {
    Add();
    Lib.InitializeStatus = 0x1234;
    EXPECT_EQ(Report(), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "OmbriInitializeEx() failed 4660\r\n");
    EXPECT_EQ(Lib.Uninitialized, 0);
    EXPECT_EQ(fake::CallCount("OmbriGetNumPhyNicEx"), 0);
}

TEST_F(ReportInstalledTest, ListingFailureClosesTheLibrary) {
    Add();
    Lib.CountStatus = 2;
    EXPECT_EQ(Report(), 3);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "OmbriGetNumPhyNicEx() failed 2\r\n");
    EXPECT_EQ(Lib.Uninitialized, 1);
}

TEST_F(ReportInstalledTest, OutOfMemoryEndsWithZero) {
    if (const char *why = fake::HugeAllocationSkipReason()) {
        GTEST_SKIP() << why;
    }
    Add();
    Lib.CountOverride = true;
    Lib.Count = 0xFFFFFFFFu;
    EXPECT_EQ(Report(), 0);
    EXPECT_EQ(out, "Not enough memory for the adapter tables.\r\n");
    EXPECT_EQ(Lib.Uninitialized, 1);
}

TEST_F(ReportInstalledTest, AssignedOperationsCountAsBound) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(OmbriBind(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(Lib.Calls.empty());
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
    fake::Uninstall();
    testing::internal::CaptureStdout();
    EXPECT_EQ(report_installed(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Cannot load the adapter library OMBRIa.DLL.\r\n");
    EXPECT_TRUE(Lib.Calls.empty());
    EXPECT_EQ(OmbriGetVersion, nullptr);
}

} // namespace
