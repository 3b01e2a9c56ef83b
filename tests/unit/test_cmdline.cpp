// The command line: option forms, trailing arguments and the mode decision.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/runflags.h"

namespace {

struct ParseCase {
    std::vector<std::string> args; // without the program name
    int mode;
    int exit_code;     // only for MODE_USAGE
    uint32_t flags;    // RunFlags after the parse
    const char *mac;   // expected MacFilterArg, null for none
    const char *file;  // expected RestoreFileArg
    const char *image; // expected ImageFileArg
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
    {{}, MODE_UPGRADE, 0, 0, nullptr, nullptr, nullptr},
    // every form of every option, in both spellings and in other cases
    {{"-debug"}, MODE_UPGRADE, 0, RUN_DEBUG, nullptr, nullptr, nullptr},
    {{"/DEBUG"}, MODE_UPGRADE, 0, RUN_DEBUG, nullptr, nullptr, nullptr},
    {{"-DeBuG"}, MODE_UPGRADE, 0, RUN_DEBUG, nullptr, nullptr, nullptr},
    {{"-c"}, MODE_REPORT_INSTALLED, 0, RUN_REPORT_INSTALLED, nullptr, nullptr, nullptr},
    {{"/C"}, MODE_REPORT_INSTALLED, 0, RUN_REPORT_INSTALLED, nullptr, nullptr, nullptr},
    {{"-s"}, MODE_UPGRADE, 0, RUN_SILENT, nullptr, nullptr, nullptr},
    {{"-S"}, MODE_UPGRADE, 0, RUN_SILENT, nullptr, nullptr, nullptr},
    {{"/s"}, MODE_UPGRADE, 0, RUN_SILENT, nullptr, nullptr, nullptr},
    {{"/S"}, MODE_UPGRADE, 0, RUN_SILENT, nullptr, nullptr, nullptr},
    {{"-s", "-f"}, MODE_UPGRADE, 0, RUN_SILENT | RUN_FORCE, nullptr, nullptr, nullptr},
    {{"/F", "/S"}, MODE_UPGRADE, 0, RUN_SILENT | RUN_FORCE, nullptr, nullptr, nullptr},
    {{"-p"}, MODE_UPGRADE, 0, RUN_RESTORE, nullptr, nullptr, nullptr},
    {{"/P"}, MODE_UPGRADE, 0, RUN_RESTORE, nullptr, nullptr, nullptr},
    {{"-l"}, MODE_UPGRADE, 0, RUN_LIST, nullptr, nullptr, nullptr},
    {{"/L"}, MODE_UPGRADE, 0, RUN_LIST, nullptr, nullptr, nullptr},
    {{"-a"}, MODE_UPGRADE, 0, RUN_LIST_BACKUPS, nullptr, nullptr, nullptr},
    {{"/A"}, MODE_UPGRADE, 0, RUN_LIST_BACKUPS, nullptr, nullptr, nullptr},
    {{"-m"}, MODE_UPGRADE, 0, 0, nullptr, nullptr, nullptr},
    {{"/M"}, MODE_UPGRADE, 0, 0, nullptr, nullptr, nullptr},
    {{"-N"}, MODE_UPGRADE, 0, RUN_ADVISE_ONLY, nullptr, nullptr, nullptr},
    {{"/n"}, MODE_UPGRADE, 0, RUN_ADVISE_ONLY, nullptr, nullptr, nullptr},
    {{"-e", "F"}, MODE_UPGRADE, 0, RUN_RESTORE_FILE, nullptr, "F", nullptr},
    {{"/E", "F"}, MODE_UPGRADE, 0, RUN_RESTORE_FILE, nullptr, "F", nullptr},
    {{"-o", "M"}, MODE_UPGRADE, 0, RUN_ONLY_BC, "M", nullptr, nullptr},
    {{"/O", "M"}, MODE_UPGRADE, 0, RUN_ONLY_BC, "M", nullptr, nullptr},
    {{"-x", "M"}, MODE_UPGRADE, 0, RUN_ONLY_PXE, "M", nullptr, nullptr},
    {{"/X", "M"}, MODE_UPGRADE, 0, RUN_ONLY_PXE, "M", nullptr, nullptr},
    {{"-u", "M"}, MODE_UPGRADE, 0, RUN_ONLY_UMP, "M", nullptr, nullptr},
    {{"/U", "M"}, MODE_UPGRADE, 0, RUN_ONLY_UMP, "M", nullptr, nullptr},
    {{"-b", "M"}, MODE_UPGRADE, 0, RUN_ONLY_CLP, "M", nullptr, nullptr},
    {{"/B", "M"}, MODE_UPGRADE, 0, RUN_ONLY_CLP, "M", nullptr, nullptr},
    {{"-d", "M"}, MODE_UPGRADE, 0, RUN_ONLY_ISCSI, "M", nullptr, nullptr},
    {{"/D", "M"}, MODE_UPGRADE, 0, RUN_ONLY_ISCSI, "M", nullptr, nullptr},
    {{"-g", "M"}, MODE_UPGRADE, 0, RUN_ONLY_ISCSI_STUB, "M", nullptr, nullptr},
    {{"/G", "M"}, MODE_UPGRADE, 0, RUN_ONLY_ISCSI_STUB, "M", nullptr, nullptr},
    {{"-I", "f.bin"}, MODE_REPORT_IMAGE, 0, RUN_REPORT_IMAGE, nullptr, nullptr, "f.bin"},
    {{"/i", "f.bin"}, MODE_REPORT_IMAGE, 0, RUN_REPORT_IMAGE, nullptr, nullptr, "f.bin"},
    // usage paths and their exit codes
    {{"-H"}, MODE_USAGE, 1, 0, nullptr, nullptr, nullptr},
    {{"/h"}, MODE_USAGE, 1, 0, nullptr, nullptr, nullptr},
    {{"-q"}, MODE_USAGE, 0, 0, nullptr, nullptr, nullptr},
    {{"-debugx"}, MODE_USAGE, 0, 0, nullptr, nullptr, nullptr},
    {{"--debug"}, MODE_USAGE, 0, 0, nullptr, nullptr, nullptr},
    {{"debug"}, MODE_USAGE, 0, 0, nullptr, nullptr, nullptr},
    {{""}, MODE_USAGE, 0, 0, nullptr, nullptr, nullptr},
    {{"-"}, MODE_USAGE, 0, 0, nullptr, nullptr, nullptr},
    {{"-f"}, MODE_USAGE, 0, RUN_FORCE, nullptr, nullptr, nullptr},
    {{"-p", "-s"}, MODE_USAGE, 0, RUN_RESTORE | RUN_SILENT, nullptr, nullptr, nullptr},
    {{"-p", "-s", "-f"},
     MODE_USAGE,
     0,
     RUN_RESTORE | RUN_SILENT | RUN_FORCE,
     nullptr,
     nullptr,
     nullptr},
    // the first deciding argument ends the parse
    {{"-H", "-bad"}, MODE_USAGE, 1, 0, nullptr, nullptr, nullptr},
    {{"-bad", "-H"}, MODE_USAGE, 0, 0, nullptr, nullptr, nullptr},
    {{"-s", "-bad", "-H"}, MODE_USAGE, 0, RUN_SILENT, nullptr, nullptr, nullptr},
    {{"-s", "-H", "-c"}, MODE_USAGE, 1, RUN_SILENT, nullptr, nullptr, nullptr},
    // -I takes the next argument whatever it is
    {{"-I"}, MODE_USAGE, 0, 0, nullptr, nullptr, nullptr},
    {{"-I", "-s"}, MODE_REPORT_IMAGE, 0, RUN_REPORT_IMAGE, nullptr, nullptr, "-s"},
    {{"-I", "-H"}, MODE_REPORT_IMAGE, 0, RUN_REPORT_IMAGE, nullptr, nullptr, "-H"},
    {{"-I", "a", "-I", "b"}, MODE_REPORT_IMAGE, 0, RUN_REPORT_IMAGE, nullptr, nullptr, "b"},
    {{"-I", "F", "-l"}, MODE_USAGE, 0, RUN_REPORT_IMAGE | RUN_LIST, nullptr, nullptr, "F"},
    {{"-I", "F", "-p"}, MODE_USAGE, 0, RUN_REPORT_IMAGE | RUN_RESTORE, nullptr, nullptr, "F"},
    {{"-I", "F", "-f"}, MODE_USAGE, 0, RUN_REPORT_IMAGE | RUN_FORCE, nullptr, nullptr, "F"},
    {{"-I", "F", "-debug"},
     MODE_REPORT_IMAGE,
     0,
     RUN_REPORT_IMAGE | RUN_DEBUG,
     nullptr,
     nullptr,
     "F"},
    {{"-I", "F", "-N", "-a"},
     MODE_REPORT_IMAGE,
     0,
     RUN_REPORT_IMAGE | RUN_ADVISE_ONLY | RUN_LIST_BACKUPS,
     nullptr,
     nullptr,
     "F"},
    // the MAC of a per-component option is the last argument
    {{"-o"}, MODE_USAGE, 0, RUN_ONLY_BC, nullptr, nullptr, nullptr},
    {{"-s", "-o", "M"}, MODE_UPGRADE, 0, RUN_SILENT | RUN_ONLY_BC, "M", nullptr, nullptr},
    {{"-o", "-s", "M"}, MODE_UPGRADE, 0, RUN_SILENT | RUN_ONLY_BC, "M", nullptr, nullptr},
    {{"-o", "M", "-s"}, MODE_USAGE, 0, RUN_ONLY_BC, nullptr, nullptr, nullptr},
    {{"-o", "-x", "M"}, MODE_UPGRADE, 0, RUN_ONLY_BC | RUN_ONLY_PXE, "M", nullptr, nullptr},
    {{"-o", "-H"}, MODE_UPGRADE, 0, RUN_ONLY_BC, "-H", nullptr, nullptr},
    {{"-o", "-e", "X"}, MODE_USAGE, 0, RUN_ONLY_BC | RUN_RESTORE_FILE, "X", nullptr, nullptr},
    {{"-e", "-o", "X"}, MODE_USAGE, 0, RUN_ONLY_BC | RUN_RESTORE_FILE, "X", nullptr, nullptr},
    {{"-e"}, MODE_USAGE, 0, RUN_RESTORE_FILE, nullptr, nullptr, nullptr},
    {{"-e", "F", "-s"}, MODE_USAGE, 0, RUN_RESTORE_FILE, nullptr, nullptr, nullptr},
    {{"-e", "-debug", "F"}, MODE_UPGRADE, 0, RUN_RESTORE_FILE | RUN_DEBUG, nullptr, "F", nullptr},
    {{"-I", "img", "M"}, MODE_USAGE, 0, RUN_REPORT_IMAGE, nullptr, nullptr, "img"},
    {{"-o", "-I", "img", "M"},
     MODE_REPORT_IMAGE,
     0,
     RUN_ONLY_BC | RUN_REPORT_IMAGE,
     "M",
     nullptr,
     "img"},
    // rows 1 and 2 come before the reports
    {{"-c", "-o"}, MODE_USAGE, 0, RUN_REPORT_INSTALLED | RUN_ONLY_BC, nullptr, nullptr, nullptr},
    {{"-c", "-e"},
     MODE_USAGE,
     0,
     RUN_REPORT_INSTALLED | RUN_RESTORE_FILE,
     nullptr,
     nullptr,
     nullptr},
    {{"-c", "-o", "M"},
     MODE_REPORT_INSTALLED,
     0,
     RUN_REPORT_INSTALLED | RUN_ONLY_BC,
     "M",
     nullptr,
     nullptr},
    // row 3: -c with a conflicting option
    {{"-c", "-s"}, MODE_USAGE, 0, RUN_REPORT_INSTALLED | RUN_SILENT, nullptr, nullptr, nullptr},
    {{"-c", "-l"}, MODE_USAGE, 0, RUN_REPORT_INSTALLED | RUN_LIST, nullptr, nullptr, nullptr},
    {{"-c", "-p"}, MODE_USAGE, 0, RUN_REPORT_INSTALLED | RUN_RESTORE, nullptr, nullptr, nullptr},
    {{"-s", "-f", "-c"},
     MODE_USAGE,
     0,
     RUN_REPORT_INSTALLED | RUN_SILENT | RUN_FORCE,
     nullptr,
     nullptr,
     nullptr},
    {{"-c", "-I", "F"},
     MODE_USAGE,
     0,
     RUN_REPORT_INSTALLED | RUN_REPORT_IMAGE,
     nullptr,
     nullptr,
     "F"},
    {{"-c", "-debug"},
     MODE_REPORT_INSTALLED,
     0,
     RUN_REPORT_INSTALLED | RUN_DEBUG,
     nullptr,
     nullptr,
     nullptr},
    {{"-c", "-N"},
     MODE_REPORT_INSTALLED,
     0,
     RUN_REPORT_INSTALLED | RUN_ADVISE_ONLY,
     nullptr,
     nullptr,
     nullptr},
    {{"-c", "-a", "-m"},
     MODE_REPORT_INSTALLED,
     0,
     RUN_REPORT_INSTALLED | RUN_LIST_BACKUPS,
     nullptr,
     nullptr,
     nullptr},
    // rows 7 and 8
    {{"-p", "-f"}, MODE_USAGE, 0, RUN_RESTORE | RUN_FORCE, nullptr, nullptr, nullptr},
    {{"-f", "-l"}, MODE_USAGE, 0, RUN_FORCE | RUN_LIST, nullptr, nullptr, nullptr},
    {{"-p", "-l", "-debug"},
     MODE_UPGRADE,
     0,
     RUN_RESTORE | RUN_LIST | RUN_DEBUG,
     nullptr,
     nullptr,
     nullptr},
    {{"-s", "-N", "-a", "-l"},
     MODE_UPGRADE,
     0,
     RUN_SILENT | RUN_ADVISE_ONLY | RUN_LIST_BACKUPS | RUN_LIST,
     nullptr,
     nullptr,
     nullptr},
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
