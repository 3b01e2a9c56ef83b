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

// One adapter of the server, listed in the order given: handle 100 + i, port handle 200 + i.
struct ReportPort {
    const char *desc;
    const char *texts[3];
    std::vector<DirEntry> entries;
    const char *keys = ""; // further machine-file keys
    const char *mac = "0A1B2C3D4E5F";
    const char *pci = "1234-ABCD-5678-0001";
};

struct ReportCase {
    const char *name;
    std::vector<ReportPort> ports;
    int result;
    std::string out;
    int initialize;    // calls of OmbriInitializeEx with its flags 0
    int listing;       // calls of OmbriGetNumPhyNicEx
    int diag;          // calls of OmbriInitDiag
    int closing;       // calls of OmbriUninitialize
    const char *lines; // further machine-file lines: version, count, fault
    const char *debug;
    bool huge; // the tables' allocation fails
};

ReportCase Report(const char *name, std::vector<ReportPort> ports, int result, std::string out,
                  int initialize, int listing, int diag, int closing, const char *lines = "",
                  const char *debug = "", bool huge = false) {
    return ReportCase{name, ports,   result, out,   initialize, listing,
                      diag, closing, lines,  debug, huge};
}

// The report line of port 0: the identity group, the version columns, the description.
std::string Line(const char *columns, const char *desc) {
    return std::string("0 0A1B2C3D4E5F 1234-ABCD-5678-0001 ") + columns + " " + desc + " \n";
}

// The version columns of a port without versions.
constexpr const char *kNoVersions = "0 0 0 - - - - - - - - - - - - - - - ";
// A port without versions.
const ReportPort kPort = {"Port 0", {"", "", ""}, {}};

// What a library of this version is told.
std::string Refused(const char *version) {
    return std::string("Unsupported OMBRI version ") + version +
           ".\r\nExpect OMBRI version 7.6.1 or later.\r\n";
}

// The version columns: PXE, UMP, CLP, iSCSI and the iSCSI stub: the "VersionColumns" rows.
const ReportCase kReports[] = {
    Report("LineForBootCodeAndPxe",
           {{"Dual Port Server Adapter", {"5.0.3", "8.3.2", ""}, {{0, 1, IMG_A, kPxeImage}}}}, 1,
           Line("5 0 3 8 3 2 - - - - - - - - - - - - ", "Dual Port Server Adapter"), 1, 1, 1, 1),
    Report("VersionColumns_nothing", {{"D", {"", "", ""}, {}}}, 1, Line(kNoVersions, "D"), 1, 1, 1,
           1),
    Report("VersionColumns_iscsiStub",
           {{"D", {"5.0.3", "1.0.0", ""}, {{2, 1, IMG_B, kIscsiImage}}}}, 1,
           Line("5 0 3 - - - - - - - - - 1 0 0 1 0 0 ", "D"), 1, 1, 1, 1),
    Report("VersionColumns_iscsiNotTheStub",
           {{"D", {"5.0.3", "1.0.1", ""}, {{2, 1, IMG_B, kIscsiImage}}}}, 1,
           Line("5 0 3 - - - - - - - - - 1 0 1 - - - ", "D"), 1, 1, 1, 1),
    Report("VersionColumns_clpAndUmp",
           {{"D", {"5.0.3", "2.4.1", "300.1.2"}, {{2, 1, IMG_B, kClpImage}}}}, 1,
           Line("5 0 3 - - - 44 1 2 2 4 1 - - - - - - ", "D"), 1, 1, 1, 1),
    Report("VersionColumns_major0ShowsNothing",
           {{"D", {"0.1.2", "0.9.9", "0.5.0"}, {{2, 1, IMG_B, kPxeImage}}}}, 1,
           Line("0 1 2 - - - - - - - - - - - - - - - ", "D"), 1, 1, 1, 1),
    Report("VersionColumns_preBootOfNoKindFound", {{"D", {"5.0.3", "8.3.2", ""}, {}}}, 1,
           Line("5 0 3 - - - - - - - - - - - - - - - ", "D"), 1, 1, 1, 1),
    Report(
        "OneLinePerAdapterInTableOrder",
        {{"First", {"", "", ""}, {}},
         {"Skipped", {"", "", ""}, {}, " type=2", "000000000001", "0001-0002-0003-0004"},
         {"Second", {"12.34.56", "", ""}, {}, "", "00A0C9FFEE01", "00E4-001A-FFFF-0000"}},
        1,
        Line(kNoVersions, "First") +
            "1 00A0C9FFEE01 00E4-001A-FFFF-0000 12 34 56 - - - - - - - - - - - - - - -  Second \n",
        1, 1, 2, 1),
    Report("ShortMacTextIsPaddedToTwelve", {{"D", {"", "", ""}, {}, " mactext=ABC"}}, 1,
           "0 ABC          1234-ABCD-5678-0001 0 0 0 - - - - - - - - - - - - - - -  D \n", 1, 1, 1,
           1),
    Report("NoSupportedAdapterPrintsNothing", {{"Port 0", {"", "", ""}, {}, " type=1"}}, 3, "", 1,
           1, 0, 1),
    Report("NoAdapterAtAll", {}, 3, "", 1, 1, 0, 1),
    Report("InitialisationFailure", {kPort}, 0, "", 1, 0, 0, 0,
           "fault OmbriInitializeEx status=0x1234\n", "OmbriInitializeEx() failed 4660\r\n"),
    Report("ListingFailureClosesTheLibrary", {kPort}, 3, "", 1, 1, 0, 1,
           "fault OmbriGetNumPhyNicEx status=2\n", "OmbriGetNumPhyNicEx() failed 2\r\n"),
    // The library's version: 7.6.1 or later, the "LibraryVersionBound" rows.
    Report("LibraryVersionBound_7_6_0", {kPort}, 3, Refused("7.6.0"), 0, 0, 0, 0,
           "version 7.6.0\n"),
    Report("LibraryVersionBound_7_6_1", {kPort}, 1, Line(kNoVersions, "Port 0"), 1, 1, 1, 1,
           "version 7.6.1\n"),
    Report("LibraryVersionBound_7_6_2", {kPort}, 1, Line(kNoVersions, "Port 0"), 1, 1, 1, 1,
           "version 7.6.2\n"),
    Report("LibraryVersionBound_7_5_99", {kPort}, 3, Refused("7.5.99"), 0, 0, 0, 0,
           "version 7.5.99\n"),
    Report("LibraryVersionBound_6_99_99", {kPort}, 3, Refused("6.99.99"), 0, 0, 0, 0,
           "version 6.99.99\n"),
    Report("LibraryVersionBound_7_7_0", {kPort}, 1, Line(kNoVersions, "Port 0"), 1, 1, 1, 1,
           "version 7.7.0\n"),
    Report("LibraryVersionBound_8_0_0", {kPort}, 1, Line(kNoVersions, "Port 0"), 1, 1, 1, 1,
           "version 8.0.0\n"),
    Report("LibraryVersionBound_0_0_0", {kPort}, 3, Refused("0.0.0"), 0, 0, 0, 0,
           "version 0.0.0\n"),
    Report("OutOfMemoryEndsWithZero", {kPort}, 0, "Not enough memory for the adapter tables.\r\n",
           1, 1, 0, 1, "count 0xFFFFFFFF\n", "", true),
};

class ReportInstalledTest : public SimFixture {
  protected:
    void SetUp() override {
        SimFixture::SetUp();
        UseSimulatedLibrary();
    }
    int Report() {
        Serve();
        return RunCaptured(report_installed);
    }
};

void PrintTo(const ReportCase &row, std::ostream *os) {
    *os << row.name;
}

class ReportTest : public ReportInstalledTest, public ::testing::WithParamInterface<ReportCase> {};

TEST_P(ReportTest, PrintsTheLinesAndCloses) {
    const ReportCase &r = GetParam();
    if (const char *why = r.huge ? HugeAllocationSkipReason() : nullptr) {
        GTEST_SKIP() << why;
    }
    for (const ReportPort &p : r.ports) {
        Port &port = AddPort(p.desc, p.mac, p.pci);
        port.keys += p.keys;
        SetTexts(port, p.texts);
        PutEntries(port.nvram, p.entries);
    }
    lines_ = r.lines;
    EXPECT_EQ(Report(), r.result);
    EXPECT_EQ(out, r.out);
    EXPECT_EQ(err, r.debug);
    EXPECT_EQ(CallCount("OmbriInitializeEx flags=0"), r.initialize);
    EXPECT_EQ(CallCount("OmbriGetNumPhyNicEx"), r.listing);
    EXPECT_EQ(CallCount("OmbriInitDiag"), r.diag);
    EXPECT_EQ(CallCount("OmbriUninitialize"), r.closing);
    EXPECT_TRUE(Misuse().empty());
}

INSTANTIATE_TEST_SUITE_P(Report, ReportTest, ::testing::ValuesIn(kReports), RowName<ReportCase>);

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
