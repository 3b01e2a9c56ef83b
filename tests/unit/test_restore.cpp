// Restore selection: the versions read from a backup file's name, the restore
// question's verdict, text and default, and the walk over the backup directory
// (matching by content, -a, -e, yes/no/quit, the once-per-adapter heading, the
// end without candidates).
#include "select_fixture.h"

#include <cctype>
#include <utility>
#include <vector>

#include "saved_image.h"

#include "platform/platform.h"
#include "restore/backup_versions.h"
#include "restore/restore.h"
#include "write/write.h"

namespace select_test {
namespace {

using saved_image::Identity;
using saved_image::Image;

// ---------------------------------------------------------------------------
// Versions from the file name.

TEST(BackupVersions, FileNames) {
    struct Row {
        const char *name;
        int result;
        Version bc, pxe, clp, ump, iscsi; // after the parse (all 7.7.7 when untouched)
    };
    const Version U = {7, 7, 7}; // untouched
    const Version Z = {0, 0, 0};
    // clang-format off
    const Row rows[] = {
        {"0A1B2C3D4E5F.bc3.4.6.p8.3.5.bin", 1, {3, 4, 6}, {8, 3, 5}, Z, Z, Z},
        {"M.bc1.2.3.p4.5.6.c7.8.9.u10.11.12.iS13.14.15.bin", 1, {1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}, {13, 14, 15}},
        {"M.bc1.2.3", 1, {1, 2, 3}, Z, Z, Z, Z},
        {"M.bc1.2.3.IS2.0.0.p4.5.6.bin", 1, {1, 2, 3}, Z, Z, Z, Z},   // tags are case-sensitive
        {"M.bc1.2.3.p8.3.bin", 1, {1, 2, 3}, Z, Z, Z, Z},             // a group cut short ends it
        {"M.bc1.2.3.bc4.5.6.bin", 1, {4, 5, 6}, Z, Z, Z, Z},          // a later group replaces
        {"M.bc4294967295.0.007.bin", 1, {4294967295u, 0, 7}, Z, Z, Z, Z},
        {"M.bc4294967296.0.0.bin", 0, U, U, U, U, U},                 // beyond 32 bits
        {"M.p8.3.5.bc3.4.6.bin", 0, U, U, U, U, U},                   // first group not boot code
        {"M.bc1.2.x.bin", 0, U, U, U, U, U},
        {"M.bc-1.0.0.bin", 0, U, U, U, U, U},
        {"M.bc.1.2.3.bin", 0, U, U, U, U, U},                         // tag without its number
        {"M..bc1.2.3.bin", 0, U, U, U, U, U},
        {"M.bc1..2.3.bin", 0, U, U, U, U, U},
        {"bc1.2.3.bin", 0, U, U, U, U, U},                            // the first field is skipped
        {"renamed.img", 0, U, U, U, U, U},
        {"0A1B2C3D4E5F", 0, U, U, U, U, U},
        {"", 0, U, U, U, U, U},
    };
    // clang-format on
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        UpgradePlan plan{};
        plan.Flags = PLAN_BC_FOUND;
        plan.BootCodeVersion = plan.PxeVersion = plan.ClpVersion = plan.UmpVersion =
            plan.IscsiVersion = U;
        EXPECT_EQ(ParseBackupVersions(row.name, plan), row.result);
        const Version *got[] = {&plan.BootCodeVersion, &plan.PxeVersion, &plan.ClpVersion,
                                &plan.UmpVersion, &plan.IscsiVersion};
        const Version *want[] = {&row.bc, &row.pxe, &row.clp, &row.ump, &row.iscsi};
        for (int i = 0; i < 5; i++) {
            EXPECT_EQ(got[i]->major, want[i]->major) << i;
            EXPECT_EQ(got[i]->minor, want[i]->minor) << i;
            EXPECT_EQ(got[i]->build, want[i]->build) << i;
        }
        EXPECT_EQ(plan.Flags, PLAN_BC_FOUND);
    }
}

// ---------------------------------------------------------------------------
// The restore question.

const std::string W_SAME =
    "** WARNING ** - Installed firmware is the same version as selected firmware.\r\n";
const std::string W_RECENT =
    "** WARNING ** - Installed firmware is more recent than selected firmware.\r\n";

constexpr uint32_t INTERACTIVE = 0;
constexpr uint32_t SILENT = RUN_SILENT;
constexpr uint32_t FORCED = RUN_SILENT | RUN_FORCE;
constexpr uint32_t BC = PLAN_BC_FOUND;
constexpr uint32_t ALL_OTHERS = PLAN_PXE_FOUND | PLAN_UMP_FOUND | PLAN_CLP_FOUND | PLAN_ISCSI_FOUND;

class RestoreTest : public SelectTest {};

TEST_F(RestoreTest, Decisions) {
    struct Row {
        const char *what;
        uint32_t flags; // of the plan
        Version installed_bc, saved_bc;
        Version installed_other, saved_other; // PXE, UMP, CLP and iSCSI alike
        uint32_t mode;
        const char *input;
        int answer;
        std::string change; // RestoreChangeText into a buffer holding "untouched"
        std::string out;
    };
    const Version B347 = {3, 4, 7}, B346 = {3, 4, 6}, Z = {0, 0, 0};
    const uint32_t G = 2000000000u;
    // clang-format off
    const Row rows[] = {
        {"boot code older", BC, B347, {3, 5, 0}, Z, Z, INTERACTIVE, "\n", ANSWER_YES, "Boot Code 3.4.7 to 3.5.0", "Restore Boot Code 3.4.7 to 3.5.0 -  y/n/q (y):"},
        {"boot code same: the build is not compared", BC, B347, B346, Z, Z, INTERACTIVE, "\n", ANSWER_NO, "Boot Code 3.4.7 to 3.4.6", W_SAME + "Restore Boot Code 3.4.7 to 3.4.6 -  y/n/q (n):"},
        {"boot code installed newer", BC, {3, 5, 0}, B346, Z, Z, INTERACTIVE, "y\n", ANSWER_YES, "Boot Code 3.5.0 to 3.4.6", W_RECENT + "Restore Boot Code 3.5.0 to 3.4.6 -  y/n/q (n):"},
        {"same boot code, PXE older by its build", BC | PLAN_PXE_FOUND, B347, B346, {8, 3, 1}, {8, 3, 5}, INTERACTIVE, "\n", ANSWER_YES, "Boot Code 3.4 to 3.4 and PXE 8.3.1 to 8.3.5", "Restore Boot Code 3.4 to 3.4 and PXE 8.3.1 to 8.3.5 -  y/n/q (y):"},
        {"same boot code, PXE newer, the absent count as same", BC | PLAN_PXE_FOUND, B347, B346, {8, 3, 5}, {8, 3, 1}, INTERACTIVE, "\n", ANSWER_NO, "Boot Code 3.4 to 3.4 and PXE 8.3.5 to 8.3.1", W_SAME + "Restore Boot Code 3.4 to 3.4 and PXE 8.3.5 to 8.3.1 -  y/n/q (n):"},
        {"same boot code, all four newer installed", BC | ALL_OTHERS, B347, B346, {9, 9, 9}, {8, 3, 1}, INTERACTIVE, "\n", ANSWER_NO, "Boot Code 3.4 to 3.4 and PXE 9.9.9 to 8.3.1", W_RECENT + "Restore Boot Code 3.4 to 3.4 and PXE 9.9.9 to 8.3.1 -  y/n/q (n):"},
        {"same boot code, UMP older by its minor", BC | PLAN_UMP_FOUND, B347, B346, {1, 1, 9}, {1, 2, 0}, INTERACTIVE, "\n", ANSWER_YES, "Boot Code 3.4 to 3.4 and UMP 1.1 to 1.2", "Restore Boot Code 3.4 to 3.4 and UMP 1.1 to 1.2 -  y/n/q (y):"},
        {"iSCSI older only by its build counts as same", BC | PLAN_ISCSI_FOUND, B347, B346, {2, 1, 0}, {2, 1, 5}, INTERACTIVE, "\n", ANSWER_NO, "Boot Code 3.4.7 to 3.4.6", W_SAME + "Restore Boot Code 3.4.7 to 3.4.6 -  y/n/q (n):"},
        {"CLP form with three-digit numbers: the question is cut at 79", BC | PLAN_CLP_FOUND, {111, 222, 333}, {111, 222, 334}, {100, 200, 255}, {101, 202, 203}, INTERACTIVE, "\n", ANSWER_YES, "Boot Code 111.222.333 to 111.222.334 and CLP 100.200.255 to 101.202.203", "Restore Boot Code 111.222.333 to 111.222.334 and CLP 100.200.255 to 101.202.203"},
        {"change text cut at 87", BC | PLAN_PXE_FOUND, {G, G, 0}, {G, G, 0}, {G, G, G}, {G, G, G}, SILENT, "", ANSWER_NO, "Boot Code 2000000000.2000000000 to 2000000000.2000000000 and PXE 2000000000.2000000000.", ""},
        {"CLP without boot code: no text, neither older nor same", PLAN_CLP_FOUND, B347, B346, Z, {1, 0, 0}, INTERACTIVE, "\n", ANSWER_NO, "untouched", W_RECENT + "Restore  -  y/n/q (n):"},
        {"silent, same", BC, B347, B346, Z, Z, SILENT, "", ANSWER_NO, "Boot Code 3.4.7 to 3.4.6", ""},
        {"silent and forced, same", BC, B347, B346, Z, Z, FORCED, "", ANSWER_YES, "Boot Code 3.4.7 to 3.4.6", ""},
        {"silent, older", BC, B347, {4, 0, 0}, Z, Z, SILENT, "", ANSWER_YES, "Boot Code 3.4.7 to 4.0.0", ""},
        {"quit", BC, B347, {4, 0, 0}, Z, Z, INTERACTIVE, "q\n", ANSWER_QUIT, "Boot Code 3.4.7 to 4.0.0", "Restore Boot Code 3.4.7 to 4.0.0 -  y/n/q (y):"},
    };
    // clang-format on
    auto narrow = [](const Version &v) {
        return Version8{static_cast<uint8_t>(v.major), static_cast<uint8_t>(v.minor),
                        static_cast<uint8_t>(v.build)};
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        NicFwInfo fw{};
        fw.BootCodeVersion = row.installed_bc;
        fw.PxeVersion = row.installed_other;
        fw.UmpVersion = fw.ClpVersion = fw.IscsiVersion = narrow(row.installed_other);
        UpgradePlan plan{};
        plan.Flags = row.flags;
        plan.BootCodeVersion = row.saved_bc;
        plan.PxeVersion = plan.UmpVersion = plan.ClpVersion = plan.IscsiVersion = row.saved_other;

        char change[RESTORE_CHANGE_TEXT_SIZE] = "untouched";
        RestoreChangeText(fw, plan, change, sizeof change);
        EXPECT_EQ(change, row.change);

        RunFlags = row.mode;
        Feed(row.input);
        Capture();
        EXPECT_EQ(ConfirmRestore(fw, plan), row.answer);
        Collect();
        EXPECT_EQ(out_, row.out);
    }
}

// ---------------------------------------------------------------------------
// The walk over the backup directory.

constexpr Identity kJumper = {0x1234, 0xBEEF, 0x5678, 0x0011, "00105A0B0C0D"};

TEST_F(RestoreTest, Selection) {
    const std::string M = "00105A0B0C0D.bc3.4.6.p8.3.5.bin"; // as the writers name it
    const std::string N = "notes.txt";
    const std::string R = "renamed.img";
    const std::string match = Image(saved_image::kAdapter);
    Identity other = saved_image::kAdapter;
    other.mac = "00105A0B0C0E";
    const std::string other_mac = Image(other);
    other.mac = "FFFFFFFFFFFF"; // the MAC text of NicFwInfo in this fixture
    const std::string fw_mac = Image(other);
    other = saved_image::kAdapter;
    other.subsystem = 0x0002;
    const std::string other_subsystem = Image(other);
    const std::string DIR = "<dir>";

    const std::string examining =
        "Examining Restore files for Test Gigabit Adapter MAC:" + std::string(kMac) + "\r\n";
    const std::string no_images = "\nNo images have been saved for firmware restore \n";
    const std::string p_m = W_SAME + "Restore Boot Code 3.4.7 to 3.4.6 -  y/n/q (n):";
    const std::string p_r = W_RECENT + "Restore Boot Code 3.4.7 to 0.0.0 -  y/n/q (n):";
    const std::string jumper = "** WARNING ** This adapter is equipped with a write protect "
                               "jumper (J1).\r\nInsure the jumper has been moved to the write "
                               "enable position.\r\n";
    const std::string failed_n = "Image file did not match magic value.\r\nFailed to get firmware "
                                 "information from file ({backup}" +
                                 N + ")!\r\n";
    auto found = [](const std::string &name) {
        return "Found restore file ({backup}" + name + ")!\r\n";
    };
    const std::string head = "0 FFFFFFFFFFFF 1234-ABCD-5678-0001 ";

    struct File {
        std::string name, content; // content DIR: a directory
    };
    struct Row {
        const char *what;
        uint32_t fw_flags;
        bool jumper_model;
        std::vector<File> files; // listed by name, as the platform lists them
        uint32_t run_flags;
        std::string restore_arg; // {backup} and {BACKUP} (upper case) are replaced
        const char *input;
        int result;
        std::string out; // {backup} stands for BackupDir
        std::string err;
        uint32_t plan_flags;
        std::string path; // the file the plan names at the end
        bool cancelled;
    };
    const uint32_t HAS_BC = FW_HAS_BOOTCODE;
    const uint32_t CONFIRMED = PLAN_BC_FOUND | PLAN_RESTORE_CONFIRMED;
    // clang-format off
    const Row rows[] = {
        {"no boot code installed: skipped without a look", FW_HAS_PXE, false, {{M, match}}, 0, "", "y\n", 0, "", "", 0, "", false},
        {"empty backup directory", HAS_BC, false, {}, 0, "", "", RESTORE_NO_IMAGES, no_images, examining, 0, "", false},
        {"only a subdirectory", HAS_BC, false, {{"sub", DIR}}, RUN_LIST_BACKUPS, "", "", RESTORE_NO_IMAGES, no_images, examining, 0, "", false},
        {"named by the writers, same boot code, taken", HAS_BC, false, {{M, match}}, 0, "", "y\n", 0, Heading() + p_m, examining + found(M), CONFIRMED, M, false},
        {"renamed: found by content, versions 0", HAS_BC, false, {{R, match}}, 0, "", "\n", 0, Heading() + p_r, examining + found(R), 0, R, false},
        {"another MAC", HAS_BC, false, {{M, other_mac}}, 0, "", "y\n", 0, "", examining, 0, M, false},
        {"the MAC of NicFwInfo is not the one compared", HAS_BC, false, {{M, fw_mac}}, 0, "", "y\n", 0, "", examining, 0, M, false},
        {"another subsystem ID", HAS_BC, false, {{M, other_subsystem}}, 0, "", "y\n", 0, "", examining, 0, M, false},
        {"a file that is no image is skipped", HAS_BC, false, {{M, match}, {N, "text"}}, 0, "", "n\n", 0, Heading() + p_m, examining + found(M) + failed_n, 0, N, false},
        {"no to the first, yes to the second, one heading", HAS_BC, false, {{M, match}, {R, match}}, 0, "", "n\ny\n", 0, Heading() + p_m + p_r, examining + found(M) + found(R), CONFIRMED, R, false},
        {"yes to the first: the second is never offered", HAS_BC, false, {{M, match}, {R, match}}, 0, "", "y\n", 0, Heading() + p_m, examining + found(M), CONFIRMED, M, false},
        {"quit", HAS_BC, false, {{M, match}, {R, match}}, 0, "", "q\n", 0, Heading() + p_m, examining + found(M), 0, M, true},
        {"-a lists every match and asks nothing, also with -p", HAS_BC, false, {{M, match}, {N, "text"}, {R, match}}, RUN_LIST_BACKUPS | RUN_RESTORE, "", "y\n", 0,
         head + "3 4 6 8 3 5 - - - - - - - - -  {backup}" + M + " \n" + head + "0 0 0 - - - - - - - - - - - -  {backup}" + R + " \n",
         examining + failed_n, PLAN_BC_FOUND, R, false},
        {"-e: the full path in another letter case", HAS_BC, false, {{M, match}, {R, match}}, RUN_RESTORE_FILE, "{BACKUP}RENAMED.IMG", "y\n", 0, Heading() + p_r, examining + found(R), CONFIRMED, R, false},
        {"-e: a bare file name matches nothing", HAS_BC, false, {{M, match}, {R, match}}, RUN_RESTORE_FILE, R, "y\n", 0, "", examining, PLAN_BC_FOUND, R, false},
        {"jumper model: the warnings once, before the first question", HAS_BC, true, {{M, Image(kJumper)}, {R, Image(kJumper)}}, 0, "", "n\nn\n", 0, Heading() + jumper + p_m + p_r, examining + found(M) + found(R), 0, R, false},
    };
    // clang-format on
    auto fill = [](std::string s, const std::string &backup) {
        std::string upper = backup;
        for (char &c : upper) {
            c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        }
        const std::vector<std::pair<std::string, std::string>> keys = {{"{backup}", backup},
                                                                       {"{BACKUP}", upper}};
        for (const auto &[key, value] : keys) {
            for (size_t at = s.find(key); at != std::string::npos; at = s.find(key)) {
                s.replace(at, key.size(), value);
            }
        }
        return s;
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        TearDown();
        SetUp();
        std::filesystem::create_directory(dir_ + "/backup");
        snprintf(BackupDir, sizeof BackupDir, "%s\\backup\\", dir_.c_str());
        const std::string backup = BackupDir;
        for (const File &f : row.files) {
            if (f.content == DIR) {
                std::filesystem::create_directory(dir_ + "/backup/" + f.name);
            } else {
                WriteFile("backup/" + f.name, f.content);
            }
        }
        AddAdapter(row.fw_flags);
        NicFwTable[0].BootCodeVersion = Version{3, 4, 7};
        if (row.jumper_model) {
            NicFwTable[0].DeviceId = kJumper.device;
            NicFwTable[0].SubsystemId = kJumper.subsystem;
            ASSERT_TRUE(HasWriteProtectJumper(NicFwTable[0]));
        }
        const std::string arg = fill(row.restore_arg, backup);
        RestoreFileArg = arg.c_str();
        RunFlags |= row.run_flags | RUN_DEBUG;
        Feed(row.input);
        Capture();
        EXPECT_EQ(SelectRestore(), row.result);
        Collect();
        RestoreFileArg = nullptr;
        EXPECT_EQ(out_, fill(row.out, backup));
        EXPECT_EQ(err_, fill(row.err, backup));
        EXPECT_EQ(PlanTable[0].Flags, row.plan_flags);
        EXPECT_EQ(PlanTable[0].BootCodePath, row.path.empty() ? "" : backup + row.path);
        EXPECT_EQ((RunFlags & RUN_CANCELLED) != 0, row.cancelled);
        EXPECT_EQ((NicFwTable[0].Flags & FW_ANNOUNCED) != 0,
                  out_.find("Found") != std::string::npos);
    }
    BackupDir[0] = '\0';
}

// A backup directory that cannot be listed: a debug line, nothing else.
TEST_F(RestoreTest, BackupDirectoryMissing) {
    snprintf(BackupDir, sizeof BackupDir, "%s\\missing\\", dir_.c_str());
    AddAdapter(FW_HAS_BOOTCODE);
    RunFlags |= RUN_DEBUG;
    Capture();
    EXPECT_EQ(SelectRestore(), 0);
    Collect();
    EXPECT_EQ(out_, "");
    const std::string line =
        std::string("SelectRestore() FindFirstFile() ") + BackupDir + "\\*.* failed ";
    EXPECT_EQ(err_.find(line), err_.find("\r\n") + 2) << err_;
    EXPECT_EQ(PlanTable[0].Flags, 0u);
    BackupDir[0] = '\0';
}

} // namespace
} // namespace select_test
