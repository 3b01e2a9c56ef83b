// Selection across components and adapters: the preconditions of each routine,
// quitting, CLP before PXE, the shared iSCSI version, and what each run mode
// ends up taking.
#include "select_fixture.h"

namespace select_test {
namespace {

class FlowTest : public SelectTest {
  protected:
    // Every catalogue holds one newer record for the test adapter.
    void WriteAllCatalogues() {
        WriteFile("NIC_FW/Boot_Code/BC.config", Rec("bc.bin", "9.0.0"));
        WriteFile("NIC_FW/PXE/MFPXE.config", Rec("pxe.bin", "9.0.0"));
        WriteFile("NIC_FW/UMP/UMP.config", Rec("ump.bin", "9.0.0"));
        WriteFile("NIC_FW/CLP/CLP.config", Rec("clp.bin", "9.0.0"));
        WriteFile("NIC_FW/iSCSI/iSCSI.config", Rec("iscsi.bin", "9.0.0"));
        WriteFile("NIC_FW/iSCSI/iSCSI_stub.config", Rec("stub.bin", "9.0.0"));
    }
    // The selection pass of one adapter, in the run's order.
    void SelectAll(uint32_t nic) {
        CurrentNic = nic;
        SelectBootCode();
        SelectCLP();
        SelectPXE();
        SelectUMP();
        SelectiSCSI();
        SelectiSCSIstub();
    }
};

// A routine whose condition does not hold returns at once: no message, no
// plan change, nothing read.
TEST_F(FlowTest, Preconditions) {
    struct Row {
        const char *what;
        int (*select)();
        uint32_t fw_flags;
        uint32_t plan_flags;
        uint32_t run_flags;
        bool takes_part;
    } rows[] = {
        {"boot code, none installed", SelectBootCode, FW_HAS_PXE | FW_HAS_UMP, 0, 0, false},
        {"boot code installed", SelectBootCode, FW_HAS_BOOTCODE, 0, 0, true},
        {"CLP always", SelectCLP, 0, 0, 0, true},
        {"iSCSI always", SelectiSCSI, 0, 0, 0, true},
        {"PXE installed", SelectPXE, FW_HAS_PXE, 0, 0, true},
        {"iSCSI in the pre-boot slot", SelectPXE, FW_HAS_ISCSI, 0, 0, true},
        {"no PXE, no iSCSI", SelectPXE, FW_HAS_BOOTCODE | FW_HAS_UMP, 0, 0, false},
        {"PXE with CLP installed", SelectPXE, FW_HAS_PXE | FW_HAS_CLP, 0, 0, false},
        {"iSCSI with CLP installed", SelectPXE, FW_HAS_ISCSI | FW_HAS_CLP, 0, 0, false},
        {"PXE after CLP confirmed", SelectPXE, FW_HAS_PXE, PLAN_CLP_FOUND | PLAN_CLP_CONFIRMED, 0,
         false},
        {"PXE after CLP only found", SelectPXE, FW_HAS_PXE, PLAN_CLP_FOUND, 0, true},
        {"UMP installed", SelectUMP, FW_HAS_UMP, 0, 0, true},
        {"UMP not installed", SelectUMP, FW_HAS_BOOTCODE | FW_HAS_PXE, 0, 0, false},
        {"stub without its option", SelectiSCSIstub, FW_HAS_ISCSI, 0, RUN_ONLY_ISCSI, false},
        {"stub with its option", SelectiSCSIstub, 0, 0, RUN_ONLY_ISCSI_STUB, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        TearDown();
        SetUp();
        WriteAllCatalogues();
        AddAdapter(row.fw_flags);
        PlanTable[0].Flags = row.plan_flags;
        RunFlags |= row.run_flags | RUN_DEBUG;
        Feed("n\n");
        Capture();
        EXPECT_EQ(row.select(), 0);
        Collect();
        if (row.takes_part) {
            EXPECT_NE(err_.find("Examining"), std::string::npos);
            EXPECT_NE(out_.find("y/n/q (y):"), std::string::npos);
            EXPECT_EQ(RestOfInput(), "");
        } else {
            EXPECT_EQ(err_, "");
            EXPECT_EQ(out_, "");
            EXPECT_EQ(PlanTable[0].Flags, row.plan_flags);
            EXPECT_EQ(NicFwTable[0].Flags, row.fw_flags);
            EXPECT_EQ(RestOfInput(), "n\n");
        }
    }
}

// A confirmed CLP skips PXE selection in the run's order; a declined one does not.
TEST_F(FlowTest, ConfirmedClpSkipsPxe) {
    WriteAllCatalogues();
    AddAdapter(FW_HAS_PXE);
    Feed("y\n"); // CLP yes; PXE would be asked next
    Capture();
    SelectAll(0);
    Collect();
    EXPECT_EQ(PlanTable[0].Flags, PLAN_CLP_FOUND | PLAN_CLP_CONFIRMED | PLAN_ISCSI_FOUND);
    EXPECT_EQ(PlanTable[0].PxePath[0], '\0');
    EXPECT_EQ(out_.find("Update PXE"), std::string::npos);

    PlanTable[0] = UpgradePlan{};
    Feed("n\ny\n");
    Capture();
    SelectAll(0);
    Collect();
    EXPECT_EQ(PlanTable[0].Flags,
              PLAN_CLP_FOUND | PLAN_PXE_FOUND | PLAN_PXE_CONFIRMED | PLAN_ISCSI_FOUND);
}

// Quitting at the UMP prompt of the second adapter after its boot code and CLP
// were confirmed clears that adapter's whole plan word; the first keeps its bits.
TEST_F(FlowTest, QuitAtUmpClearsTheAdaptersPlan) {
    WriteAllCatalogues();
    AddAdapter(FW_HAS_BOOTCODE | FW_HAS_UMP);
    AddAdapter(FW_HAS_BOOTCODE | FW_HAS_UMP);
    // Adapter 0: boot code, CLP, UMP, iSCSI yes. Adapter 1: boot code, CLP yes, UMP quit.
    Feed("y\ny\ny\ny\ny\ny\nq\ny\n");
    Capture();
    SelectAll(0);
    const uint32_t first = PlanTable[0].Flags;
    EXPECT_EQ(RunFlags & RUN_CANCELLED, 0u);
    CurrentNic = 1;
    SelectBootCode();
    SelectCLP();
    SelectPXE();
    EXPECT_EQ(PlanTable[1].Flags,
              PLAN_BC_FOUND | PLAN_BC_CONFIRMED | PLAN_CLP_FOUND | PLAN_CLP_CONFIRMED);
    SelectUMP();
    Collect();
    EXPECT_EQ(first, PLAN_BC_FOUND | PLAN_BC_CONFIRMED | PLAN_CLP_FOUND | PLAN_CLP_CONFIRMED |
                         PLAN_UMP_FOUND | PLAN_UMP_CONFIRMED | PLAN_ISCSI_FOUND |
                         PLAN_ISCSI_CONFIRMED);
    EXPECT_EQ(PlanTable[0].Flags, first);
    EXPECT_EQ(PlanTable[1].Flags, 0u);
    EXPECT_NE(RunFlags & RUN_CANCELLED, 0u);
    EXPECT_EQ(RestOfInput(), "y\n");
}

// Both iSCSI and stub found: the shared version holds the stub's; the stub
// question compares installed iSCSI with the stub image in the iSCSI text.
TEST_F(FlowTest, IscsiAndStubShareTheVersion) {
    AddAdapter(FW_HAS_ISCSI);
    NicFwTable[0].IscsiVersion = Version8{1, 5, 0};
    RunFlags |= RUN_ONLY_ISCSI_STUB;
    WriteFile("NIC_FW/iSCSI/iSCSI.config", Rec("iscsi.bin", "2.0.0"));
    WriteFile("NIC_FW/iSCSI/iSCSI_stub.config", Rec("stub.bin", "1.0.0"));
    Feed("y\nn\n");
    Capture();
    SelectiSCSI();
    SelectiSCSIstub();
    Collect();
    const UpgradePlan &plan = PlanTable[0];
    EXPECT_STREQ(plan.IscsiPath, ".\\NIC_FW\\iSCSI\\iscsi.bin");
    EXPECT_STREQ(plan.IscsiStubPath, ".\\NIC_FW\\iSCSI\\stub.bin");
    EXPECT_EQ(plan.IscsiVersion.major, 1u);
    EXPECT_EQ(plan.IscsiVersion.minor, 0u);
    EXPECT_EQ(plan.Flags, PLAN_ISCSI_FOUND | PLAN_ISCSI_CONFIRMED | PLAN_ISCSI_STUB_FOUND);
    EXPECT_EQ(out_, Heading() + "Update iSCSI 1.5.0 to 2.0.0 -  y/n/q (y):" + Heading() +
                        RecentWarning("iSCSI", "iSCSI stub") +
                        "Update iSCSI 1.5.0 to 1.0.0 -  y/n/q (n):");
}

// What each mode takes from a catalogue of same, older, newer, newer records.
TEST_F(FlowTest, WhichRecordEachModeTakes) {
    const std::string clp = Rec("same.bin", "2.0.0") + Rec("older.bin", "1.0.0") +
                            Rec("newer1.bin", "3.0.0") + Rec("newer2.bin", "4.0.0");
    const std::string ump =
        Rec("older.bin", "1.0.0") + Rec("same.bin", "2.0.0") + Rec("newer.bin", "3.0.0");
    struct Row {
        uint32_t mode;
        const char *clp_path;
        uint32_t clp_flags;
        const char *ump_path;
        uint32_t ump_flags;
        uint32_t run_bits;
    } rows[] = {
        {RUN_SILENT, "newer1.bin", PLAN_CLP_FOUND | PLAN_CLP_CONFIRMED, "newer.bin",
         PLAN_UMP_FOUND | PLAN_UMP_CONFIRMED, 0},
        {RUN_SILENT | RUN_FORCE, "same.bin", PLAN_CLP_FOUND | PLAN_CLP_CONFIRMED, "same.bin",
         PLAN_UMP_FOUND | PLAN_UMP_CONFIRMED, RUN_HAD_ERRORS},
        {RUN_ADVISE_ONLY, "newer2.bin", PLAN_CLP_FOUND, "newer.bin", PLAN_UMP_FOUND,
         RUN_ADVISE_NEWER | RUN_ADVISE_SAME | RUN_ADVISE_OLDER},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.mode);
        TearDown();
        SetUp();
        AddAdapter(FW_HAS_UMP);
        NicFwTable[0].ClpVersion = Version8{2, 0, 0};
        NicFwTable[0].UmpVersion = Version8{2, 0, 0};
        WriteFile("NIC_FW/CLP/CLP.config", clp);
        WriteFile("NIC_FW/UMP/UMP.config", ump);
        RunFlags |= row.mode;
        Capture();
        SelectCLP();
        SelectUMP();
        Collect();
        const UpgradePlan &plan = PlanTable[0];
        EXPECT_EQ(std::string(plan.ClpPath), std::string(".\\NIC_FW\\CLP\\") + row.clp_path);
        EXPECT_EQ(std::string(plan.UmpPath), std::string(".\\NIC_FW\\UMP\\") + row.ump_path);
        EXPECT_EQ(plan.Flags, row.clp_flags | row.ump_flags);
        EXPECT_EQ(RunFlags & ~RUN_LOG_OPEN, RUN_LOG_READY | row.mode | row.run_bits);
        const bool silent = (row.mode & RUN_SILENT) != 0;
        EXPECT_EQ(out_, silent ? ""
                               : Heading() + Heading() + Heading() + Heading() + Heading() +
                                     Heading() + Heading());
    }
}

// One routine on one adapter with one catalogue: what is shown and logged,
// the plan's bits and its one path, the flags the routine adds, whether it
// announced the adapter, what is left of the input.
TEST_F(FlowTest, OneRoutineOnOneAdapter) {
    const std::string q_pxe = "Update PXE 0.0.0 to 1.0.0 -  y/n/q (y):";
    const std::string q_clp = "Update CLP 0.0.0 to 1.0.0 -  y/n/q (y):";
    struct Row {
        const char *name;
        int (*select)();
        uint32_t fw_flags;
        uint8_t installed; // the major number of UMP and iSCSI
        uint32_t mode;
        const char *catalogue; // null: none
        std::string records;
        const char *input;
        std::string out, log;
        uint32_t plan_flags;
        std::string path; // the plan's one path, when it has bits
        uint32_t run_bits;
        bool announced;
        const char *rest;
    } rows[] = {
        // Boot code selection announces the adapter before it reads its catalogue.
        {"BootCodeHeadingWithoutMatch", SelectBootCode, FW_HAS_BOOTCODE, 0, 0, nullptr, "", "",
         Heading(), Heading(), 0, "", 0, true, ""},
        // An adapter with iSCSI in its pre-boot slot reads PXE 0.0.0: every PXE image is newer.
        {"IscsiAdapterOfferedPxeAsNewer", SelectPXE, FW_HAS_ISCSI, 3, 0, "NIC_FW/PXE/MFPXE.config",
         Rec("pxe.bin", "1.0.0"), "\n", Heading() + q_pxe, Heading() + q_pxe + "\n",
         PLAN_PXE_FOUND | PLAN_PXE_CONFIRMED, ".\\NIC_FW\\PXE\\pxe.bin", 0, false, ""},
        // Quit at the first record ends the scan: later records are not offered.
        {"QuitStopsTheScan", SelectCLP, 0, 0, 0, "NIC_FW/CLP/CLP.config",
         Rec("a.bin", "1.0.0") + Rec("b.bin", "2.0.0"), "q\ny\n", Heading() + q_clp,
         Heading() + q_clp + "q\n", 0, "", RUN_CANCELLED, false, "y\n"},
        // Only older UMP images: none is taken, none is asked for, the warnings
        // go to the log only; a forced silent run ends with errors. A silent run
        // still logs the heading before each offered match.
        {"ForcedSilentOlderUmpWritesNothing", SelectUMP, FW_HAS_UMP, 5, RUN_SILENT | RUN_FORCE,
         "NIC_FW/UMP/UMP.config", Rec("old1.bin", "4.0.0") + Rec("old2.bin", "4.9.9"), "y\n", "",
         Heading() + kUmpOlderLog + Heading() + kUmpOlderLog, PLAN_UMP_FOUND,
         ".\\NIC_FW\\UMP\\old2.bin", RUN_HAD_ERRORS, false, "y\n"},
        {"InteractiveOlderUmpAsksNothing", SelectUMP, FW_HAS_UMP, 5, 0, "NIC_FW/UMP/UMP.config",
         Rec("old.bin", "4.0.0"), "y\n", Heading(), Heading() + kUmpOlderLog, PLAN_UMP_FOUND,
         ".\\NIC_FW\\UMP\\old.bin", 0, false, "y\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TearDown();
        SetUp();
        AddAdapter(row.fw_flags);
        NicFwTable[0].UmpVersion = NicFwTable[0].IscsiVersion = Version8{row.installed, 0, 0};
        if (row.catalogue != nullptr) {
            WriteFile(row.catalogue, row.records);
        }
        RunFlags |= row.mode;
        Feed(row.input);
        Capture();
        EXPECT_EQ(row.select(), 0);
        Collect();
        const UpgradePlan &plan = PlanTable[0];
        EXPECT_EQ(out_, row.out);
        EXPECT_EQ(Log(), row.log);
        EXPECT_EQ(plan.Flags, row.plan_flags);
        if (row.plan_flags != 0) {
            EXPECT_EQ(std::string(plan.BootCodePath) + plan.PxePath + plan.UmpPath + plan.ClpPath +
                          plan.IscsiPath + plan.IscsiStubPath,
                      row.path);
        }
        EXPECT_EQ(RunFlags & ~RUN_LOG_OPEN, RUN_LOG_READY | row.mode | row.run_bits);
        EXPECT_EQ((NicFwTable[0].Flags & FW_ANNOUNCED) != 0, row.announced);
        EXPECT_EQ(RestOfInput(), row.rest);
    }
}

// Advise only over two adapters: one newer, one older image.
TEST_F(FlowTest, AdviseOnlyAccumulatesOverAdapters) {
    AddAdapter(FW_HAS_BOOTCODE);
    AddAdapter(FW_HAS_BOOTCODE);
    NicFwTable[0].BootCodeVersion = Version{1, 0, 0};
    NicFwTable[1].BootCodeVersion = Version{3, 0, 0};
    WriteFile("NIC_FW/Boot_Code/BC.config", Rec("bc.bin", "2.0.0"));
    RunFlags |= RUN_ADVISE_ONLY;
    Capture();
    CurrentNic = 0;
    SelectBootCode();
    CurrentNic = 1;
    SelectBootCode();
    Collect();
    EXPECT_EQ(RunFlags & (RUN_ADVISE_NEWER | RUN_ADVISE_SAME | RUN_ADVISE_OLDER),
              RUN_ADVISE_NEWER | RUN_ADVISE_OLDER);
    EXPECT_EQ(PlanTable[0].Flags, PLAN_BC_FOUND);
    EXPECT_EQ(PlanTable[1].Flags, PLAN_BC_FOUND);
}

// An index outside the tables is refused rather than read.
TEST_F(FlowTest, CurrentNicOutsideTables) {
    AddAdapter(FW_HAS_BOOTCODE | FW_HAS_PXE | FW_HAS_UMP);
    WriteAllCatalogues();
    RunFlags |= RUN_ONLY_ISCSI_STUB;
    Capture();
    SelectAll(1);
    Collect();
    EXPECT_EQ(out_, "");
    EXPECT_EQ(PlanTable.size(), 1u);
    EXPECT_EQ(PlanTable[0].Flags, 0u);
}

// The plan's bits are shared with the writers, the reports and restore
// selection: each is one bit of its own; the answer codes are three apart.
TEST(PlanValues, BitsAndAnswers) {
    const uint32_t bits[] = {PLAN_PXE_FOUND,         PLAN_BC_FOUND,
                             PLAN_RESTORE_CONFIRMED, PLAN_BC_CONFIRMED,
                             PLAN_PXE_CONFIRMED,     PLAN_VERSIONS_KNOWN,
                             PLAN_UMP_FOUND,         PLAN_UMP_CONFIRMED,
                             PLAN_CLP_FOUND,         PLAN_CLP_CONFIRMED,
                             PLAN_ISCSI_FOUND,       PLAN_ISCSI_STUB_FOUND,
                             PLAN_ISCSI_CONFIRMED,   PLAN_ISCSI_STUB_CONFIRMED};
    uint32_t seen = 0;
    for (uint32_t bit : bits) {
        EXPECT_EQ(bit & (bit - 1), 0u) << bit << " is one bit";
        EXPECT_EQ(seen & bit, 0u) << bit << " is shared";
        seen |= bit;
    }
    EXPECT_NE(ANSWER_YES, ANSWER_NO);
    EXPECT_NE(ANSWER_NO, ANSWER_QUIT);
    EXPECT_NE(ANSWER_YES, ANSWER_QUIT);
}

} // namespace
} // namespace select_test
