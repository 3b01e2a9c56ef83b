// The installed-firmware report (-c) of the real program against simulated
// servers: its lines byte for byte, the library version bound, the empty and
// failing cases, a missing or incomplete adapter library, injected faults, and
// the library calls behind each (the simulated library's call log).
#include "sim_server.h"

#include <algorithm>

#include <sys/stat.h>

namespace {

const char kDesc[] = "Gigabit Server Adapter";
const char kNone[] = "- - - ";
constexpr char kHead79[] =
    "Gigabit Server Adapter (port 1) in the riser card of PCI Express slot 2, bus 41";
static_assert(sizeof kHead79 == 80, "79 characters");

// ---------------------------------------------------------------------------
// One adapter, one kind of installed firmware per case.

struct PortCase {
    const char *name;
    std::vector<std::string> nvram; // simtool nvram options
    std::string desc;
    std::string line;               // the whole expected line (before Console())
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

std::vector<std::string> Reads(const std::vector<EntryReads> &entries) {
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

// Entries k from FIRST to 15, all empty (type 0).
std::vector<EntryReads> EmptyEntries(int first) {
    std::vector<EntryReads> entries;
    for (int k = first; k < 16; k++) {
        entries.push_back({k, {}});
    }
    return entries;
}

std::vector<EntryReads> Join(std::vector<EntryReads> a, const std::vector<EntryReads> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Signature checks as the scan makes them.
const std::vector<int> kPxe = {32};
const std::vector<int> kIscsi = {32, 36, 40};
const std::vector<int> kClp = {32, 32, 36, 40};

const PortCase kPortCases[] = {
    {"BootCodeAndPxe",
     {"--pci", "1234-ABCD-5678-0001", "--mac", "0A1B2C3D4E5F", "--bootcode", "5.0.3", "--preboot",
      "8.3.2", "--entry", "1:pxe"},
     kDesc,
     "0 0A1B2C3D4E5F 1234-ABCD-5678-0001 5 0 3 8 3 2 - - - - - - - - - - - -  Gigabit Server "
     "Adapter \n",
     Reads({{0, kPxe}})},
    {"NothingInstalled",
     {"--pci", "1234-ABCD-5678-0009", "--mac", "0A1B2C3D4E70"},
     kDesc,
     "0 0A1B2C3D4E70 1234-ABCD-5678-0009 0 0 0 - - - - - - - - - - - - - - -  Gigabit Server "
     "Adapter \n",
     {}},
    {"UmpKeepsLowEightBits",
     {"--pci", "1234-ABCD-5678-0008", "--mac", "00AABBCCDDEE", "--bootcode", "bc 1.9.6", "--ump",
      "300.1.2"},
     kDesc,
     "0 00AABBCCDDEE 1234-ABCD-5678-0008 1 9 6 - - - 44 1 2 - - - - - - - - -  Gigabit Server "
     "Adapter \n",
     {}},
    {"ClpOnly",
     {"--pci", "1234-ABCD-5678-0002", "--mac", "0A1B2C3D4E60", "--bootcode", "4.6.1", "--preboot",
      "2.5.1", "--entry", "1:clp"},
     kDesc,
     "0 0A1B2C3D4E60 1234-ABCD-5678-0002 4 6 1 - - - - - - 2 5 1 - - - - - -  Gigabit Server "
     "Adapter \n",
     // a CLP match does not end the scan: the 15 empty entries follow
     Reads(Join({{0, kClp}}, EmptyEntries(1)))},
    {"IscsiAfterAnotherType",
     {"--pci", "1234-ABCD-5678-0003", "--mac", "0A1B2C3D4E61", "--bootcode", "4.6.1", "--preboot",
      "2.1.0", "--ump", "1.1.9", "--entry", "3:pxe", "--entry", "1:iscsi"},
     kDesc,
     "0 0A1B2C3D4E61 1234-ABCD-5678-0003 4 6 1 - - - 1 1 9 - - - 2 1 0 - - -  Gigabit Server "
     "Adapter \n",
     // the type-3 entry's offset is never read
     Reads({{0, {}}, {1, kIscsi}})},
    {"IscsiStubVersionInBothColumns",
     {"--pci", "1234-ABCD-5678-0004", "--mac", "0A1B2C3D4E62", "--bootcode", "5.0.3", "--preboot",
      "1.0.0", "--entry", "1:iscsi"},
     kDesc,
     "0 0A1B2C3D4E62 1234-ABCD-5678-0004 5 0 3 - - - - - - - - - 1 0 0 1 0 0  Gigabit Server "
     "Adapter \n",
     Reads({{0, kIscsi}})},
    {"IscsiNearStubVersion",
     {"--pci", "1234-ABCD-5678-0005", "--mac", "0A1B2C3D4E63", "--bootcode", "5.0.3", "--preboot",
      "1.0.1", "--entry", "1:iscsi"},
     kDesc,
     "0 0A1B2C3D4E63 1234-ABCD-5678-0005 5 0 3 - - - - - - - - - 1 0 1 - - -  Gigabit Server "
     "Adapter \n",
     Reads({{0, kIscsi}})},
    {"ClpThenPxe",
     {"--pci", "1234-ABCD-5678-0006", "--mac", "0A1B2C3D4E64", "--bootcode", "5.0.3", "--preboot",
      "8.3.2", "--entry", "1:clp", "--entry", "1:pxe"},
     kDesc,
     "0 0A1B2C3D4E64 1234-ABCD-5678-0006 5 0 3 8 3 2 - - - - - - - - - - - -  Gigabit Server "
     "Adapter \n",
     Reads({{0, kClp}, {1, kPxe}})},
    {"ScanStopsAtPxe",
     {"--pci", "1234-ABCD-5678-0007", "--mac", "0A1B2C3D4E65", "--bootcode", "5.0.3", "--preboot",
      "8.3.2", "--entry", "1:pxe", "--entry", "1:clp", "--entry", "1:iscsi"},
     kDesc,
     "0 0A1B2C3D4E65 1234-ABCD-5678-0007 5 0 3 8 3 2 - - - - - - - - - - - -  Gigabit Server "
     "Adapter \n",
     Reads({{0, kPxe}})},
    {"EmptyPreBootTextReadsNoNvram",
     {"--pci", "1234-ABCD-5678-0008", "--mac", "0A1B2C3D4E66", "--bootcode", "5.0.3", "--ump",
      "1.2.0", "--entry", "1:pxe", "--entry", "1:clp"},
     kDesc,
     "0 0A1B2C3D4E66 1234-ABCD-5678-0008 5 0 3 - - - 1 2 0 - - - - - - - - -  Gigabit Server "
     "Adapter \n",
     {}},
    {"NearMissesThenAnIscsiMatchInTheLow24Bits",
     {"--pci",      "1234-ABCD-5678-0009",
      "--mac",      "0A1B2C3D4E67",
      "--bootcode", "5.0.3",
      "--preboot",  "8.3.2",
      "--entry",    "1:sig=0x49000000,0x20544253,0x00202021", // 0: iSCSI, +40 differs
      "--entry",    "1:sig=0x43000000,0x4820504C,0x00205245", // 1: CLP, +40 differs
      "--entry",    "1:none",                                 // 2: no signature
      "--entry",    "0:pxe",
      "--entry",    "2:clp",
      "--entry",    "3:iscsi",                                // 3-5: other types
      "--entry",    "1:sig=0x49444E56,0,0",                   // 6: PXE off by one
      "--entry",    "1:sig=0x48000000,0x20544253,0x00202020", // 7: iSCSI, top byte differs
      "--entry",    "1:sig=0x43000000,0x4820504D,0x00205244", // 8: CLP, +36 differs
      "--entry",    "1:sig=0x49000000,0x20544254,0x00202020", // 9: iSCSI, +36 differs
      "--entry",    "15:pxe",                                 // 10: type 15
      "--entry",    "1:sig=0x42000000,0x4820504C,0x00205244", // 11: CLP, top byte differs
      "--entry",    "1:sig=0x49000000,0x20544253,0x01202020", // 12: iSCSI; +40 top byte ignored
      "--entry",    "1:clp",
      "--entry",    "1:pxe",
      "--entry",    "1:pxe"}, // 13-15: never looked at
     kDesc,
     "0 0A1B2C3D4E67 1234-ABCD-5678-0009 5 0 3 - - - - - - - - - 8 3 2 - - -  Gigabit Server "
     "Adapter \n",
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
            {12, kIscsi}})},
    {"PreBootTextWithoutAnImage",
     {"--pci", "1234-ABCD-5678-000B", "--mac", "0A1B2C3D4E69", "--bootcode", "5.0.3", "--preboot",
      "8.3.2", "--ump", "1.0.0"},
     kDesc,
     "0 0A1B2C3D4E69 1234-ABCD-5678-000B 5 0 3 - - - 1 0 0 - - - - - - - - -  Gigabit Server "
     "Adapter \n",
     Reads(EmptyEntries(0))},
    {"LongDescriptionCutAt79",
     {"--pci", "1234-ABCD-5678-000A", "--mac", "0A1B2C3D4E68", "--bootcode", "5.0.3"},
     // 167 characters, the most the library serves
     kHead79 + std::string(" and a tail that no record holds ") + std::string(55, '#'),
     "0 0A1B2C3D4E68 1234-ABCD-5678-000A 5 0 3 - - - - - - - - - - - - - - -  " +
         std::string(kHead79) + " \n",
     {}},
    {"ClpThenIscsiGivesTheTextToClp",
     {"--pci", "1234-ABCD-5678-000C", "--mac", "0A1B2C3D4E6A", "--bootcode", "5.0.3", "--preboot",
      "1.0.0", "--entry", "1:clp", "--entry", "1:iscsi"},
     kDesc,
     "0 0A1B2C3D4E6A 1234-ABCD-5678-000C 5 0 3 - - - - - - 1 0 0 - - - - - -  Gigabit Server "
     "Adapter \n",
     Reads({{0, kClp}, {1, kIscsi}})},
};

void PrintTo(const PortCase &c, std::ostream *os) {
    *os << c.name;
}

class ReportPortTest : public SimE2eTest, public ::testing::WithParamInterface<PortCase> {};

TEST_P(ReportPortTest, PrintsTheLineAndReadsOnlyWhatTheScanNeeds) {
    const PortCase &c = GetParam();
    SimServer server =
        MakeServer(ServerDir(), "7.6.1", {"handle=4097 desc=\"" + c.desc + "\" nvram=port.nvram"});
    ASSERT_TRUE(WriteNvram(server, "port.nvram", c.nvram));
    RunResult r = RunAgainst(server, {"-c"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, Console(c.line));
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

std::string PortCaseName(const ::testing::TestParamInfo<PortCase> &info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Report, ReportPortTest, ::testing::ValuesIn(kPortCases), PortCaseName);

// ---------------------------------------------------------------------------
// Several adapters: kept ones numbered from 0 in the library's order, the
// dropped ones never queried beyond OmbriGetNicInfo.

class ReportTest : public SimE2eTest {};

TEST_F(ReportTest, SeveralAdaptersInLibraryOrderWithoutTheDroppedOnes) {
    SimServer server =
        MakeServer(ServerDir(), "7.6.1",
                   {"handle=4097 desc=\"Gigabit Server Adapter (port 1)\" nvram=p1.nvram",
                    "handle=12289 type=2 desc=\"Fast Ethernet Adapter\" mac=001122334455 "
                    "pci=1111-2222-3333-4444",
                    "handle=4098 desc=\"Gigabit Server Adapter (port 2)\" nvram=p2.nvram",
                    "handle=4099 flags=1 desc=\"Gigabit Server Adapter (hidden)\" nvram=p1.nvram",
                    "handle=4100 desc=\"Gigabit Server Adapter (port 3)\" nvram=p3.nvram",
                    "handle=4101 flags=254 desc=\"Gigabit Server Adapter (port 4)\" nvram=p4.nvram",
                    "handle=8193 type=5 desc=\"Other Adapter\" nvram=p2.nvram"});
    ASSERT_TRUE(WriteNvram(server, "p1.nvram",
                           {"--pci", "1234-ABCD-5678-0001", "--mac", "0A1B2C3D4E5F", "--bootcode",
                            "5.0.3", "--preboot", "8.3.2", "--entry", "1:pxe"}));
    ASSERT_TRUE(WriteNvram(server, "p2.nvram",
                           {"--pci", "1234-ABCD-5678-0002", "--mac", "0A1B2C3D4E60", "--bootcode",
                            "4.6.1", "--preboot", "2.1.0", "--ump", "1.1.9", "--entry", "3:pxe",
                            "--entry", "1:iscsi"}));
    ASSERT_TRUE(WriteNvram(server, "p3.nvram",
                           {"--pci", "1234-ABCD-5678-0006", "--mac", "0A1B2C3D4E71", "--bootcode",
                            "6.2.14", "--preboot", "1.0.0", "--ump", "2.0", "--entry", "2:clp",
                            "--entry", "1:iscsi"}));
    ASSERT_TRUE(WriteNvram(server, "p4.nvram",
                           {"--pci", "1234-ABCD-5678-0007", "--mac", "0A1B2C3D4E72", "--bootcode",
                            "6.2.14", "--preboot", "3.4.5", "--entry", "1:clp"}));
    RunResult r = RunAgainst(server, {"-c"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, Console("0 0A1B2C3D4E5F 1234-ABCD-5678-0001 5 0 3 8 3 2 - - - - - - - - - - - "
                             "-  Gigabit Server Adapter (port 1) \n"
                             "1 0A1B2C3D4E60 1234-ABCD-5678-0002 4 6 1 - - - 1 1 9 - - - 2 1 0 - - "
                             "-  Gigabit Server Adapter (port 2) \n"
                             "2 0A1B2C3D4E71 1234-ABCD-5678-0006 6 2 14 - - - 2 2 0 - - - 1 0 0 1 "
                             "0 0  Gigabit Server Adapter (port 3) \n"
                             "3 0A1B2C3D4E72 1234-ABCD-5678-0007 6 2 14 - - - - - - 3 4 5 - - - - "
                             "- -  Gigabit Server Adapter (port 4) \n"));
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(LibraryClosed(calls_));
    for (const char *dropped : {"12289", "4099", "8193"}) {
        EXPECT_EQ(CallsOf(calls_, "OmbriGetNicInfo", dropped).size(), 1u) << dropped;
        for (const char *op : {"OmbriGetNicAuxInfo", "OmbriInitDiag", "OmbriGetTernFwInfo",
                               "OmbriReadFirmware", "OmbriUnInitDiag"}) {
            EXPECT_EQ(CallsOf(calls_, op, dropped).size(), 0u) << op << " " << dropped;
        }
    }
    for (const char *kept : {"4097", "4098", "4100", "4101"}) {
        EXPECT_EQ(CallsOf(calls_, "OmbriGetNicAuxInfo", kept).size(), 1u) << kept;
        EXPECT_EQ(CallsOf(calls_, "OmbriInitDiag", kept).size(), 1u) << kept;
        EXPECT_EQ(CallsOf(calls_, "OmbriUnInitDiag", kept).size(), 1u) << kept;
    }
}

// ---------------------------------------------------------------------------
// The library version bound: 7.6.1 and everything later.

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
    SimServer server = MakeServer(ServerDir(), c.version,
                                  {"handle=4097 desc=\"Gigabit Server Adapter\" nvram=port.nvram"});
    ASSERT_TRUE(WriteNvram(server, "port.nvram",
                           {"--pci", "1234-ABCD-5678-0001", "--mac", "0A1B2C3D4E5F", "--bootcode",
                            "5.0.3", "--preboot", "8.3.2", "--entry", "1:pxe"}));
    RunResult r = RunAgainst(server, {"-c"});
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(LibraryClosed(calls_));
    if (c.accepted) {
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.out, Console("0 0A1B2C3D4E5F 1234-ABCD-5678-0001 5 0 3 8 3 2 - - - - - - - - - "
                                 "- - -  Gigabit Server Adapter \n"));
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
    for (char &ch : name) {
        if (ch == '.') {
            ch = '_';
        }
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Report, ReportVersionTest, ::testing::ValuesIn(kVersionCases),
                         VersionCaseName);

// ---------------------------------------------------------------------------
// Nothing to report, and a library that does not initialise.

TEST_F(ReportTest, NoAdapterAtAllPrintsNothing) {
    SimServer server = MakeServer(ServerDir(), "7.6.1", {});
    for (const char *debug : {"", "-debug"}) {
        std::vector<std::string> args = {"-c"};
        if (debug[0] != '\0') {
            args.push_back(debug);
        }
        RunResult r = RunAgainst(server, args);
        EXPECT_EQ(r.exit_code, 3) << debug;
        EXPECT_EQ(r.out, "") << debug;
        EXPECT_EQ(r.err, "") << debug;
        EXPECT_TRUE(LibraryClosed(calls_)) << debug;
        EXPECT_EQ(CallsOf(calls_, "OmbriGetAllPhyNicHandles").size(), 0u) << debug;
    }
}

TEST_F(ReportTest, NoSupportedAdapterPrintsNothing) {
    SimServer server =
        MakeServer(ServerDir(), "7.6.1",
                   {"handle=12289 type=2 desc=\"Fast Ethernet Adapter\" mac=001122334455 "
                    "pci=1111-2222-3333-4444",
                    "handle=4097 flags=1 desc=\"Gigabit Server Adapter\" nvram=port.nvram",
                    "handle=4098 type=0 desc=\"Gigabit Server Adapter\" nvram=port.nvram",
                    "handle=4099 flags=3 desc=\"Gigabit Server Adapter\" nvram=port.nvram"});
    ASSERT_TRUE(WriteNvram(server, "port.nvram",
                           {"--pci", "1234-ABCD-5678-0001", "--mac", "0A1B2C3D4E5F", "--bootcode",
                            "5.0.3", "--preboot", "8.3.2", "--entry", "1:pxe"}));
    RunResult r = RunAgainst(server, {"-c"});
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(LibraryClosed(calls_));
    EXPECT_EQ(CallsOf(calls_, "OmbriGetNicInfo").size(), 4u);
    EXPECT_EQ(CallsOf(calls_, "OmbriGetNicAuxInfo").size(), 0u);
    EXPECT_EQ(CallsOf(calls_, "OmbriInitDiag").size(), 0u);
}

TEST_F(ReportTest, InitialisationFailureIsOnlyADebugLine) {
    SimServer server = MakeServer(ServerDir(), "7.6.1",
                                  {"handle=4097 desc=\"Gigabit Server Adapter\" nvram=port.nvram"});
    ASSERT_TRUE(WriteNvram(server, "port.nvram", {"--bootcode", "5.0.3"}));
    const char *faults = "OmbriInitializeEx status=42";
    RunResult quiet = RunAgainst(server, {"-c"}, faults);
    EXPECT_EQ(quiet.exit_code, 0);
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(quiet.err, "");
    RunResult debug = RunAgainst(server, {"-debug", "-c"}, faults);
    EXPECT_EQ(debug.exit_code, 0);
    EXPECT_EQ(debug.out, "");
    EXPECT_EQ(debug.err, Console("OmbriInitializeEx() failed 42\r\n"));
    // Nothing after the failed initialisation.
    ASSERT_EQ(calls_.size(), 2u);
    EXPECT_EQ(calls_[0].op, "OmbriGetVersion");
    EXPECT_EQ(calls_[1].op, "OmbriInitializeEx");
    EXPECT_TRUE(calls_[1].injected);
}

// ---------------------------------------------------------------------------
// The adapter library itself missing, or lacking an operation: the program
// lies alone (or beside that library) in a directory of its own.

// Also when a library of that name, which would leave a mark if it were
// loaded, lies in the current directory or in a folder on the search path
// (PATH, for Wine WINEPATH; natively LD_LIBRARY_PATH).
TEST_F(ReportTest, MissingLibraryIsOneLine) {
    const std::string planted = TargetBuildDir() + "/planted/" + TargetLibraryName();
    ASSERT_TRUE(FileExists(planted)) << planted << " is missing: build the target OMBRIa_planted";
    for (const char *plant : {"", "current", "path"}) {
        SCOPED_TRACE(std::string("planted: ") + plant);
        const std::string dir = work_ + "/alone" + plant;
        const std::string other = work_ + "/plant" + plant;
        mkdir(dir.c_str(), 0755);
        mkdir(other.c_str(), 0755);
        std::string program = dir + "/" + TargetProgram().substr(TargetProgram().rfind('/') + 1);
        ASSERT_TRUE(CopyFile(TargetProgram(), program));
        SimServer server = MakeServer(
            ServerDir(), "7.6.1", {"handle=4097 desc=\"Gigabit Server Adapter\" nvram=port.nvram"});
        ASSERT_TRUE(WriteNvram(server, "port.nvram", {"--bootcode", "5.0.3"}));
        std::remove(server.call_log.c_str());
        RunSpec spec;
        spec.args = {"-c"};
        spec.env = SimEnv(server);
        if (*plant != '\0') {
            ASSERT_TRUE(CopyFile(planted, other + "/" + TargetLibraryName()));
        }
        if (std::string(plant) == "current") {
            spec.cwd = other;
        } else if (std::string(plant) == "path") {
            std::string wine_dir = "Z:" + other;
            std::replace(wine_dir.begin(), wine_dir.end(), '/', '\\');
            spec.env.push_back(IsWindowsTarget() ? "WINEPATH=" + wine_dir
                                                 : "LD_LIBRARY_PATH=" + other);
        }
        RunResult r = RunProgramCopy(program, spec);
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.out, Console("Cannot load the adapter library OMBRIa.DLL.\r\n"));
        EXPECT_EQ(r.err, "");
        EXPECT_FALSE(FileExists(server.call_log));
        EXPECT_FALSE(FileExists(other + "/planted-library-loaded")) << "the planted library ran";
    }
}

// The same line on a terminal (native only: the colour is an ANSI sequence
// there, a console attribute on Windows): red, then back to grey. The
// terminal turns "\n" into "\r\n".
TEST_F(ReportTest, MissingLibraryLineIsRedOnATerminal) {
    if (IsWindowsTarget() || !FileExists("/usr/bin/script")) {
        GTEST_SKIP() << "needs the native target and script(1) for a pseudo-terminal";
    }
    std::string dir = work_ + "/alone";
    mkdir(dir.c_str(), 0755);
    ASSERT_TRUE(CopyFile(TargetProgram(), dir + "/lanrefit"));
    RunSpec spec;
    spec.args = {"-qec", "./lanrefit -c", "/dev/null"};
    spec.cwd = dir;
    RunResult r = RunHost("/usr/bin/script", spec);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "\033[1;31mCannot load the adapter library OMBRIa.DLL.\r\r\n\033[0m");
}

TEST_F(ReportTest, LibraryWithoutAnOperationIsOneLine) {
    std::string partial = TargetBuildDir() + "/partial/" + TargetLibraryName();
    ASSERT_TRUE(FileExists(partial)) << partial << " is missing: build the target OMBRIa_partial";
    std::string dir = work_ + "/partial";
    mkdir(dir.c_str(), 0755);
    std::string program = dir + "/" + TargetProgram().substr(TargetProgram().rfind('/') + 1);
    ASSERT_TRUE(CopyFile(TargetProgram(), program));
    ASSERT_TRUE(CopyFile(partial, dir + "/" + TargetLibraryName()));
    SimServer server = MakeServer(ServerDir(), "7.6.1",
                                  {"handle=4097 desc=\"Gigabit Server Adapter\" nvram=port.nvram"});
    ASSERT_TRUE(WriteNvram(server, "port.nvram", {"--bootcode", "5.0.3"}));
    std::remove(server.call_log.c_str());
    RunSpec spec;
    spec.args = {"-c"};
    spec.env = SimEnv(server);
    RunResult r = RunProgramCopy(program, spec);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, Console("The adapter library OMBRIa.DLL has no operation OmbriGetTernFwInfo "
                             "(ordinal 104).\r\n"));
    EXPECT_EQ(r.err, "");
    // Not one operation was called: the binding is checked whole first.
    EXPECT_FALSE(FileExists(server.call_log));
}

// ---------------------------------------------------------------------------
// Injected faults past the library's start: what the report still shows.

struct FaultCase {
    const char *name;
    std::string faults;
    std::string out;   // expected standard output (before Console())
    std::string debug; // expected standard error with -debug
};

// Port 0 (handle 4097): boot code 5.0.3, PXE 8.3.2, UMP 1.2.0.
// Port 1 (handle 4098): boot code 4.6.1, CLP then PXE, pre-boot text 3.1.4.
// Port 2 (handle 4099): boot code 6.2.14, iSCSI 2.1.0.
const char kLine0[] = "0 0A1B2C3D4E5F 1234-ABCD-5678-0001 5 0 3 8 3 2 1 2 0 - - - - - - - - -  "
                      "Gigabit Server Adapter (port 1) \n";
const char kLine1[] = "1 0A1B2C3D4E60 1234-ABCD-5678-0002 4 6 1 3 1 4 - - - - - - - - - - - -  "
                      "Gigabit Server Adapter (port 2) \n";
const char kLine2[] = "2 0A1B2C3D4E71 1234-ABCD-5678-0006 6 2 14 - - - - - - - - - 2 1 0 - - -  "
                      "Gigabit Server Adapter (port 3) \n";

const FaultCase kFaultCases[] = {
    {"ReadFailsFromTheFourthReadOfPort1", "OmbriReadFirmware status=7 adapter=4098 from=4",
     std::string("Failed to read NVRAM!\r\n") + kLine0 +
         "1 0A1B2C3D4E60 1234-ABCD-5678-0002 4 6 1 - - - - - - - - - - - - - - -  Gigabit Server "
         "Adapter (port 2) \n" +
         kLine2,
     "OmbriReadFirmware() failed 7\r\n"},
    {"ReadFailsAfterTheClpMatch", "OmbriReadFirmware status=7 adapter=4098 at=7",
     std::string("Failed to read NVRAM!\r\n") + kLine0 +
         "1 0A1B2C3D4E60 1234-ABCD-5678-0002 4 6 1 - - - - - - 3 1 4 - - - - - -  Gigabit Server "
         "Adapter (port 2) \n" +
         kLine2,
     "OmbriReadFirmware() failed 7\r\n"},
    {"InitDiagFailsForPort1", "OmbriInitDiag status=5 adapter=4098",
     std::string(kLine0) + ZeroReportLine(1) + ZeroReportLine(2), "OmbriInitDiag() failed 5\r\n"},
    {"InitDiagFailsForPort0", "OmbriInitDiag status=5 adapter=4097",
     ZeroReportLine(0) + ZeroReportLine(1) + ZeroReportLine(2), "OmbriInitDiag() failed 5\r\n"},
    {"TernFwInfoFails", "OmbriGetTernFwInfo status=6 adapter=4098",
     std::string(kLine0) +
         "1 0A1B2C3D4E60 1234-ABCD-5678-0002 0 0 0 - - - - - - - - - - - - - - -  Gigabit Server "
         "Adapter (port 2) \n" +
         kLine2,
     "OmbriGetTernFwInfo() failed 6\r\n"},
    {"UnInitDiagFails", "OmbriUnInitDiag status=8 adapter=4097",
     std::string(kLine0) + kLine1 + kLine2, "OmbriUnInitDiag() failed 8\r\n"},
    {"AuxInfoFailsDropsThePort", "OmbriGetNicAuxInfo status=3 adapter=4098",
     std::string(kLine0) +
         "1 0A1B2C3D4E71 1234-ABCD-5678-0006 6 2 14 - - - - - - - - - 2 1 0 - - -  Gigabit Server "
         "Adapter (port 3) \n",
     ""},
    {"NicInfoFailsDropsThePort", "OmbriGetNicInfo status=3 adapter=4097",
     "0 0A1B2C3D4E60 1234-ABCD-5678-0002 4 6 1 3 1 4 - - - - - - - - - - - -  Gigabit Server "
     "Adapter (port 2) \n"
     "1 0A1B2C3D4E71 1234-ABCD-5678-0006 6 2 14 - - - - - - - - - 2 1 0 - - -  Gigabit Server "
     "Adapter (port 3) \n",
     ""},
    {"UninitializeFails", "OmbriUninitialize status=4", std::string(kLine0) + kLine1 + kLine2, ""},
};

void PrintTo(const FaultCase &c, std::ostream *os) {
    *os << c.name;
}

class ReportFaultTest : public SimE2eTest, public ::testing::WithParamInterface<FaultCase> {
  protected:
    SimServer ThreePorts() {
        SimServer server =
            MakeServer(ServerDir(), "7.6.1",
                       {"handle=4097 desc=\"Gigabit Server Adapter (port 1)\" nvram=p1.nvram",
                        "handle=4098 desc=\"Gigabit Server Adapter (port 2)\" nvram=p2.nvram",
                        "handle=4099 desc=\"Gigabit Server Adapter (port 3)\" nvram=p3.nvram"});
        WriteNvram(server, "p1.nvram",
                   {"--pci", "1234-ABCD-5678-0001", "--mac", "0A1B2C3D4E5F", "--bootcode", "5.0.3",
                    "--preboot", "8.3.2", "--ump", "1.2.0", "--entry", "1:pxe"});
        WriteNvram(server, "p2.nvram",
                   {"--pci", "1234-ABCD-5678-0002", "--mac", "0A1B2C3D4E60", "--bootcode", "4.6.1",
                    "--preboot", "3.1.4", "--entry", "1:clp", "--entry", "1:pxe"});
        WriteNvram(server, "p3.nvram",
                   {"--pci", "1234-ABCD-5678-0006", "--mac", "0A1B2C3D4E71", "--bootcode", "6.2.14",
                    "--preboot", "2.1.0", "--entry", "1:iscsi"});
        return server;
    }
};

TEST_P(ReportFaultTest, ReportsWhatIsLeftAndClosesTheLibrary) {
    const FaultCase &c = GetParam();
    SimServer server = ThreePorts();
    ASSERT_FALSE(HasFailure());

    RunResult quiet = RunAgainst(server, {"-c"}, c.faults);
    EXPECT_EQ(quiet.exit_code, 1);
    EXPECT_EQ(quiet.out, Console(c.out));
    EXPECT_EQ(quiet.err, "");
    EXPECT_TRUE(LibraryClosed(calls_));
    std::vector<SimCall> quiet_calls = calls_;

    RunResult debug = RunAgainst(server, {"-c", "-debug"}, c.faults);
    EXPECT_EQ(debug.exit_code, 1);
    EXPECT_EQ(debug.out, Console(c.out));
    EXPECT_EQ(debug.err, Console(c.debug));
    EXPECT_TRUE(LibraryClosed(calls_));

    // -debug changes nothing in what the library is asked.
    ASSERT_EQ(calls_.size(), quiet_calls.size());
    for (size_t i = 0; i < calls_.size(); i++) {
        EXPECT_EQ(calls_[i].line, quiet_calls[i].line);
    }
}

std::string FaultCaseName(const ::testing::TestParamInfo<FaultCase> &info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Report, ReportFaultTest, ::testing::ValuesIn(kFaultCases), FaultCaseName);

// The library calls behind the fault cases that the output alone cannot show.
class ReportFaultCallsTest : public ReportFaultTest {};

TEST_F(ReportFaultCallsTest, InitDiagFailureStopsTheTableAtThatPort) {
    SimServer server = ThreePorts();
    RunAgainst(server, {"-c"}, "OmbriInitDiag status=5 adapter=4098");
    EXPECT_EQ(CallsOf(calls_, "OmbriInitDiag", "4098").size(), 1u);
    EXPECT_EQ(CallsOf(calls_, "OmbriGetTernFwInfo", "4098").size(), 0u);
    EXPECT_EQ(CallsOf(calls_, "OmbriReadFirmware", "4098").size(), 0u);
    EXPECT_EQ(CallsOf(calls_, "OmbriUnInitDiag", "4098").size(), 0u);
    for (const char *op : {"OmbriInitDiag", "OmbriGetTernFwInfo", "OmbriReadFirmware"}) {
        EXPECT_EQ(CallsOf(calls_, op, "4099").size(), 0u) << op;
    }
    EXPECT_EQ(CallsOf(calls_, "OmbriUnInitDiag", "4097").size(), 1u);
}

TEST_F(ReportFaultCallsTest, ReadFailureEndsThatPortsScanOnly) {
    SimServer server = ThreePorts();
    RunAgainst(server, {"-c"}, "OmbriReadFirmware status=7 adapter=4098 from=4");
    std::vector<SimCall> reads = CallsOf(calls_, "OmbriReadFirmware", "4098");
    ASSERT_EQ(reads.size(), 4u);
    EXPECT_TRUE(reads[3].injected);
    EXPECT_EQ(CallsOf(calls_, "OmbriUnInitDiag", "4098").size(), 1u);
    EXPECT_EQ(CallsOf(calls_, "OmbriReadFirmware", "4099").size(), 5u);
}

TEST_F(ReportFaultCallsTest, TernFwInfoFailureReadsNoNvram) {
    SimServer server = ThreePorts();
    RunAgainst(server, {"-c"}, "OmbriGetTernFwInfo status=6 adapter=4098");
    EXPECT_EQ(CallsOf(calls_, "OmbriReadFirmware", "4098").size(), 0u);
    EXPECT_EQ(CallsOf(calls_, "OmbriUnInitDiag", "4098").size(), 1u);
}

} // namespace
