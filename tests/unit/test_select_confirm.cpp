// The selection rules of the six components: verdict, question text, warnings
// and the answer in every run mode, with the UMP rule for an older image.
#include "select_fixture.h"

namespace select_test {
namespace {

constexpr uint32_t INTERACTIVE = 0;
constexpr uint32_t SILENT = RUN_SILENT;
constexpr uint32_t FORCED = RUN_SILENT | RUN_FORCE;
constexpr uint32_t ADVISE = RUN_ADVISE_ONLY;
constexpr uint32_t FORCE_ONLY = RUN_FORCE; // -F without -s

// Marks the UMP older rows: the two warnings to the log only, never a question.
const char *const UMP_OLDER = "ump-older";

const std::string W_BC_SAME = SameWarning("Boot Code", "Boot Code");
const std::string W_BC_OLDER = RecentWarning("Boot Code", "Boot Code");
const std::string W_PXE_SAME = SameWarning("PXE", "PXE");
const std::string W_PXE_OLDER = RecentWarning("PXE", "PXE");
const std::string W_UMP_SAME = SameWarning("UMP", "UMP");
const std::string W_CLP_SAME = SameWarning("CLP", "CLP");
const std::string W_CLP_OLDER = RecentWarning("CLP", "CLP");
const std::string W_ISCSI_SAME = SameWarning("iSCSI", "iSCSI");
const std::string W_ISCSI_OLDER = RecentWarning("iSCSI", "iSCSI");
const std::string W_STUB_SAME = SameWarning("iSCSI stub", "iSCSI stub");
const std::string W_STUB_OLDER = RecentWarning("iSCSI", "iSCSI stub");

struct Row {
    int component;
    Version installed;
    Version selected;
    uint32_t mode;
    const char *input; // standard input for the question
    int answer;
    const char *question; // as shown, interactive rows only
    std::string warning;  // "": none
    const char *shown;    // default shown
    uint32_t added;       // RunFlags bits the rule adds
};

// One row per line.
// clang-format off
const Row kRows[] = {
    // Boot code: the minor decides before the build; the installed version is
    // more recent; same; unsigned comparison of a huge selected major.
    {COMPONENT_BOOTCODE, {1, 2, 9}, {1, 3, 0}, INTERACTIVE, "\n", ANSWER_YES, "Update Boot Code 1.2.9 to 1.3.0 - ", "", "y", 0},
    {COMPONENT_BOOTCODE, {2, 0, 0}, {1, 9, 9}, INTERACTIVE, "\n", ANSWER_NO, "Update Boot Code 2.0.0 to 1.9.9 - ", W_BC_OLDER, "n", 0},
    {COMPONENT_BOOTCODE, {3, 4, 5}, {3, 4, 5}, INTERACTIVE, "y\n", ANSWER_YES, "Update Boot Code 3.4.5 to 3.4.5 - ", W_BC_SAME, "n", 0},
    {COMPONENT_BOOTCODE, {1, 0, 0}, {4294967295u, 0, 0}, INTERACTIVE, "\n", ANSWER_YES, "Update Boot Code 1.0.0 to -1.0.0 - ", "", "y", 0},
    {COMPONENT_BOOTCODE, {1, 3000000000u, 0}, {1, 5, 0}, INTERACTIVE, "\n", ANSWER_NO, "Update Boot Code 1.-1294967296.0 to 1.5.0 - ", W_BC_OLDER, "n", 0},
    {COMPONENT_BOOTCODE, {1, 2, 3}, {1, 2, 4}, SILENT, "", ANSWER_YES, "", "", "y", 0},
    {COMPONENT_BOOTCODE, {1, 2, 3}, {1, 2, 4}, FORCED, "", ANSWER_YES, "", "", "y", 0},
    {COMPONENT_BOOTCODE, {1, 2, 3}, {1, 2, 3}, SILENT, "", ANSWER_NO, "", W_BC_SAME, "n", 0},
    {COMPONENT_BOOTCODE, {1, 2, 3}, {1, 2, 3}, FORCED, "", ANSWER_YES, "", W_BC_SAME, "n", 0},
    {COMPONENT_BOOTCODE, {1, 2, 3}, {1, 2, 2}, SILENT, "", ANSWER_NO, "", W_BC_OLDER, "n", 0},
    {COMPONENT_BOOTCODE, {1, 2, 3}, {1, 2, 2}, FORCED, "", ANSWER_YES, "", W_BC_OLDER, "n", 0},
    {COMPONENT_BOOTCODE, {1, 2, 3}, {1, 2, 4}, ADVISE, "", ANSWER_NO, "", "", "", RUN_ADVISE_NEWER},
    {COMPONENT_BOOTCODE, {1, 2, 3}, {1, 2, 3}, ADVISE, "", ANSWER_NO, "", "", "", RUN_ADVISE_SAME},
    {COMPONENT_BOOTCODE, {1, 2, 3}, {1, 2, 2}, ADVISE, "", ANSWER_NO, "", "", "", RUN_ADVISE_OLDER},
    {COMPONENT_BOOTCODE, {1, 2, 3}, {1, 2, 2}, FORCE_ONLY, "\n", ANSWER_NO, "Update Boot Code 1.2.3 to 1.2.2 - ", W_BC_OLDER, "n", 0},

    // PXE.
    {COMPONENT_PXE, {1, 2, 3}, {1, 2, 4}, INTERACTIVE, "\n", ANSWER_YES, "Update PXE 1.2.3 to 1.2.4 - ", "", "y", 0},
    {COMPONENT_PXE, {1, 2, 4}, {1, 2, 4}, INTERACTIVE, "\n", ANSWER_NO, "Update PXE 1.2.4 to 1.2.4 - ", W_PXE_SAME, "n", 0},
    {COMPONENT_PXE, {1, 3, 0}, {1, 2, 9}, INTERACTIVE, "Y\n", ANSWER_YES, "Update PXE 1.3.0 to 1.2.9 - ", W_PXE_OLDER, "n", 0},
    {COMPONENT_PXE, {0, 0, 0}, {1, 0, 0}, INTERACTIVE, "q\n", ANSWER_QUIT, "Update PXE 0.0.0 to 1.0.0 - ", "", "y", 0},
    {COMPONENT_PXE, {1, 2, 2147483648u}, {1, 2, 5}, INTERACTIVE, "\n", ANSWER_NO, "Update PXE 1.2.-2147483648 to 1.2.5 - ", W_PXE_OLDER, "n", 0},
    {COMPONENT_PXE, {1, 3, 0}, {1, 2, 9}, SILENT, "", ANSWER_NO, "", W_PXE_OLDER, "n", 0},
    {COMPONENT_PXE, {1, 3, 0}, {1, 2, 9}, FORCED, "", ANSWER_YES, "", W_PXE_OLDER, "n", 0},

    // UMP, including the older rule in every mode.
    {COMPONENT_UMP, {1, 2, 3}, {1, 2, 4}, INTERACTIVE, "\n", ANSWER_YES, "Update UMP 1.2.3 to 1.2.4 - ", "", "y", 0},
    {COMPONENT_UMP, {1, 2, 3}, {1, 2, 259}, INTERACTIVE, "\n", ANSWER_YES, "Update UMP 1.2.3 to 1.2.259 - ", "", "y", 0},
    {COMPONENT_UMP, {2, 0, 0}, {2, 0, 0}, INTERACTIVE, "\n", ANSWER_NO, "Update UMP 2.0.0 to 2.0.0 - ", W_UMP_SAME, "n", 0},
    {COMPONENT_UMP, {2, 0, 0}, {2, 0, 0}, SILENT, "", ANSWER_NO, "", W_UMP_SAME, "n", 0},
    {COMPONENT_UMP, {2, 0, 0}, {2, 0, 0}, FORCED, "", ANSWER_YES, "", W_UMP_SAME, "n", 0},
    {COMPONENT_UMP, {2, 1, 0}, {2, 0, 9}, INTERACTIVE, "y\n", ANSWER_NO, "", UMP_OLDER, "", 0},
    {COMPONENT_UMP, {200, 0, 0}, {100, 0, 0}, INTERACTIVE, "y\n", ANSWER_NO, "", UMP_OLDER, "", 0},
    {COMPONENT_UMP, {2, 1, 0}, {2, 0, 9}, SILENT, "", ANSWER_NO, "", UMP_OLDER, "", 0},
    {COMPONENT_UMP, {2, 1, 0}, {2, 0, 9}, FORCED, "", ANSWER_NO, "", UMP_OLDER, "", RUN_HAD_ERRORS},
    {COMPONENT_UMP, {2, 1, 0}, {2, 0, 9}, FORCE_ONLY, "y\n", ANSWER_NO, "", UMP_OLDER, "", RUN_HAD_ERRORS},
    {COMPONENT_UMP, {2, 1, 0}, {2, 0, 9}, ADVISE, "", ANSWER_NO, "", "", "", RUN_ADVISE_OLDER},

    // CLP: major and minor only; the text still shows all three numbers.
    {COMPONENT_CLP, {1, 2, 5}, {1, 2, 7}, INTERACTIVE, "\n", ANSWER_NO, "Update CLP 1.2.5 to 1.2.7 - ", W_CLP_SAME, "n", 0},
    {COMPONENT_CLP, {1, 2, 9}, {1, 2, 0}, INTERACTIVE, "\n", ANSWER_NO, "Update CLP 1.2.9 to 1.2.0 - ", W_CLP_SAME, "n", 0},
    {COMPONENT_CLP, {1, 2, 5}, {1, 3, 0}, INTERACTIVE, "\n", ANSWER_YES, "Update CLP 1.2.5 to 1.3.0 - ", "", "y", 0},
    {COMPONENT_CLP, {1, 3, 0}, {1, 2, 9}, INTERACTIVE, "\n", ANSWER_NO, "Update CLP 1.3.0 to 1.2.9 - ", W_CLP_OLDER, "n", 0},
    {COMPONENT_CLP, {0, 0, 0}, {1, 0, 0}, SILENT, "", ANSWER_YES, "", "", "y", 0},
    {COMPONENT_CLP, {1, 2, 5}, {1, 2, 7}, ADVISE, "", ANSWER_NO, "", "", "", RUN_ADVISE_SAME},
    {COMPONENT_CLP, {1, 2, 5}, {1, 2, 7}, FORCED, "", ANSWER_YES, "", W_CLP_SAME, "n", 0},

    // iSCSI.
    {COMPONENT_ISCSI, {1, 0, 0}, {1, 0, 1}, INTERACTIVE, "\n", ANSWER_YES, "Update iSCSI 1.0.0 to 1.0.1 - ", "", "y", 0},
    {COMPONENT_ISCSI, {1, 0, 1}, {1, 0, 1}, INTERACTIVE, "yes\n", ANSWER_YES, "Update iSCSI 1.0.1 to 1.0.1 - ", W_ISCSI_SAME, "n", 0},
    {COMPONENT_ISCSI, {255, 255, 255}, {1, 0, 0}, INTERACTIVE, "\n", ANSWER_NO, "Update iSCSI 255.255.255 to 1.0.0 - ", W_ISCSI_OLDER, "n", 0},
    {COMPONENT_ISCSI, {1, 0, 1}, {1, 0, 0}, SILENT, "", ANSWER_NO, "", W_ISCSI_OLDER, "n", 0},

    // iSCSI stub: installed iSCSI against the stub image, with the iSCSI text.
    {COMPONENT_ISCSI_STUB, {1, 0, 0}, {1, 0, 0}, INTERACTIVE, "\n", ANSWER_NO, "Update iSCSI 1.0.0 to 1.0.0 - ", W_STUB_SAME, "n", 0},
    {COMPONENT_ISCSI_STUB, {2, 0, 0}, {1, 0, 0}, INTERACTIVE, "\n", ANSWER_NO, "Update iSCSI 2.0.0 to 1.0.0 - ", W_STUB_OLDER, "n", 0},
    {COMPONENT_ISCSI_STUB, {1, 0, 0}, {1, 0, 1}, INTERACTIVE, "\n", ANSWER_YES, "Update iSCSI 1.0.0 to 1.0.1 - ", "", "y", 0},
    {COMPONENT_ISCSI_STUB, {0, 0, 0}, {1, 0, 0}, INTERACTIVE, "\n", ANSWER_YES, "Update iSCSI 0.0.0 to 1.0.0 - ", "", "y", 0},
    {COMPONENT_ISCSI_STUB, {2, 0, 0}, {1, 0, 0}, FORCED, "", ANSWER_YES, "", W_STUB_OLDER, "n", 0},
};
// clang-format on

class ConfirmTest : public SelectTest {};

Version8 Narrow(const Version &v) {
    EXPECT_LE(v.major, 255u);
    EXPECT_LE(v.minor, 255u);
    EXPECT_LE(v.build, 255u);
    return Version8{static_cast<uint8_t>(v.major), static_cast<uint8_t>(v.minor),
                    static_cast<uint8_t>(v.build)};
}

// Only the field under test is filled, so a rule that reads another field sees 0.0.0.
void SetVersions(const Row &row, NicFwInfo &fw, UpgradePlan &plan) {
    switch (row.component) {
    case COMPONENT_BOOTCODE:
        fw.BootCodeVersion = row.installed;
        plan.BootCodeVersion = row.selected;
        break;
    case COMPONENT_PXE:
        fw.PxeVersion = row.installed;
        plan.PxeVersion = row.selected;
        break;
    case COMPONENT_UMP:
        fw.UmpVersion = Narrow(row.installed);
        plan.UmpVersion = row.selected;
        break;
    case COMPONENT_CLP:
        fw.ClpVersion = Narrow(row.installed);
        plan.ClpVersion = row.selected;
        break;
    default:
        fw.IscsiVersion = Narrow(row.installed);
        plan.IscsiVersion = row.selected;
        break;
    }
}

TEST_F(ConfirmTest, ConfirmOutcomeByVerdictAndMode) {
    int index = 0;
    for (const Row &row : kRows) {
        SCOPED_TRACE(testing::Message() << "row " << index++);
        TearDown();
        SetUp();
        RunFlags = RUN_LOG_READY | row.mode;
        Feed(row.input);
        NicFwInfo fw{};
        UpgradePlan plan{};
        SetVersions(row, fw, plan);

        Capture();
        const int answer = ConfirmSelected(row.component, fw, plan);
        Collect();
        EXPECT_EQ(answer, row.answer);
        EXPECT_EQ(RunFlags & ~RUN_LOG_OPEN, RUN_LOG_READY | row.mode | row.added);

        const bool asks = row.mode == INTERACTIVE || row.mode == FORCE_ONLY;
        std::string console, log;
        if (row.mode == ADVISE) {
            // nothing printed, nothing asked
        } else if (row.warning == UMP_OLDER) {
            log = kUmpOlderLog;
        } else {
            const std::string prompt = std::string(row.question) + " y/n/q (" + row.shown + "):";
            console = asks ? row.warning + prompt : "";
            log = asks ? row.warning + prompt + row.input : row.warning;
        }
        EXPECT_EQ(out_, console);
        EXPECT_EQ(Log(), log);
        EXPECT_EQ(err_, "");
        // A question not asked reads nothing.
        EXPECT_EQ(RestOfInput(), asks && row.warning != UMP_OLDER ? "" : row.input);
    }
}

TEST(VersionVerdict, MostSignificantFirstAndUnsigned) {
    struct Row {
        Version installed, selected;
        bool major_minor_only;
        int verdict;
    } rows[] = {
        {{1, 2, 9}, {1, 3, 0}, false, VERDICT_NEWER},
        {{2, 0, 0}, {1, 9, 9}, false, VERDICT_OLDER},
        {{1, 2, 3}, {1, 2, 3}, false, VERDICT_SAME},
        {{1, 2, 3}, {1, 2, 4}, false, VERDICT_NEWER},
        {{1, 2, 4}, {1, 2, 3}, false, VERDICT_OLDER},
        {{0, 9, 9}, {1, 0, 0}, false, VERDICT_NEWER},
        {{1, 0, 0}, {0x80000000u, 0, 0}, false, VERDICT_NEWER},
        {{0xFFFFFFFFu, 0, 0}, {1, 0, 0}, false, VERDICT_OLDER},
        {{1, 2, 5}, {1, 2, 7}, true, VERDICT_SAME},
        {{1, 2, 7}, {1, 2, 5}, true, VERDICT_SAME},
        {{1, 2, 7}, {1, 3, 0}, true, VERDICT_NEWER},
        {{2, 0, 0}, {1, 9, 9}, true, VERDICT_OLDER},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(VersionVerdict(row.installed, row.selected, row.major_minor_only), row.verdict)
            << row.installed.major << "." << row.installed.minor << "." << row.installed.build
            << " vs " << row.selected.major << "." << row.selected.minor << "."
            << row.selected.build;
    }
}

// The UMP rule puts RUN_SILENT back as it found it and leaves the other bits
// as they now are.
TEST_F(ConfirmTest, UmpOlderRestoresSilentOnly) {
    NicFwInfo fw{};
    fw.UmpVersion = Version8{3, 0, 0};
    UpgradePlan plan{};
    plan.UmpVersion = Version{2, 0, 0};
    for (uint32_t mode : {INTERACTIVE, SILENT, FORCED, FORCE_ONLY}) {
        log_close(); // the flags are set afresh below: no stream may stay behind
        RunFlags = RUN_LOG_READY | mode | RUN_DEBUG;
        Capture();
        EXPECT_EQ(ConfirmUMP(fw, plan), ANSWER_NO);
        Collect();
        EXPECT_EQ(RunFlags & RUN_SILENT, mode & RUN_SILENT);
        EXPECT_NE(RunFlags & RUN_DEBUG, 0u);
        EXPECT_EQ(out_, "");
    }
}

} // namespace
} // namespace select_test
