// The usage paths of the real program: text, exit code, silence under -s,
// nothing on standard error and no file written.
#include "harness.h"

namespace {

const char kUsage[] = "USAGE: lanrefit [ -s [ -f ] ] [ -p ]\r\n"
                      "\t Interactively upgrade Boot Code and PXE, current firmware is saved. \r\n"
                      "\t -s  Silently upgrade Boot Code and PXE.\r\n"
                      "\t -f  Force downgrade if system has newer Boot Code or PXE.\r\n"
                      "\t -p  Restore firmware image from previous upgrade.\r\n";

struct UsageCase {
    std::vector<std::string> args;
    bool shown; // false where -s came first
    int exit_code;
};

const UsageCase kCases[] = {
    {{"-H"}, true, 1},
    {{"/h"}, true, 1},
    {{"-H", "-nonsense"}, true, 1},
    {{"-nonsense", "-H"}, true, 0},
    {{"-debugging"}, true, 0},
    {{"-f"}, true, 0},
    {{"-p", "-f"}, true, 0},
    {{"-p", "-s"}, false, 0},
    {{"-s", "-bad"}, false, 0},
    {{"-bad", "-s"}, true, 0},
    {{"-s", "-H"}, false, 1},
    {{"-o"}, true, 0},
    {{"-o", "001122334455", "-s"}, true, 0},
    {{"-o", "-e", "file"}, true, 0},
    {{"-e"}, true, 0},
    {{"-I"}, true, 0},
    {{"-c", "-s"}, false, 0},
    {{"-c", "-l"}, true, 0},
    {{"-c", "-F"}, true, 0},
    {{"-c", "-p"}, true, 0},
    {{"-I", "image.bin", "-l"}, true, 0},
    {{"-I", "image.bin", "-c"}, true, 0},
    {{"-c", "-o"}, true, 0},
    {{"-debug", "-x"}, true, 0},
};

void PrintTo(const UsageCase &c, std::ostream *os) {
    for (const std::string &a : c.args) {
        *os << a << ' ';
    }
}

class UsageTest : public E2eTest, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(UsageTest, PrintsTheUsageTextAndExits) {
    const UsageCase &c = GetParam();
    RunResult r = Run(c.args);
    EXPECT_EQ(r.exit_code, c.exit_code);
    EXPECT_EQ(r.out, c.shown ? Console(kUsage) : "");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(FileExists(SystemDriveDir(work_) + "/VLMSYSTEM"));
}

std::string CaseName(const ::testing::TestParamInfo<UsageCase> &info) {
    return "case" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(Usage, UsageTest, ::testing::ValuesIn(kCases), CaseName);

} // namespace
