// Fault sweep of the -c report: on a simulated server with two supported
// adapters (and one of another kind between them), the library call number n
// fails, for every n from the first call to the last one of a clean run. Each
// run must end with a report exit code, without a crash or sanitizer report,
// silent on standard error unless -debug is given, with the library closed,
// and with exactly the output that the failing call implies.
#include "sim_server.h"

#include <map>

namespace {

constexpr unsigned long kStatus = 9; // the status every injected fault returns
const char kNone[] = "- - - ";

// One supported port's line, by column, as the clean run shows it.
struct PortLine {
    std::string handle;
    std::string identity; // MAC text and PCI identity: "0A1B2C3D4E5F 1234-ABCD-5678-0001"
    std::string bootcode; // "5 0 3 "
    std::string pxe, ump, clp, iscsi, stub;
    std::string desc;
    // Reads of this port after which its scan has matched the CLP image
    // (0: the port has no CLP image before its PXE image).
    size_t clp_after_reads;
};

std::string Format(int index, const PortLine &p) {
    return std::to_string(index) + " " + p.identity + " " + p.bootcode + p.pxe + p.ump + p.clp +
           p.iscsi + p.stub + " " + p.desc + " \n";
}

// Port A, handle 4097: boot code 5.0.3, UMP 1.2.0, PXE 8.3.2 after an entry of type 2.
// Port B, handle 4098: boot code 4.6.1, a CLP image then a PXE image, pre-boot text 3.1.4.
const std::vector<PortLine> kPorts = {
    {"4097", "0A1B2C3D4E5F 1234-ABCD-5678-0001", "5 0 3 ", "8 3 2 ", "1 2 0 ", kNone, kNone, kNone,
     "Gigabit Server Adapter (port 1)", 0},
    // The CLP image is entry 0: word, offset, +32, +32, +36, +40.
    {"4098", "0A1B2C3D4E60 1234-ABCD-5678-0002", "4 6 1 ", "3 1 4 ", kNone, kNone, kNone, kNone,
     "Gigabit Server Adapter (port 2)", 6},
};

const SimLayout kSweepServer = {
    {"handle=4097 desc=\"Gigabit Server Adapter (port 1)\" nvram=a.nvram",
     "handle=12289 type=2 desc=\"Fast Ethernet Adapter\" mac=001122334455 "
     "pci=1111-2222-3333-4444",
     "handle=4098 desc=\"Gigabit Server Adapter (port 2)\" nvram=b.nvram"},
    {"a.nvram --pci 1234-ABCD-5678-0001 --mac 0A1B2C3D4E5F --bootcode 5.0.3 --preboot 8.3.2 "
     "--ump 1.2.0 --entry 2:pxe --entry 1:pxe",
     "b.nvram --pci 1234-ABCD-5678-0002 --mac 0A1B2C3D4E60 --bootcode 4.6.1 --preboot 3.1.4 "
     "--entry 1:clp --entry 1:pxe"}};

struct Outcome {
    int exit_code;
    std::string out;   // before Console()
    std::string debug; // standard error with -debug, before Console()
};

std::string Lines(const std::vector<PortLine> &ports) {
    std::string out;
    for (size_t i = 0; i < ports.size(); i++) {
        out += Format(static_cast<int>(i), ports[i]);
    }
    return out;
}

// What the report shows when call FAILING of the clean run fails.
Outcome Expected(const std::vector<SimCall> &clean, size_t failing) {
    const SimCall &call = clean[failing - 1];
    const std::string &op = call.op;
    const std::string handle = SimCallArg(call, "handle");
    std::vector<PortLine> ports = kPorts;
    int port = -1;
    for (size_t i = 0; i < ports.size(); i++) {
        if (ports[i].handle == handle) {
            port = static_cast<int>(i);
        }
    }
    std::string failed = op + "() failed " + std::to_string(kStatus) + "\r\n";

    if (op == "OmbriGetVersion") {
        // Nothing is filled in: version 0.0.0, refused.
        return {3, "Unsupported OMBRI version 0.0.0.\r\nExpect OMBRI version 7.6.1 or later.\r\n",
                ""};
    }
    if (op == "OmbriInitializeEx") {
        return {0, "", failed};
    }
    if (op == "OmbriGetNumPhyNicEx" || op == "OmbriGetAllPhyNicHandles") {
        return {3, "", failed};
    }
    if (op == "OmbriGetNicInfo" || op == "OmbriGetNicAuxInfo") {
        // That adapter is dropped silently (the other kind was dropped anyway).
        if (port >= 0) {
            ports.erase(ports.begin() + port);
        }
        return {1, Lines(ports), ""};
    }
    if (op == "OmbriInitDiag") {
        // The table stops at that port: its record and the later ones stay zero.
        std::string out;
        for (int i = 0; i < static_cast<int>(ports.size()); i++) {
            out += i < port ? Format(i, ports[i]) : ZeroReportLine(i);
        }
        return {1, out, failed};
    }
    if (op == "OmbriGetTernFwInfo") {
        PortLine &p = ports[port];
        p.bootcode = "0 0 0 ";
        p.pxe = p.ump = p.clp = p.iscsi = p.stub = kNone;
        return {1, Lines(ports), failed};
    }
    if (op == "OmbriReadFirmware") {
        // The scan ends at the failed read with what it found so far.
        size_t reads = 0;
        for (size_t i = 0; i < failing; i++) {
            if (clean[i].op == op && SimCallArg(clean[i], "handle") == handle) {
                reads++;
            }
        }
        PortLine &p = ports[port];
        std::string text = p.pxe;
        p.pxe = kNone;
        if (p.clp_after_reads != 0 && reads > p.clp_after_reads) {
            p.clp = text;
        }
        return {1, "Failed to read NVRAM!\r\n" + Lines(ports), failed};
    }
    if (op == "OmbriUnInitDiag") {
        return {1, Lines(ports), failed};
    }
    if (op == "OmbriUninitialize") {
        return {1, Lines(ports), ""};
    }
    ADD_FAILURE() << "unexpected library call " << call.line;
    return {-2, "", ""};
}

class FaultSweepTest : public SimE2eTest, public ::testing::WithParamInterface<bool> {};

TEST_P(FaultSweepTest, EveryLibraryCallFailingInTurn) {
    const bool debug = GetParam();
    std::vector<std::string> args = {"-c"};
    if (debug) {
        args.push_back("-debug");
    }
    SimServer server = LayOutServer(ServerDir(), "7.6.1", kSweepServer);
    ASSERT_FALSE(HasFailure());

    RunResult clean_run = RunAgainst(server, args);
    ASSERT_EQ(clean_run.exit_code, 1) << clean_run.err;
    ASSERT_EQ(clean_run.out, Console(Lines(kPorts)));
    ASSERT_EQ(clean_run.err, "");
    ASSERT_TRUE(LibraryClosed(calls_));
    const std::vector<SimCall> clean = calls_;
    // 4 start-up calls, 5 inventory queries, per port: diagnostic mode on and
    // off, the version texts and its reads (4 and 9), and the close.
    ASSERT_EQ(clean.size(), 29u);

    std::map<std::string, int> swept;
    for (size_t n = 1; n <= clean.size(); n++) {
        SCOPED_TRACE("call " + std::to_string(n) + " failing: " + clean[n - 1].line);
        RunResult r = RunAgainst(server, args, "any status=9 at=" + std::to_string(n));
        swept[clean[n - 1].op]++;

        // Whatever fails: a report exit code, no crash, no sanitizer report.
        EXPECT_NE(r.exit_code, -1) << "the program did not end normally";
        EXPECT_TRUE(r.exit_code == 0 || r.exit_code == 1 || r.exit_code == 3) << r.exit_code;
        EXPECT_TRUE(NoRuntimeReport(r.err));
        EXPECT_TRUE(LibraryClosed(calls_));

        // The run is the clean one up to the failing call, which failed.
        ASSERT_GE(calls_.size(), n);
        for (size_t i = 0; i + 1 < n; i++) {
            EXPECT_EQ(calls_[i].line, clean[i].line);
        }
        EXPECT_EQ(calls_[n - 1].op, clean[n - 1].op);
        EXPECT_TRUE(calls_[n - 1].injected) << calls_[n - 1].line;
        EXPECT_EQ(calls_[n - 1].status, kStatus);

        Outcome expected = Expected(clean, n);
        EXPECT_EQ(r.exit_code, expected.exit_code);
        EXPECT_EQ(r.out, Console(expected.out));
        EXPECT_EQ(r.err, debug ? Console(expected.debug) : "");
    }
    // Every kind of call was made to fail at least once.
    EXPECT_EQ(swept.size(), 11u);
}

std::string ModeName(const ::testing::TestParamInfo<bool> &info) {
    return info.param ? "debug" : "quiet";
}

INSTANTIATE_TEST_SUITE_P(FaultSweep, FaultSweepTest, ::testing::Bool(), ModeName);

} // namespace
