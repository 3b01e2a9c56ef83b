// Restore selection: the versions read from a backup file's name, and the
// restore question's verdict, change text, warning and default.
#include "select_fixture.h"

#include "restore/backup_versions.h"
#include "restore/restore.h"

namespace select_test {
namespace {

// ---------------------------------------------------------------------------
// Versions from the file name.

TEST(BackupVersions, FileNames) {
    struct Row {
        const char *name;
        int result;
        Version bc, pxe, clp, ump, iscsi; // after the parse (all 7.7.7 when untouched)
        uint32_t found;                   // BackupNameFoundBits
    };
    constexpr uint32_t BC = PLAN_BC_FOUND, PX = PLAN_PXE_FOUND, CL = PLAN_CLP_FOUND,
                       UM = PLAN_UMP_FOUND, IS = PLAN_ISCSI_FOUND;
    const Version U = {7, 7, 7}; // untouched
    const Version Z = {0, 0, 0};
    // clang-format off
    const Row rows[] = {
        {"0A1B2C3D4E5F.bc3.4.6.p8.3.5.bin", 1, {3, 4, 6}, {8, 3, 5}, Z, Z, Z, BC | PX},
        {"M.bc1.2.3.p4.5.6.c7.8.9.u10.11.12.iS13.14.15.bin", 1, {1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}, {13, 14, 15}, BC | PX | CL | UM | IS},
        {"M.bc1.2.3.IS2.0.0.p4.5.6.bin", 1, {1, 2, 3}, Z, Z, Z, Z, BC},   // tags are case-sensitive
        {"M.bc1.2.3.p8.3.bin", 1, {1, 2, 3}, Z, Z, Z, Z, BC},             // a group cut short ends it
        {"M.bc1.2.3.bc4.5.6.bin", 1, {4, 5, 6}, Z, Z, Z, Z, BC},          // a later group replaces
        {"M.bc4294967295.0.007.bin", 1, {4294967295u, 0, 7}, Z, Z, Z, Z, BC},
        {"M.bc4294967296.0.0.bin", 0, U, U, U, U, U, 0},                 // beyond 32 bits
        {"M.p8.3.5.bc3.4.6.bin", 0, U, U, U, U, U, 0},                   // first group not boot code
        {"M.bc1.2.x.bin", 0, U, U, U, U, U, 0},
        {"M.bc-1.0.0.bin", 0, U, U, U, U, U, 0},
        {"M.bc.1.2.3.bin", 0, U, U, U, U, U, 0},                         // tag without its number
        {"M..bc1.2.3.bin", 0, U, U, U, U, U, 0},
        {"bc1.2.3.bin", 0, U, U, U, U, U, 0},                            // the first field is skipped
        {"renamed.img", 0, U, U, U, U, U, 0},
        {"", 0, U, U, U, U, U, 0},
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
        EXPECT_EQ(BackupNameFoundBits(row.name), row.found);
    }
}

// ---------------------------------------------------------------------------
// The restore question.

const std::string W_SAME = SameWarning("firmware", "firmware");
const std::string W_RECENT = RecentWarning("firmware", "firmware");

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

} // namespace
} // namespace select_test
