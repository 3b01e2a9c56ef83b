// The installed-firmware report (-c) of the real program against simulated
// servers: its lines byte for byte, the library version bound, the empty and
// failing cases, a missing or incomplete adapter library, injected faults, and
// the library calls behind each (the simulated library's call log).
#include "sim_server.h"

#include <algorithm>

#include <sys/stat.h>

namespace {

const char kDesc[] = "Gigabit Server Adapter";
constexpr char kHead79[] =
    "Gigabit Server Adapter (port 1) in the riser card of PCI Express slot 2, bus 41";
static_assert(sizeof kHead79 == 80, "79 characters");

// ---------------------------------------------------------------------------
// One adapter, one kind of installed firmware per case.

// The port's line is "0 SHOWN  DESC \n"; its image holds the MAC and PCI
// identity that SHOWN begins with.
struct PortCase {
    const char *name;
    std::string shown;              // MAC, PCI identity and version columns of the line
    std::string nvram;              // more simtool nvram options: versions, directory entries
    std::string desc;               // the description as the line shows it
    std::string tail;               // served after DESC, not shown
    std::vector<std::string> reads; // NVRAM offsets read, in order
};

// What the scan reads of directory entry k, whose image simtool put at
// 0x400 + 64k: the entry word at 24 + 12k; for a type-1 entry also the offset
// word after it and then the image words at the given offsets (+32, +36, +40).
struct EntryReads {
    int k;
    std::vector<int> image; // empty: not a type-1 entry, only its first word is read
};

std::string Hex(int value) {
    char text[16];
    snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

// The reads of ENTRIES, then of the empty (type 0) entries from EMPTY_FROM to 15.
std::vector<std::string> Reads(std::vector<EntryReads> entries, int empty_from = 16) {
    for (int k = empty_from; k < 16; k++) {
        entries.push_back({k, {}});
    }
    std::vector<std::string> reads;
    for (const EntryReads &e : entries) {
        int entry = 24 + 12 * e.k;
        reads.push_back(Hex(entry));
        if (e.image.empty()) {
            continue;
        }
        reads.push_back(Hex(entry + 4));
        for (int word : e.image) {
            reads.push_back(Hex(0x400 + 64 * e.k + word));
        }
    }
    return reads;
}

// Signature checks as the scan makes them.
const std::vector<int> kPxe = {32};
const std::vector<int> kIscsi = {32, 36, 40};
const std::vector<int> kClp = {32, 32, 36, 40};

PortCase PortRow(const char *name, std::string shown, std::string nvram, std::string desc,
                 std::string tail, std::vector<std::string> reads) {
    return {name, shown, nvram, desc, tail, reads};
}

const PortCase kPortCases[] = {
    PortRow("BootCodeAndPxe",
            "0A1B2C3D4E5F 1234-ABCD-5678-0001 5 0 3 8 3 2 - - - - - - - - - - - -",
            "--bootcode 5.0.3 --preboot 8.3.2 --entry 1:pxe", kDesc, "", Reads({{0, kPxe}})),
    PortRow("NothingInstalled",
            "0A1B2C3D4E70 1234-ABCD-5678-0009 0 0 0 - - - - - - - - - - - - - - -", "", kDesc, "",
            {}),
    PortRow("UmpKeepsLowEightBits",
            "00AABBCCDDEE 1234-ABCD-5678-0008 1 9 6 - - - 44 1 2 - - - - - - - - -",
            "--bootcode \"bc 1.9.6\" --ump 300.1.2", kDesc, "", {}),
    PortRow("ClpOnly", "0A1B2C3D4E60 1234-ABCD-5678-0002 4 6 1 - - - - - - 2 5 1 - - - - - -",
            "--bootcode 4.6.1 --preboot 2.5.1 --entry 1:clp", kDesc, "",
            // a CLP match does not end the scan: the 15 empty entries follow
            Reads({{0, kClp}}, 1)),
    PortRow("IscsiAfterAnotherType",
            "0A1B2C3D4E61 1234-ABCD-5678-0003 4 6 1 - - - 1 1 9 - - - 2 1 0 - - -",
            "--bootcode 4.6.1 --preboot 2.1.0 --ump 1.1.9 --entry 3:pxe --entry 1:iscsi", kDesc, "",
            // the type-3 entry's offset is never read
            Reads({{0, {}}, {1, kIscsi}})),
    PortRow("IscsiStubVersionInBothColumns",
            "0A1B2C3D4E62 1234-ABCD-5678-0004 5 0 3 - - - - - - - - - 1 0 0 1 0 0",
            "--bootcode 5.0.3 --preboot 1.0.0 --entry 1:iscsi", kDesc, "", Reads({{0, kIscsi}})),
    PortRow("IscsiNearStubVersion",
            "0A1B2C3D4E63 1234-ABCD-5678-0005 5 0 3 - - - - - - - - - 1 0 1 - - -",
            "--bootcode 5.0.3 --preboot 1.0.1 --entry 1:iscsi", kDesc, "", Reads({{0, kIscsi}})),
    PortRow("ClpThenPxe", "0A1B2C3D4E64 1234-ABCD-5678-0006 5 0 3 8 3 2 - - - - - - - - - - - -",
            "--bootcode 5.0.3 --preboot 8.3.2 --entry 1:clp --entry 1:pxe", kDesc, "",
            Reads({{0, kClp}, {1, kPxe}})),
    PortRow("ScanStopsAtPxe",
            "0A1B2C3D4E65 1234-ABCD-5678-0007 5 0 3 8 3 2 - - - - - - - - - - - -",
            "--bootcode 5.0.3 --preboot 8.3.2 --entry 1:pxe --entry 1:clp --entry 1:iscsi", kDesc,
            "", Reads({{0, kPxe}})),
    PortRow("EmptyPreBootTextReadsNoNvram",
            "0A1B2C3D4E66 1234-ABCD-5678-0008 5 0 3 - - - 1 2 0 - - - - - - - - -",
            "--bootcode 5.0.3 --ump 1.2.0 --entry 1:pxe --entry 1:clp", kDesc, "", {}),
    PortRow("NearMissesThenAnIscsiMatchInTheLow24Bits",
            "0A1B2C3D4E67 1234-ABCD-5678-0009 5 0 3 - - - - - - - - - 8 3 2 - - -",
            "--bootcode 5.0.3 --preboot 8.3.2"
            " --entry 1:sig=0x49000000,0x20544253,0x00202021" // 0: iSCSI, +40 differs
            " --entry 1:sig=0x43000000,0x4820504C,0x00205245" // 1: CLP, +40 differs
            " --entry 1:none"                                 // 2: no signature
            " --entry 0:pxe --entry 2:clp --entry 3:iscsi"    // 3-5: other types
            " --entry 1:sig=0x49444E56,0,0"                   // 6: PXE off by one
            " --entry 1:sig=0x48000000,0x20544253,0x00202020" // 7: iSCSI, top byte differs
            " --entry 1:sig=0x43000000,0x4820504D,0x00205244" // 8: CLP, +36 differs
            " --entry 1:sig=0x49000000,0x20544254,0x00202020" // 9: iSCSI, +36 differs
            " --entry 15:pxe"                                 // 10: type 15
            " --entry 1:sig=0x42000000,0x4820504C,0x00205244" // 11: CLP, top byte differs
            " --entry 1:sig=0x49000000,0x20544253,0x01202020" // 12: iSCSI; +40 top byte ignored
            " --entry 1:clp --entry 1:pxe --entry 1:pxe",     // 13-15: never looked at
            kDesc, "",
            Reads({{0, {32, 36, 40, 32}},
                   {1, {32, 32, 36, 40}},
                   {2, {32, 32}},
                   {3, {}},
                   {4, {}},
                   {5, {}},
                   {6, {32, 36, 32}},
                   {7, {32, 32}},
                   {8, {32, 32, 36}},
                   {9, {32, 36, 32}},
                   {10, {}},
                   {11, {32, 32}},
                   {12, kIscsi}})),
    PortRow("PreBootTextWithoutAnImage",
            "0A1B2C3D4E69 1234-ABCD-5678-000B 5 0 3 - - - 1 0 0 - - - - - - - - -",
            "--bootcode 5.0.3 --preboot 8.3.2 --ump 1.0.0", kDesc, "", Reads({}, 0)),
    PortRow("LongDescriptionCutAt79",
            "0A1B2C3D4E68 1234-ABCD-5678-000A 5 0 3 - - - - - - - - - - - - - - -",
            "--bootcode 5.0.3",
            // 167 characters, the most the library serves
            kHead79, " and a tail that no record holds " + std::string(55, '#'), {}),
    PortRow("ClpThenIscsiGivesTheTextToClp",
            "0A1B2C3D4E6A 1234-ABCD-5678-000C 5 0 3 - - - - - - 1 0 0 - - - - - -",
            "--bootcode 5.0.3 --preboot 1.0.0 --entry 1:clp --entry 1:iscsi", kDesc, "",
            Reads({{0, kClp}, {1, kIscsi}})),
};

void PrintTo(const PortCase &c, std::ostream *os) {
    *os << c.name;
}

class ReportPortTest : public SimE2eTest, public ::testing::WithParamInterface<PortCase> {};

TEST_P(ReportPortTest, PrintsTheLineAndReadsOnlyWhatTheScanNeeds) {
    const PortCase &c = GetParam();
    const std::vector<std::string> shown = Words(c.shown);
    SimServer server =
        LayOutServer(ServerDir(), "7.6.1",
                     {{"handle=4097 desc=\"" + c.desc + c.tail + "\" nvram=port.nvram"},
                      {"port.nvram --mac " + shown[0] + " --pci " + shown[1] + " " + c.nvram}});
    ASSERT_FALSE(HasFailure());
    RunResult r = RunAgainst(server, {"-c"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, Console("0 " + c.shown + "  " + c.desc + " \n"));
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(LibraryClosed(calls_));

    std::vector<std::string> reads;
    for (const SimCall &call : CallsOf(calls_, "OmbriReadFirmware")) {
        EXPECT_EQ(SimCallArg(call, "handle"), "4097");
        EXPECT_EQ(SimCallArg(call, "words"), "1");
        EXPECT_EQ(SimCallArg(call, "access"), "ok");
        EXPECT_EQ(call.status, 0u) << call.line;
        reads.push_back(SimCallArg(call, "offset"));
    }
    EXPECT_EQ(reads, c.reads);
    // Diagnostic mode on before the version texts and off after the reads.
    ASSERT_GE(calls_.size(), 9u);
    EXPECT_EQ(calls_[6].op, "OmbriInitDiag");
    EXPECT_EQ(calls_[7].op, "OmbriGetTernFwInfo");
    EXPECT_EQ(calls_[calls_.size() - 2].op, "OmbriUnInitDiag");
    EXPECT_EQ(CallsOf(calls_, "OmbriInitDiag").size(), 1u);
    EXPECT_EQ(CallsOf(calls_, "OmbriUnInitDiag").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Report, ReportPortTest, ::testing::ValuesIn(kPortCases),
                         RowName<PortCase>);

// ---------------------------------------------------------------------------
// The library version bound: 7.6.1 and everything later.

// One port with boot code 5.0.3 and PXE 8.3.2, and its line.
const SimLayout kPxePort = {{"handle=4097 desc=\"Gigabit Server Adapter\" nvram=port.nvram"},
                            {"port.nvram --pci 1234-ABCD-5678-0001 --mac 0A1B2C3D4E5F "
                             "--bootcode 5.0.3 --preboot 8.3.2 --entry 1:pxe"}};
const char kPxeLine[] = "0 0A1B2C3D4E5F 1234-ABCD-5678-0001 5 0 3 8 3 2 - - - - - - - - - - - -  "
                        "Gigabit Server Adapter \n";

struct VersionCase {
    const char *version;
    bool accepted;
};

const VersionCase kVersionCases[] = {
    {"7.6.0", false},  {"7.6.1", true},   {"7.6.2", true},    {"7.7.0", true},  {"8.0.0", true},
    {"7.5.99", false}, {"7.5.18", false}, {"6.99.99", false}, {"0.0.0", false}, {"7.0.1", false},
};

class ReportVersionTest : public SimE2eTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(ReportVersionTest, RefusesLibrariesBefore761) {
    const VersionCase &c = GetParam();
    SimServer server = LayOutServer(ServerDir(), c.version, kPxePort);
    ASSERT_FALSE(HasFailure());
    RunResult r = RunAgainst(server, {"-c"});
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(LibraryClosed(calls_));
    if (c.accepted) {
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.out, Console(kPxeLine));
    } else {
        EXPECT_EQ(r.exit_code, 3);
        EXPECT_EQ(r.out, Console(std::string("Unsupported OMBRI version ") + c.version +
                                 ".\r\nExpect OMBRI version 7.6.1 or later.\r\n"));
        // Refused before the library is initialised.
        ASSERT_EQ(calls_.size(), 1u);
        EXPECT_EQ(calls_[0].op, "OmbriGetVersion");
    }
}

std::string VersionCaseName(const ::testing::TestParamInfo<VersionCase> &info) {
    std::string name = std::string("v") + info.param.version;
    std::replace(name.begin(), name.end(), '.', '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Report, ReportVersionTest, ::testing::ValuesIn(kVersionCases),
                         VersionCaseName);

// ---------------------------------------------------------------------------
// Whole servers, with and without injected faults: what the report shows and
// what the library is asked. Each row runs the program once per entry of
// `runs`; a run with -debug differs only in its standard error.

// Each of OPS is called COUNT times on each of HANDLES ("": on any handle).
struct CallCount {
    std::string ops;
    std::string handles;
    size_t count;
};

struct ServerCase {
    const char *name;
    SimLayout layout;
    std::string faults;
    std::vector<std::string> runs; // the arguments of each run
    int exit_code;
    std::string out;   // standard output of every run (before Console())
    std::string debug; // standard error of the runs with -debug
    std::vector<CallCount> calls = {};
    std::vector<std::string> only = {}; // when given: every library call, in order
    std::string injected = "";          // "OP [HANDLE]": the last such call is the failed one
};

// Port 0 (handle 4097): boot code 5.0.3, PXE 8.3.2, UMP 1.2.0.
// Port 1 (handle 4098): boot code 4.6.1, CLP then PXE, pre-boot text 3.1.4.
// Port 2 (handle 4099): boot code 6.2.14, iSCSI 2.1.0.
const SimLayout kThreePorts = {
    {"handle=4097 desc=\"Gigabit Server Adapter (port 1)\" nvram=p1.nvram",
     "handle=4098 desc=\"Gigabit Server Adapter (port 2)\" nvram=p2.nvram",
     "handle=4099 desc=\"Gigabit Server Adapter (port 3)\" nvram=p3.nvram"},
    {"p1.nvram --pci 1234-ABCD-5678-0001 --mac 0A1B2C3D4E5F --bootcode 5.0.3 --preboot 8.3.2 "
     "--ump 1.2.0 --entry 1:pxe",
     "p2.nvram --pci 1234-ABCD-5678-0002 --mac 0A1B2C3D4E60 --bootcode 4.6.1 --preboot 3.1.4 "
     "--entry 1:clp --entry 1:pxe",
     "p3.nvram --pci 1234-ABCD-5678-0006 --mac 0A1B2C3D4E71 --bootcode 6.2.14 --preboot 2.1.0 "
     "--entry 1:iscsi"}};
const char kLine0[] = "0 0A1B2C3D4E5F 1234-ABCD-5678-0001 5 0 3 8 3 2 1 2 0 - - - - - - - - -  "
                      "Gigabit Server Adapter (port 1) \n";
const char kLine1[] = "1 0A1B2C3D4E60 1234-ABCD-5678-0002 4 6 1 3 1 4 - - - - - - - - - - - -  "
                      "Gigabit Server Adapter (port 2) \n";
const char kLine2[] = "2 0A1B2C3D4E71 1234-ABCD-5678-0006 6 2 14 - - - - - - - - - 2 1 0 - - -  "
                      "Gigabit Server Adapter (port 3) \n";
// Port 1's read number 4 fails: its scan ends with what it found.
const std::string kReadFails4 =
    std::string("Failed to read NVRAM!\r\n") + kLine0 +
    "1 0A1B2C3D4E60 1234-ABCD-5678-0002 4 6 1 - - - - - - - - - - - - - - -  Gigabit Server "
    "Adapter (port 2) \n" +
    kLine2;
// Port 1's diagnostic mode fails: its record and the later ones stay zero.
const std::string kInitDiagFails1 = kLine0 + ZeroReportLine(1) + ZeroReportLine(2);
const std::string kTernFwFails1 =
    std::string(kLine0) +
    "1 0A1B2C3D4E60 1234-ABCD-5678-0002 0 0 0 - - - - - - - - - - - - - - -  Gigabit Server "
    "Adapter (port 2) \n" +
    kLine2;
const std::vector<std::string> kQuietAndDebug = {"-c", "-c -debug"};

ServerCase ServerRow(const char *name, SimLayout layout, std::string faults,
                     std::vector<std::string> runs, int exit_code, std::string out,
                     std::string debug, std::vector<CallCount> calls = {},
                     std::vector<std::string> only = {}, std::string injected = "") {
    return {name, layout, faults, runs, exit_code, out, debug, calls, only, injected};
}

const ServerCase kServerCases[] = {
    // Kept adapters numbered from 0 in the library's order, the dropped ones
    // never queried beyond OmbriGetNicInfo.
    ServerRow(
        "SeveralAdaptersInLibraryOrderWithoutTheDroppedOnes",
        {{"handle=4097 desc=\"Gigabit Server Adapter (port 1)\" nvram=p1.nvram",
          "handle=12289 type=2 desc=\"Fast Ethernet Adapter\" mac=001122334455 "
          "pci=1111-2222-3333-4444",
          "handle=4098 desc=\"Gigabit Server Adapter (port 2)\" nvram=p2.nvram",
          "handle=4099 flags=1 desc=\"Gigabit Server Adapter (hidden)\" nvram=p1.nvram",
          "handle=4100 desc=\"Gigabit Server Adapter (port 3)\" nvram=p3.nvram",
          "handle=4101 flags=254 desc=\"Gigabit Server Adapter (port 4)\" nvram=p4.nvram",
          "handle=8193 type=5 desc=\"Other Adapter\" nvram=p2.nvram"},
         {"p1.nvram --pci 1234-ABCD-5678-0001 --mac 0A1B2C3D4E5F --bootcode 5.0.3 --preboot 8.3.2 "
          "--entry 1:pxe",
          "p2.nvram --pci 1234-ABCD-5678-0002 --mac 0A1B2C3D4E60 --bootcode 4.6.1 --preboot 2.1.0 "
          "--ump 1.1.9 --entry 3:pxe --entry 1:iscsi",
          "p3.nvram --pci 1234-ABCD-5678-0006 --mac 0A1B2C3D4E71 --bootcode 6.2.14 --preboot 1.0.0 "
          "--ump 2.0 --entry 2:clp --entry 1:iscsi",
          "p4.nvram --pci 1234-ABCD-5678-0007 --mac 0A1B2C3D4E72 --bootcode 6.2.14 --preboot 3.4.5 "
          "--entry 1:clp"}},
        "", {"-c"}, 1,
        "0 0A1B2C3D4E5F 1234-ABCD-5678-0001 5 0 3 8 3 2 - - - - - - - - - - - -  Gigabit Server "
        "Adapter (port 1) \n"
        "1 0A1B2C3D4E60 1234-ABCD-5678-0002 4 6 1 - - - 1 1 9 - - - 2 1 0 - - -  Gigabit Server "
        "Adapter (port 2) \n"
        "2 0A1B2C3D4E71 1234-ABCD-5678-0006 6 2 14 - - - 2 2 0 - - - 1 0 0 1 0 0  Gigabit Server "
        "Adapter (port 3) \n"
        "3 0A1B2C3D4E72 1234-ABCD-5678-0007 6 2 14 - - - - - - 3 4 5 - - - - - -  Gigabit Server "
        "Adapter (port 4) \n",
        "",
        {{"OmbriGetNicInfo", "12289 4099 8193", 1},
         {"OmbriGetNicAuxInfo OmbriInitDiag OmbriGetTernFwInfo OmbriReadFirmware OmbriUnInitDiag",
          "12289 4099 8193", 0},
         {"OmbriGetNicAuxInfo OmbriInitDiag OmbriUnInitDiag", "4097 4098 4100 4101", 1}}),
    // Nothing to report, and a library that does not initialise.
    ServerRow("NoAdapterAtAllPrintsNothing", {}, "", kQuietAndDebug, 3, "", "",
              {{"OmbriGetAllPhyNicHandles", "", 0}}),
    ServerRow("NoSupportedAdapterPrintsNothing",
              {{"handle=12289 type=2 desc=\"Fast Ethernet Adapter\" mac=001122334455 "
                "pci=1111-2222-3333-4444",
                "handle=4097 flags=1 desc=\"Gigabit Server Adapter\" nvram=port.nvram",
                "handle=4098 type=0 desc=\"Gigabit Server Adapter\" nvram=port.nvram",
                "handle=4099 flags=3 desc=\"Gigabit Server Adapter\" nvram=port.nvram"},
               kPxePort.images},
              "", {"-c"}, 3, "", "",
              {{"OmbriGetNicInfo", "", 4}, {"OmbriGetNicAuxInfo OmbriInitDiag", "", 0}}),
    // Nothing after the failed initialisation.
    ServerRow("InitialisationFailureIsOnlyADebugLine",
              {kPxePort.adapters, {"port.nvram --bootcode 5.0.3"}}, "OmbriInitializeEx status=42",
              {"-c", "-debug -c"}, 0, "", "OmbriInitializeEx() failed 42\r\n", {},
              {"OmbriGetVersion", "OmbriInitializeEx"}, "OmbriInitializeEx"),
    // Injected faults past the library's start: what the report still shows.
    ServerRow("ReadFailsFromTheFourthReadOfPort1", kThreePorts,
              "OmbriReadFirmware status=7 adapter=4098 from=4", kQuietAndDebug, 1, kReadFails4,
              "OmbriReadFirmware() failed 7\r\n"),
    ServerRow("ReadFailsAfterTheClpMatch", kThreePorts,
              "OmbriReadFirmware status=7 adapter=4098 at=7", kQuietAndDebug, 1,
              std::string("Failed to read NVRAM!\r\n") + kLine0 +
                  "1 0A1B2C3D4E60 1234-ABCD-5678-0002 4 6 1 - - - - - - 3 1 4 - - - - - -  Gigabit "
                  "Server Adapter (port 2) \n" +
                  kLine2,
              "OmbriReadFirmware() failed 7\r\n"),
    ServerRow("InitDiagFailsForPort1", kThreePorts, "OmbriInitDiag status=5 adapter=4098",
              kQuietAndDebug, 1, kInitDiagFails1, "OmbriInitDiag() failed 5\r\n"),
    ServerRow("InitDiagFailsForPort0", kThreePorts, "OmbriInitDiag status=5 adapter=4097",
              kQuietAndDebug, 1, ZeroReportLine(0) + ZeroReportLine(1) + ZeroReportLine(2),
              "OmbriInitDiag() failed 5\r\n"),
    ServerRow("TernFwInfoFails", kThreePorts, "OmbriGetTernFwInfo status=6 adapter=4098",
              kQuietAndDebug, 1, kTernFwFails1, "OmbriGetTernFwInfo() failed 6\r\n"),
    ServerRow("UnInitDiagFails", kThreePorts, "OmbriUnInitDiag status=8 adapter=4097",
              kQuietAndDebug, 1, std::string(kLine0) + kLine1 + kLine2,
              "OmbriUnInitDiag() failed 8\r\n"),
    ServerRow("AuxInfoFailsDropsThePort", kThreePorts, "OmbriGetNicAuxInfo status=3 adapter=4098",
              kQuietAndDebug, 1,
              std::string(kLine0) + "1 0A1B2C3D4E71 1234-ABCD-5678-0006 6 2 14 - - - - - - - - - 2 "
                                    "1 0 - - -  Gigabit Server "
                                    "Adapter (port 3) \n",
              ""),
    ServerRow(
        "NicInfoFailsDropsThePort", kThreePorts, "OmbriGetNicInfo status=3 adapter=4097",
        kQuietAndDebug, 1,
        "0 0A1B2C3D4E60 1234-ABCD-5678-0002 4 6 1 3 1 4 - - - - - - - - - - - -  Gigabit Server "
        "Adapter (port 2) \n"
        "1 0A1B2C3D4E71 1234-ABCD-5678-0006 6 2 14 - - - - - - - - - 2 1 0 - - -  Gigabit Server "
        "Adapter (port 3) \n",
        ""),
    ServerRow("UninitializeFails", kThreePorts, "OmbriUninitialize status=4", kQuietAndDebug, 1,
              std::string(kLine0) + kLine1 + kLine2, ""),
    // The library calls behind fault cases that the output alone cannot show.
    ServerRow("InitDiagFailureStopsTheTableAtThatPort", kThreePorts,
              "OmbriInitDiag status=5 adapter=4098", {"-c"}, 1, kInitDiagFails1, "",
              {{"OmbriInitDiag", "4098", 1},
               {"OmbriGetTernFwInfo OmbriReadFirmware OmbriUnInitDiag", "4098", 0},
               {"OmbriInitDiag OmbriGetTernFwInfo OmbriReadFirmware", "4099", 0},
               {"OmbriUnInitDiag", "4097", 1}}),
    ServerRow("ReadFailureEndsThatPortsScanOnly", kThreePorts,
              "OmbriReadFirmware status=7 adapter=4098 from=4", {"-c"}, 1, kReadFails4, "",
              {{"OmbriReadFirmware", "4098", 4},
               {"OmbriUnInitDiag", "4098", 1},
               {"OmbriReadFirmware", "4099", 5}},
              {}, "OmbriReadFirmware 4098"),
    ServerRow("TernFwInfoFailureReadsNoNvram", kThreePorts,
              "OmbriGetTernFwInfo status=6 adapter=4098", {"-c"}, 1, kTernFwFails1, "",
              {{"OmbriReadFirmware", "4098", 0}, {"OmbriUnInitDiag", "4098", 1}}),
};

void PrintTo(const ServerCase &c, std::ostream *os) {
    *os << c.name;
}

class ReportServerTest : public SimE2eTest, public ::testing::WithParamInterface<ServerCase> {};

TEST_P(ReportServerTest, ReportsWhatIsLeftAndClosesTheLibrary) {
    const ServerCase &c = GetParam();
    SimServer server = LayOutServer(ServerDir(), "7.6.1", c.layout);
    ASSERT_FALSE(HasFailure());
    std::vector<SimCall> first_calls;
    for (size_t run = 0; run < c.runs.size(); run++) {
        SCOPED_TRACE(c.runs[run]);
        const std::vector<std::string> args = Words(c.runs[run]);
        const bool debug = std::find(args.begin(), args.end(), "-debug") != args.end();
        RunResult r = RunAgainst(server, args, c.faults);
        EXPECT_EQ(r.exit_code, c.exit_code);
        EXPECT_EQ(r.out, Console(c.out));
        EXPECT_EQ(r.err, debug ? Console(c.debug) : "");
        EXPECT_TRUE(LibraryClosed(calls_));
        for (const CallCount &n : c.calls) {
            for (const std::string &op : Words(n.ops)) {
                for (const std::string &handle : Words(n.handles.empty() ? "\"\"" : n.handles)) {
                    EXPECT_EQ(CallsOf(calls_, op, handle).size(), n.count) << op << " " << handle;
                }
            }
        }
        if (!c.only.empty()) {
            ASSERT_EQ(calls_.size(), c.only.size());
            for (size_t i = 0; i < calls_.size(); i++) {
                EXPECT_EQ(calls_[i].op, c.only[i]);
            }
        }
        if (!c.injected.empty()) {
            const std::vector<std::string> call = Words(c.injected + " \"\"");
            const std::vector<SimCall> made = CallsOf(calls_, call[0], call[1]);
            ASSERT_FALSE(made.empty()) << c.injected;
            EXPECT_TRUE(made.back().injected) << made.back().line;
        }
        // -debug changes nothing in what the library is asked.
        if (run == 0) {
            first_calls = calls_;
            continue;
        }
        ASSERT_EQ(calls_.size(), first_calls.size());
        for (size_t i = 0; i < calls_.size(); i++) {
            EXPECT_EQ(calls_[i].line, first_calls[i].line);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Report, ReportServerTest, ::testing::ValuesIn(kServerCases),
                         RowName<ServerCase>);

// ---------------------------------------------------------------------------
// The adapter library itself missing, or lacking an operation: the program
// lies alone (or beside that library) in a directory of its own.

struct AloneCase {
    const char *name;
    std::string beside; // the build's folder of a library laid beside the program, or ""
    // Where else a library of that name lies, which would leave a mark if it
    // were loaded, one run each: "" nowhere, "current" in the current
    // directory, "path" in a folder on the search path (PATH, for Wine
    // WINEPATH; natively LD_LIBRARY_PATH).
    std::vector<std::string> plants;
    bool terminal;   // run on a pseudo-terminal
    std::string out; // {D}: the program's folder as the program prints it
    // What is changed before the run: "folder=MODE" (the program's folder),
    // "library-owner" (the library beside it owned by another user).
    std::string change;
};

AloneCase AloneRow(const char *name, std::string beside, std::vector<std::string> plants,
                   bool terminal, std::string out, std::string change = "") {
    return {name, beside, plants, terminal, out, change};
}

const AloneCase kAloneCases[] = {
    AloneRow("MissingLibraryIsOneLine", "", {"", "current", "path"}, false,
             "Cannot load the adapter library OMBRIa.DLL.\r\n"),
    // The same line on a terminal (native only: the colour is an ANSI sequence
    // there, a console attribute on Windows): red, then back to grey. The
    // terminal turns "\n" into "\r\n".
    AloneRow("MissingLibraryLineIsRedOnATerminal", "", {""}, true,
             "\033[1;31mCannot load the adapter library OMBRIa.DLL.\r\r\n\033[0m"),
    // Not one operation is called: the binding is checked whole first.
    AloneRow(
        "LibraryWithoutAnOperationIsOneLine", "partial", {""}, false,
        "The adapter library OMBRIa.DLL has no operation OmbriGetTernFwInfo (ordinal 104).\r\n"),
    // A library beside the program that would leave its mark is not loaded
    // when others may write the folder, or when another user owns it.
    AloneRow("ProgramFolderWritableByAll", "planted", {""}, false,
             "Cannot trust {D}: an account other than Administrators, SYSTEM or the account "
             "running lanrefit may write to it.\r\n",
             "folder=0777"),
    AloneRow("LibraryOfAnotherOwner", "planted", {""}, false,
             "Cannot trust {D}{L}: its owner is not Administrators, SYSTEM or the account running "
             "lanrefit.\r\n",
             "library-owner"),
};

void PrintTo(const AloneCase &c, std::ostream *os) {
    *os << c.name;
}

class ReportAloneTest : public SimE2eTest, public ::testing::WithParamInterface<AloneCase> {};

TEST_P(ReportAloneTest, PrintsOneLineAndCallsNothing) {
    const AloneCase &c = GetParam();
    if (c.terminal && (IsWindowsTarget() || !FileExists("/usr/bin/script"))) {
        GTEST_SKIP() << "needs the native target and script(1) for a pseudo-terminal";
    }
    const std::string planted = TargetBuildDir() + "/planted/" + TargetLibraryName();
    ASSERT_TRUE(FileExists(planted)) << planted << " is missing: build the target OMBRIa_planted";
    for (const std::string &plant : c.plants) {
        SCOPED_TRACE("planted: " + plant);
        const std::string dir = work_ + "/alone" + plant;
        const std::string other = work_ + "/plant" + plant;
        mkdir(dir.c_str(), 0755);
        mkdir(other.c_str(), 0755);
        std::string program = dir + TargetProgram().substr(TargetProgram().rfind('/'));
        ASSERT_TRUE(CopyFile(TargetProgram(), program));
        if (!c.beside.empty()) {
            const std::string lib = TargetBuildDir() + "/" + c.beside + "/" + TargetLibraryName();
            ASSERT_TRUE(FileExists(lib)) << lib << " is missing: build OMBRIa_" << c.beside;
            ASSERT_TRUE(CopyFile(lib, dir + "/" + TargetLibraryName()));
        }
        if (c.change == "library-owner") {
            ASSERT_EQ(chown((dir + "/" + TargetLibraryName()).c_str(), 12345, 12345), 0);
        } else if (c.change.rfind("folder=", 0) == 0) {
            ASSERT_EQ(
                chmod(dir.c_str(), static_cast<mode_t>(std::stoi(c.change.substr(7), nullptr, 8))),
                0);
        }
        // The folder and the library as the program names them.
        std::string shown = IsWindowsTarget() ? "Z:" + dir : dir;
        std::replace(shown.begin(), shown.end(), '/', IsWindowsTarget() ? '\\' : '/');
        std::string out = c.out;
        for (const auto &fill :
             {std::make_pair(std::string("{D}"), shown),
              std::make_pair(std::string("{L}"), IsWindowsTarget() ? std::string("\\OMBRIa.DLL")
                                                                   : "/" + TargetLibraryName())}) {
            size_t at = out.find(fill.first);
            out = at == std::string::npos ? out : out.replace(at, fill.first.size(), fill.second);
        }
        SimServer server = LayOutServer(ServerDir(), "7.6.1",
                                        {kPxePort.adapters, {"port.nvram --bootcode 5.0.3"}});
        ASSERT_FALSE(HasFailure());
        std::remove(server.call_log.c_str());
        RunSpec spec{{"-c"}, "", SimEnv(server), ""};
        if (!plant.empty()) {
            ASSERT_TRUE(CopyFile(planted, other + "/" + TargetLibraryName()));
        }
        if (plant == "current") {
            spec.cwd = other;
        } else if (plant == "path") {
            std::string wine_dir = "Z:" + other;
            std::replace(wine_dir.begin(), wine_dir.end(), '/', '\\');
            spec.env.push_back(IsWindowsTarget() ? "WINEPATH=" + wine_dir
                                                 : "LD_LIBRARY_PATH=" + other);
        }
        RunResult r;
        if (c.terminal) {
            spec.args = {"-qec", "./lanrefit -c", "/dev/null"};
            spec.cwd = dir;
            r = RunHost("/usr/bin/script", spec);
        } else {
            r = RunTarget(program, spec);
        }
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.out, Console(out));
        EXPECT_EQ(r.err, "");
        EXPECT_FALSE(FileExists(server.call_log));
        EXPECT_FALSE(FileExists(other + "/planted-library-loaded")) << "the planted library ran";
        EXPECT_FALSE(FileExists(dir + "/planted-library-loaded")) << "the library beside ran";
    }
}

INSTANTIATE_TEST_SUITE_P(Report, ReportAloneTest, ::testing::ValuesIn(kAloneCases),
                         RowName<AloneCase>);

} // namespace
