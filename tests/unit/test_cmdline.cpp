// The command line: option forms, trailing arguments and the mode decision.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/runflags.h"

namespace {

struct ParseCase {
    std::vector<std::string> args; // without the program name
    int mode;
    uint32_t flags;              // RunFlags after the parse
    const char *mac = nullptr;   // expected MacFilterArg, null for none
    const char *file = nullptr;  // expected RestoreFileArg
    const char *image = nullptr; // expected ImageFileArg
    int exit_code = 0;           // only for MODE_USAGE
};

struct ParseResult {
    int mode;
    int exit_code;
};

ParseResult Parse(const std::vector<std::string> &args) {
    RunFlags = 0;
    ImageFileArg = MacFilterArg = RestoreFileArg = nullptr;
    static std::vector<std::string> storage;
    storage = args;
    storage.insert(storage.begin(), "lanrefit");
    static std::vector<char *> argv;
    argv.clear();
    for (std::string &s : storage) {
        argv.push_back(&s[0]);
    }
    argv.push_back(nullptr);
    int exit_code = -1;
    int mode = ParseCommandLine(static_cast<int>(storage.size()), argv.data(), &exit_code);
    return {mode, exit_code};
}

std::string Text(const char *p) {
    return p == nullptr ? "(null)" : p;
}

const ParseCase kCases[] = {
    {{}, MODE_UPGRADE, 0},
    // every form of every option, in both spellings and in other cases
    {{"-debug"}, MODE_UPGRADE, RUN_DEBUG},
    {{"/DEBUG"}, MODE_UPGRADE, RUN_DEBUG},
    {{"-DeBuG"}, MODE_UPGRADE, RUN_DEBUG},
    {{"-c"}, MODE_REPORT_INSTALLED, RUN_REPORT_INSTALLED},
    {{"/C"}, MODE_REPORT_INSTALLED, RUN_REPORT_INSTALLED},
    {{"-s"}, MODE_UPGRADE, RUN_SILENT},
    {{"-S"}, MODE_UPGRADE, RUN_SILENT},
    {{"/s"}, MODE_UPGRADE, RUN_SILENT},
    {{"/S"}, MODE_UPGRADE, RUN_SILENT},
    {{"-s", "-f"}, MODE_UPGRADE, RUN_SILENT | RUN_FORCE},
    {{"/F", "/S"}, MODE_UPGRADE, RUN_SILENT | RUN_FORCE},
    {{"-p"}, MODE_UPGRADE, RUN_RESTORE},
    {{"/P"}, MODE_UPGRADE, RUN_RESTORE},
    {{"-l"}, MODE_UPGRADE, RUN_LIST},
    {{"/L"}, MODE_UPGRADE, RUN_LIST},
    {{"-a"}, MODE_UPGRADE, RUN_LIST_BACKUPS},
    {{"/A"}, MODE_UPGRADE, RUN_LIST_BACKUPS},
    {{"-m"}, MODE_UPGRADE, 0},
    {{"/M"}, MODE_UPGRADE, 0},
    {{"-N"}, MODE_UPGRADE, RUN_ADVISE_ONLY},
    {{"/n"}, MODE_UPGRADE, RUN_ADVISE_ONLY},
    {{"-e", "F"}, MODE_UPGRADE, RUN_RESTORE_FILE, nullptr, "F"},
    {{"/E", "F"}, MODE_UPGRADE, RUN_RESTORE_FILE, nullptr, "F"},
    {{"-o", "M"}, MODE_UPGRADE, RUN_ONLY_BC, "M"},
    {{"/O", "M"}, MODE_UPGRADE, RUN_ONLY_BC, "M"},
    {{"-x", "M"}, MODE_UPGRADE, RUN_ONLY_PXE, "M"},
    {{"/X", "M"}, MODE_UPGRADE, RUN_ONLY_PXE, "M"},
    {{"-u", "M"}, MODE_UPGRADE, RUN_ONLY_UMP, "M"},
    {{"/U", "M"}, MODE_UPGRADE, RUN_ONLY_UMP, "M"},
    {{"-b", "M"}, MODE_UPGRADE, RUN_ONLY_CLP, "M"},
    {{"/B", "M"}, MODE_UPGRADE, RUN_ONLY_CLP, "M"},
    {{"-d", "M"}, MODE_UPGRADE, RUN_ONLY_ISCSI, "M"},
    {{"/D", "M"}, MODE_UPGRADE, RUN_ONLY_ISCSI, "M"},
    {{"-g", "M"}, MODE_UPGRADE, RUN_ONLY_ISCSI_STUB, "M"},
    {{"/G", "M"}, MODE_UPGRADE, RUN_ONLY_ISCSI_STUB, "M"},
    {{"-I", "f.bin"}, MODE_REPORT_IMAGE, RUN_REPORT_IMAGE, nullptr, nullptr, "f.bin"},
    {{"/i", "f.bin"}, MODE_REPORT_IMAGE, RUN_REPORT_IMAGE, nullptr, nullptr, "f.bin"},
    // usage paths and their exit codes
    {{"-H"}, MODE_USAGE, 0, nullptr, nullptr, nullptr, 1},
    {{"/h"}, MODE_USAGE, 0, nullptr, nullptr, nullptr, 1},
    {{"-q"}, MODE_USAGE, 0},
    {{"-debugx"}, MODE_USAGE, 0},
    {{"--debug"}, MODE_USAGE, 0},
    {{"debug"}, MODE_USAGE, 0},
    {{""}, MODE_USAGE, 0},
    {{"-"}, MODE_USAGE, 0},
    {{"-f"}, MODE_USAGE, RUN_FORCE},
    {{"-p", "-s"}, MODE_USAGE, RUN_RESTORE | RUN_SILENT},
    {{"-p", "-s", "-f"}, MODE_USAGE, RUN_RESTORE | RUN_SILENT | RUN_FORCE},
    // the first deciding argument ends the parse
    {{"-H", "-bad"}, MODE_USAGE, 0, nullptr, nullptr, nullptr, 1},
    {{"-bad", "-H"}, MODE_USAGE, 0},
    {{"-s", "-bad", "-H"}, MODE_USAGE, RUN_SILENT},
    {{"-s", "-H", "-c"}, MODE_USAGE, RUN_SILENT, nullptr, nullptr, nullptr, 1},
    // -I takes the next argument whatever it is
    {{"-I"}, MODE_USAGE, 0},
    {{"-I", "-s"}, MODE_REPORT_IMAGE, RUN_REPORT_IMAGE, nullptr, nullptr, "-s"},
    {{"-I", "-H"}, MODE_REPORT_IMAGE, RUN_REPORT_IMAGE, nullptr, nullptr, "-H"},
    {{"-I", "a", "-I", "b"}, MODE_REPORT_IMAGE, RUN_REPORT_IMAGE, nullptr, nullptr, "b"},
    {{"-I", "F", "-l"}, MODE_USAGE, RUN_REPORT_IMAGE | RUN_LIST, nullptr, nullptr, "F"},
    {{"-I", "F", "-p"}, MODE_USAGE, RUN_REPORT_IMAGE | RUN_RESTORE, nullptr, nullptr, "F"},
    {{"-I", "F", "-f"}, MODE_USAGE, RUN_REPORT_IMAGE | RUN_FORCE, nullptr, nullptr, "F"},
    {{"-I", "F", "-debug"}, MODE_REPORT_IMAGE, RUN_REPORT_IMAGE | RUN_DEBUG, nullptr, nullptr, "F"},
    {{"-I", "F", "-N", "-a"},
     MODE_REPORT_IMAGE,
     RUN_REPORT_IMAGE | RUN_ADVISE_ONLY | RUN_LIST_BACKUPS,
     nullptr,
     nullptr,
     "F"},
    // the MAC of a per-component option is the last argument
    {{"-o"}, MODE_USAGE, RUN_ONLY_BC},
    {{"-s", "-o", "M"}, MODE_UPGRADE, RUN_SILENT | RUN_ONLY_BC, "M"},
    {{"-o", "-s", "M"}, MODE_UPGRADE, RUN_SILENT | RUN_ONLY_BC, "M"},
    {{"-o", "M", "-s"}, MODE_USAGE, RUN_ONLY_BC},
    {{"-o", "-x", "M"}, MODE_UPGRADE, RUN_ONLY_BC | RUN_ONLY_PXE, "M"},
    {{"-o", "-H"}, MODE_UPGRADE, RUN_ONLY_BC, "-H"},
    {{"-o", "-e", "X"}, MODE_USAGE, RUN_ONLY_BC | RUN_RESTORE_FILE, "X"},
    {{"-e", "-o", "X"}, MODE_USAGE, RUN_ONLY_BC | RUN_RESTORE_FILE, "X"},
    {{"-e"}, MODE_USAGE, RUN_RESTORE_FILE},
    {{"-e", "F", "-s"}, MODE_USAGE, RUN_RESTORE_FILE},
    {{"-e", "-debug", "F"}, MODE_UPGRADE, RUN_RESTORE_FILE | RUN_DEBUG, nullptr, "F"},
    {{"-I", "img", "M"}, MODE_USAGE, RUN_REPORT_IMAGE, nullptr, nullptr, "img"},
    {{"-o", "-I", "img", "M"},
     MODE_REPORT_IMAGE,
     RUN_ONLY_BC | RUN_REPORT_IMAGE,
     "M",
     nullptr,
     "img"},
    // rows 1 and 2 come before the reports
    {{"-c", "-o"}, MODE_USAGE, RUN_REPORT_INSTALLED | RUN_ONLY_BC},
    {{"-c", "-e"}, MODE_USAGE, RUN_REPORT_INSTALLED | RUN_RESTORE_FILE},
    {{"-c", "-o", "M"}, MODE_REPORT_INSTALLED, RUN_REPORT_INSTALLED | RUN_ONLY_BC, "M"},
    // row 3: -c with a conflicting option
    {{"-c", "-s"}, MODE_USAGE, RUN_REPORT_INSTALLED | RUN_SILENT},
    {{"-c", "-l"}, MODE_USAGE, RUN_REPORT_INSTALLED | RUN_LIST},
    {{"-c", "-p"}, MODE_USAGE, RUN_REPORT_INSTALLED | RUN_RESTORE},
    {{"-s", "-f", "-c"}, MODE_USAGE, RUN_REPORT_INSTALLED | RUN_SILENT | RUN_FORCE},
    {{"-c", "-I", "F"}, MODE_USAGE, RUN_REPORT_INSTALLED | RUN_REPORT_IMAGE, nullptr, nullptr, "F"},
    {{"-c", "-debug"}, MODE_REPORT_INSTALLED, RUN_REPORT_INSTALLED | RUN_DEBUG},
    {{"-c", "-N"}, MODE_REPORT_INSTALLED, RUN_REPORT_INSTALLED | RUN_ADVISE_ONLY},
    {{"-c", "-a", "-m"}, MODE_REPORT_INSTALLED, RUN_REPORT_INSTALLED | RUN_LIST_BACKUPS},
    // rows 7 and 8
    {{"-p", "-f"}, MODE_USAGE, RUN_RESTORE | RUN_FORCE},
    {{"-f", "-l"}, MODE_USAGE, RUN_FORCE | RUN_LIST},
    {{"-p", "-l", "-debug"}, MODE_UPGRADE, RUN_RESTORE | RUN_LIST | RUN_DEBUG},
    {{"-s", "-N", "-a", "-l"},
     MODE_UPGRADE,
     RUN_SILENT | RUN_ADVISE_ONLY | RUN_LIST_BACKUPS | RUN_LIST},
};

void PrintTo(const ParseCase &c, std::ostream *os) {
    for (const std::string &a : c.args) {
        *os << a << ' ';
    }
}

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, ModeFlagsAndArguments) {
    const ParseCase &c = GetParam();
    ParseResult r = Parse(c.args);
    EXPECT_EQ(r.mode, c.mode);
    if (c.mode == MODE_USAGE) {
        EXPECT_EQ(r.exit_code, c.exit_code);
    }
    EXPECT_EQ(RunFlags, c.flags);
    EXPECT_EQ(Text(MacFilterArg), Text(c.mac));
    EXPECT_EQ(Text(RestoreFileArg), Text(c.file));
    EXPECT_EQ(Text(ImageFileArg), Text(c.image));
}

std::string CaseName(const ::testing::TestParamInfo<ParseCase> &info) {
    return "case" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(CommandLine, ParseTest, ::testing::ValuesIn(kCases), CaseName);

TEST(CommandLine, TrailingArgumentsPointIntoTheArgumentVector) {
    char prog[] = "lanrefit", opt[] = "-o", mac[] = "001122334455";
    char *argv[] = {prog, opt, mac, nullptr};
    RunFlags = 0;
    MacFilterArg = nullptr;
    int exit_code = 0;
    EXPECT_EQ(ParseCommandLine(3, argv, &exit_code), MODE_UPGRADE);
    EXPECT_EQ(MacFilterArg, mac);
}

} // namespace
