// Reading the image catalogues: the six files and directories, the token rules
// with the 20-character identity, matching, the version text, list mode, and
// refused over-long records.
#include "select_fixture.h"

namespace select_test {
namespace {

std::string ClpPrompt(const char *selected) {
    return std::string("Update CLP 0.0.0 to ") + selected + " -  y/n/q (y):";
}

class CatalogueTest : public SelectTest {
  protected:
    // One adapter that every routine takes part for.
    void SetUp() override {
        SelectTest::SetUp();
        AddAdapter(FW_HAS_BOOTCODE | FW_HAS_PXE | FW_HAS_UMP);
        RunFlags |= RUN_ONLY_ISCSI_STUB;
    }
    void Clp(const std::string &content) { WriteFile("NIC_FW/CLP/CLP.config", content); }
    void RunClp() {
        Capture();
        SelectCLP();
        Collect();
    }
    const UpgradePlan &Plan() const { return PlanTable[0]; }
    static bool IsZero(const UpgradePlan &plan) {
        static const UpgradePlan zero{};
        return memcmp(&plan, &zero, sizeof plan) == 0;
    }
};

struct ComponentRow {
    int (*select)();
    const char *host_catalogue;
    const char *catalogue;
    const char *image_dir;
    const char *name;    // in the examining and found messages
    const char *routine; // in the open-failure message
    const char *text;    // in the question
    char (UpgradePlan::*path)[PLAT_PATH_MAX];
    Version UpgradePlan::*version;
    uint32_t found, confirmed;
};

const ComponentRow kComponents[] = {
    {SelectBootCode, "NIC_FW/Boot_Code/BC.config", ".\\NIC_FW\\Boot_Code\\BC.config",
     ".\\NIC_FW\\Boot_Code\\", "BC", "SelectBootCode", "Boot Code", &UpgradePlan::BootCodePath,
     &UpgradePlan::BootCodeVersion, PLAN_BC_FOUND, PLAN_BC_CONFIRMED},
    {SelectPXE, "NIC_FW/PXE/MFPXE.config", ".\\NIC_FW\\PXE\\MFPXE.config", ".\\NIC_FW\\PXE\\",
     "PXE", "SelectPXE", "PXE", &UpgradePlan::PxePath, &UpgradePlan::PxeVersion, PLAN_PXE_FOUND,
     PLAN_PXE_CONFIRMED},
    {SelectUMP, "NIC_FW/UMP/UMP.config", ".\\NIC_FW\\UMP\\UMP.config", ".\\NIC_FW\\UMP\\", "UMP",
     "SelectUMP", "UMP", &UpgradePlan::UmpPath, &UpgradePlan::UmpVersion, PLAN_UMP_FOUND,
     PLAN_UMP_CONFIRMED},
    {SelectCLP, "NIC_FW/CLP/CLP.config", ".\\NIC_FW\\CLP\\CLP.config", ".\\NIC_FW\\CLP\\", "CLP",
     "SelectCLP", "CLP", &UpgradePlan::ClpPath, &UpgradePlan::ClpVersion, PLAN_CLP_FOUND,
     PLAN_CLP_CONFIRMED},
    {SelectiSCSI, "NIC_FW/iSCSI/iSCSI.config", ".\\NIC_FW\\iSCSI\\iSCSI.config",
     ".\\NIC_FW\\iSCSI\\", "iSCSI", "SelectiSCSI", "iSCSI", &UpgradePlan::IscsiPath,
     &UpgradePlan::IscsiVersion, PLAN_ISCSI_FOUND, PLAN_ISCSI_CONFIRMED},
    {SelectiSCSIstub, "NIC_FW/iSCSI/iSCSI_stub.config", ".\\NIC_FW\\iSCSI\\iSCSI_stub.config",
     ".\\NIC_FW\\iSCSI\\", "iSCSI stub", "SelectiSCSIstub", "iSCSI", &UpgradePlan::IscsiStubPath,
     &UpgradePlan::IscsiVersion, PLAN_ISCSI_STUB_FOUND, PLAN_ISCSI_STUB_CONFIRMED},
};

std::string Examining(const ComponentRow &c) {
    return std::string("Examining ") + c.name + " files for " + kDescription + " MAC:" + kMac +
           "\r\n";
}

// A missing catalogue: the examining and open-failure lines on standard error,
// the plan untouched, nothing asked.
TEST_F(CatalogueTest, MissingCatalogueLeavesPlanUnchanged) {
    for (const ComponentRow &c : kComponents) {
        SCOPED_TRACE(c.routine);
        RunFlags |= RUN_DEBUG;
        UpgradePlan &plan = PlanTable[0];
        memset(&plan, 0x5A, sizeof plan);
        const UpgradePlan before = plan;
        NicFwTable[0].Flags &= ~FW_ANNOUNCED;
        Feed("y\n");
        Capture();
        EXPECT_EQ(c.select(), 0);
        Collect();
        EXPECT_EQ(err_, Examining(c) + c.routine + "() open() " + c.catalogue + " failed 2\r\n");
        EXPECT_EQ(memcmp(&plan, &before, sizeof plan), 0);
        EXPECT_EQ(out_, c.select == SelectBootCode ? Heading() : "");
        EXPECT_EQ(RestOfInput(), "y\n");
        EXPECT_EQ(RunFlags & (RUN_HAD_ERRORS | RUN_CANCELLED), 0u);
    }
}

// Each routine reads its own file, joins its directory and the file name, and
// records path, version and bits in its own fields.
TEST_F(CatalogueTest, EachComponentRecordsItsMatch) {
    for (const ComponentRow &c : kComponents) {
        SCOPED_TRACE(c.routine);
        TearDown();
        SetUp();
        RunFlags |= RUN_DEBUG;
        WriteFile(c.host_catalogue,
                  "0000-0000-0000-0000 other.bin 9.9.9\n" + Rec("sub\\img.bin", "v2.3.1"));
        Feed("\n");
        Capture();
        EXPECT_EQ(c.select(), 0);
        Collect();
        const UpgradePlan &plan = Plan();
        const std::string path = std::string(c.image_dir) + "sub\\img.bin";
        EXPECT_STREQ(plan.*c.path, path.c_str());
        const Version &v = plan.*c.version;
        EXPECT_EQ(v.major, 2u);
        EXPECT_EQ(v.minor, 3u);
        EXPECT_EQ(v.build, 1u);
        EXPECT_EQ(plan.Flags, c.found | c.confirmed);
        EXPECT_EQ(err_, Examining(c) + "Found " + c.name + " file (" + path + ")!\r\n");
        EXPECT_EQ(out_, Heading() + "Update " + c.text + " 0.0.0 to 2.3.1 -  y/n/q (y):");
        // Only the boot code scan copies the adapter's identity.
        const bool bc = c.select == SelectBootCode;
        EXPECT_EQ(plan.ImageVendorId, bc ? kVendor : 0);
        EXPECT_EQ(plan.ImageDeviceId, bc ? kDevice : 0);
        EXPECT_EQ(plan.ImageSubsystemVendorId, bc ? kSubVendor : 0);
        EXPECT_EQ(plan.ImageSubsystemId, bc ? kSubsystem : 0);
        // Only boot code selection marks the adapter as announced.
        EXPECT_EQ((NicFwTable[0].Flags & FW_ANNOUNCED) != 0, bc);
        // No other field was written.
        UpgradePlan expected{};
        memcpy(expected.*c.path, plan.*c.path, PLAT_PATH_MAX);
        expected.*c.version = plan.*c.version;
        expected.Flags = plan.Flags;
        expected.ImageVendorId = plan.ImageVendorId;
        expected.ImageDeviceId = plan.ImageDeviceId;
        expected.ImageSubsystemVendorId = plan.ImageSubsystemVendorId;
        expected.ImageSubsystemId = plan.ImageSubsystemId;
        EXPECT_EQ(memcmp(&plan, &expected, sizeof plan), 0);
    }
}

// Boot code (when its catalogue is given) then CLP scanned on one catalogue
// each: the heading comes before each offered match while the adapter is not
// announced; a declined match stays found; list mode records the first match
// only, asks nothing and confirms nothing.
struct ScanRow {
    const char *name;
    uint32_t flags;
    bool bc_first; // boot code selected first, on this catalogue
    std::string bc, clp;
    const char *input;
    const char *bc_path, *clp_path; // "" none
    uint32_t clp_major;
    uint32_t plan_flags;
    std::string out;
    bool announced;
    const char *rest;
};

const ScanRow kScans[] = {
    {"EmptyAndBlankCataloguesOfferNothing/empty", 0, false, "", "", "y\n", "", "", 0, 0, "", false,
     "y\n"},
    {"EmptyAndBlankCataloguesOfferNothing/blank", 0, false, "", " \n\t\r\n   \n\n", "y\n", "", "",
     0, 0, "", false, "y\n"},
    {"SecondRecordOfferedAfterFirstDeclined", 0, false, "",
     Rec("first.bin", "1.0.0") + Rec("second.bin", "2.0.0") + Rec("third.bin", "3.0.0"), "n\n\n",
     "", ".\\NIC_FW\\CLP\\second.bin", 2, PLAN_CLP_FOUND | PLAN_CLP_CONFIRMED,
     Heading() + ClpPrompt("1.0.0") + Heading() + ClpPrompt("2.0.0"), false, ""},
    {"AllDeclinedKeepsLastMatchFound", 0, false, "",
     Rec("first.bin", "1.0.0") + "0000-0000-0000-0000 x.bin 9.0.0\n" + Rec("second.bin", "2.0.0"),
     "n\nno\n", "", ".\\NIC_FW\\CLP\\second.bin", 2, PLAN_CLP_FOUND,
     Heading() + ClpPrompt("1.0.0") + Heading() + ClpPrompt("2.0.0"), false, ""},
    // After boot code selection announced the adapter, later components print no heading.
    {"HeadingOnceAfterBootCode", 0, true, "",
     std::string(kIdentity) + " a.bin 1.0.0 " + kIdentity + " b.bin 1.1.0", "n\nn\n", "",
     ".\\NIC_FW\\CLP\\b.bin", 1, PLAN_CLP_FOUND,
     Heading() + ClpPrompt("1.0.0") + ClpPrompt("1.1.0"), true, ""},
    {"ListModeRecordsFirstMatchOnly", RUN_LIST, true,
     Rec("bc1.bin", "1.0.0") + Rec("bc2.bin", "2.0.0"),
     Rec("first.bin", "1.0.0") + Rec("second.bin", "2.0.0"), "y\n", ".\\NIC_FW\\Boot_Code\\bc1.bin",
     ".\\NIC_FW\\CLP\\first.bin", 1, PLAN_BC_FOUND | PLAN_CLP_FOUND, "", false, "y\n"},
};

TEST_F(CatalogueTest, ScansOfferAndRecord) {
    for (const ScanRow &row : kScans) {
        SCOPED_TRACE(row.name);
        TearDown();
        SetUp();
        RunFlags |= row.flags;
        Clp(row.clp);
        Feed(row.input);
        Capture();
        if (row.bc_first) {
            WriteFile("NIC_FW/Boot_Code/BC.config", row.bc);
            SelectBootCode();
        }
        SelectCLP();
        Collect();
        EXPECT_STREQ(Plan().BootCodePath, row.bc_path);
        EXPECT_STREQ(Plan().ClpPath, row.clp_path);
        EXPECT_EQ(Plan().ClpVersion.major, row.clp_major);
        EXPECT_EQ(Plan().Flags, row.plan_flags);
        EXPECT_EQ(Plan().ImageDeviceId, (row.plan_flags & PLAN_BC_FOUND) != 0 ? kDevice : 0);
        if (row.plan_flags == 0) {
            EXPECT_TRUE(IsZero(Plan()));
        }
        EXPECT_EQ(out_, row.out);
        EXPECT_EQ((NicFwTable[0].Flags & FW_ANNOUNCED) != 0, row.announced);
        EXPECT_EQ(RestOfInput(), row.rest);
    }
}

struct MatchRow {
    const char *what;
    std::string content;
    const char *path; // nullptr: nothing matches
    Version version;
};

TEST_F(CatalogueTest, TokensAndMatching) {
    const std::string id = kIdentity;
    const MatchRow rows[] = {
        {"lower-case identity", "1234-abcd-5678-0001 a.bin 1.0.0\n", nullptr, {}},
        {"identity with a 20th character", id + "0 a.bin 1.0.0\n", nullptr, {}},
        {"identity prefix", "1234-ABCD-5678-000 a.bin 1.0.0\n", nullptr, {}},
        // The 21st character and on become the file name: the record stays aligned.
        {"split keeps alignment",
         id + "Xq.bin 9.9.9\n" + id + " shifted.bin 5.0.0\n",
         ".\\NIC_FW\\CLP\\shifted.bin",
         {5, 0, 0}},
        // A 21-character identity yields one token more: the next record is misread.
        {"split shifts the next record",
         id + "XY a.bin 1.0.0\n" + id + " b.bin 2.0.0\n",
         nullptr,
         {}},
        {"shift brings a match", id + "XY " + id + " shifted.bin 4.0.0\n", nullptr, {}},
        {"record over several lines",
         "\n" + id + "\n\n   multi.bin\n\t\tv2.3.1\n",
         ".\\NIC_FW\\CLP\\multi.bin",
         {2, 3, 1}},
        {"tabs and carriage returns",
         id + "\ttab.bin\r\n3.1\r\n",
         ".\\NIC_FW\\CLP\\tab.bin",
         {3, 3, 1}},
        {"v3.1.2", id + " v.bin v3.1.2", ".\\NIC_FW\\CLP\\v.bin", {3, 1, 2}},
        {"record cut short", id + " a.bin", nullptr, {}},
        {"record cut short after others", "0000-0000-0000-0000 a.bin 1.0.0 " + id, nullptr, {}},
        {"misaligned file", "extra " + id + " a.bin 1.0.0\n", nullptr, {}},
        {"misaligned into a match",
         "a b " + id + " a.bin 1.0.0 x " + id + " m.bin 7.1.1",
         ".\\NIC_FW\\CLP\\m.bin",
         {7, 1, 1}},
    };
    for (const MatchRow &row : rows) {
        SCOPED_TRACE(row.what);
        TearDown();
        SetUp();
        RunFlags |= RUN_LIST;
        Clp(row.content);
        RunClp();
        if (row.path == nullptr) {
            EXPECT_TRUE(IsZero(Plan())) << Plan().ClpPath;
        } else {
            EXPECT_STREQ(Plan().ClpPath, row.path);
            EXPECT_EQ(Plan().ClpVersion.major, row.version.major);
            EXPECT_EQ(Plan().ClpVersion.minor, row.version.minor);
            EXPECT_EQ(Plan().ClpVersion.build, row.version.build);
            EXPECT_EQ(Plan().Flags, PLAN_CLP_FOUND);
        }
    }
}

// The identity text: four groups of four upper-case hex digits, vendor, device,
// subsystem vendor, subsystem.
TEST_F(CatalogueTest, IdentityText) {
    NicFwTable[0].VendorId = 0x000A;
    NicFwTable[0].DeviceId = 0x0B0C;
    NicFwTable[0].SubsystemVendorId = 0xFFFF;
    NicFwTable[0].SubsystemId = 0x0000;
    RunFlags |= RUN_LIST;
    Clp("000A-0B0C-0000-FFFF wrong.bin 1.0.0 000a-0b0c-ffff-0000 lower.bin 1.0.0 "
        "000A-0B0C-FFFF-0000 right.bin 1.0.0");
    RunClp();
    EXPECT_STREQ(Plan().ClpPath, ".\\NIC_FW\\CLP\\right.bin");
}

// Nothing is cut: a record whose path would not fit, or whose version text is
// longer than its field, is skipped with a debug line and the scan goes on.
TEST_F(CatalogueTest, OverLongRecordsAreSkipped) {
    const std::string dir = ".\\NIC_FW\\CLP\\"; // 13 characters
    const std::string fits(259 - dir.size(), 'f');
    const std::string too_long(260 - dir.size(), 'g');
    const std::string huge(400, 'h');
    const std::string version_fits = std::string(58, '0') + "1.2.3"; // 63 characters
    const std::string version_too_long = std::string(59, '0') + "1.2.3";
    const std::string id = kIdentity;
    const std::string skipped = "SelectCLP() .\\NIC_FW\\CLP\\CLP.config: record for " + id +
                                " skipped, file name or version too long\r\n";
    struct Row {
        std::string content;
        std::string path; // "" nothing
        int skips;
    } rows[] = {
        {Rec(fits, "1.0.0"), dir + fits, 0},
        {Rec(too_long, "1.0.0") + Rec("next.bin", "2.0.0"), dir + "next.bin", 1},
        {Rec(huge, "1.0.0") + Rec("next.bin", "2.0.0"), dir + "next.bin", 1},
        {Rec("v.bin", version_fits), dir + "v.bin", 0},
        {Rec("w.bin", version_too_long) + Rec("next.bin", "2.0.0"), dir + "next.bin", 1},
        {Rec(too_long, "1.0.0"), "", 1},
        // Records of other adapters are not looked at.
        {"0000-0000-0000-0000 " + huge + " 1.0.0\n", "", 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.content.substr(0, 40));
        TearDown();
        SetUp();
        RunFlags |= RUN_LIST | RUN_DEBUG;
        Clp(row.content);
        RunClp();
        EXPECT_STREQ(Plan().ClpPath, row.path.c_str());
        std::string expected_err = Examining(kComponents[3]);
        for (int i = 0; i < row.skips; ++i) {
            expected_err += skipped;
        }
        if (!row.path.empty()) {
            expected_err += "Found CLP file (" + row.path + ")!\r\n";
        }
        EXPECT_EQ(err_, expected_err);
    }
}

TEST(CatalogueVersion, RightToLeftParse) {
    struct Row {
        const char *text;
        Version expected;
    } rows[] = {
        {"2.3.1", {2, 3, 1}},
        {"v10.2.17", {10, 2, 17}},
        {"1.2.3.4", {1, 3, 4}},
        {"4.2", {4, 4, 2}},
        {"5", {5, 5, 5}},
        {"v3.1.2", {3, 1, 2}},
        {"3.1", {3, 3, 1}},
        {"1v0.v2.3v", {10, 2, 3}},
        {"V1.2.3", {0, 2, 3}},
        {"3a.4b.5c", {3, 4, 5}},
        {"x.y.z", {0, 0, 0}},
        {"", {0, 0, 0}},
        {"1..2", {1, 0, 2}},
        {"-1.+2.-3", {0xFFFFFFFFu, 2, 0xFFFFFFFDu}},
        {"4294967296.2147483647.2147483648", {2147483647u, 2147483647u, 2147483647u}},
        {"-99999999999.0.0", {0x80000000u, 0, 0}},
    };
    for (const Row &row : rows) {
        const Version v = ParseCatalogueVersion(row.text);
        EXPECT_EQ(v.major, row.expected.major) << row.text;
        EXPECT_EQ(v.minor, row.expected.minor) << row.text;
        EXPECT_EQ(v.build, row.expected.build) << row.text;
    }
}

} // namespace
} // namespace select_test
