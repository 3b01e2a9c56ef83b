// The NVRAM directory scan, ReadInstalledFirmware and BuildFirmwareTable,
// against the simulated library.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "adapter/firmware.h"
#include "adapter/inventory.h"
#include "run/runflags.h"
#include "test_sim_fixture.h"

namespace {

constexpr uint32_t E0 = 24; // directory entry 0
constexpr uint32_t E1 = 36; // directory entry 1
constexpr uint32_t IMG_A = 0x400;
constexpr uint32_t IMG_B = 0x800;

// Every field zero (compared field by field: the record has padding).
bool IsZeroRecord(const NicFwInfo &r) {
    auto zero = [](const void *p, size_t n) {
        const unsigned char *b = static_cast<const unsigned char *>(p);
        for (size_t i = 0; i < n; i++) {
            if (b[i] != 0) {
                return false;
            }
        }
        return true;
    };
    return r.Flags == 0 && zero(r.Description, sizeof r.Description) &&
           zero(&r.BootCodeVersion, sizeof r.BootCodeVersion) && r.DeviceId == 0 &&
           r.SubsystemId == 0 && r.VendorId == 0 && r.SubsystemVendorId == 0 &&
           zero(r.MacText, sizeof r.MacText) && zero(&r.PxeVersion, sizeof r.PxeVersion) &&
           zero(&r.UmpVersion, sizeof r.UmpVersion) && zero(&r.ClpVersion, sizeof r.ClpVersion) &&
           zero(&r.IscsiVersion, sizeof r.IscsiVersion);
}

class FirmwareTest : public SimFixture {
  protected:
    void SetUp() override {
        SimFixture::SetUp();
        UseSimulatedLibrary();
    }
    // Serves the adapters and puts them into NicTable with the inventory.
    void UseAdapters() {
        ServeInventory();
        CurrentNic = 0;
    }
    // Listed as handle 100, port handle 200.
    Port &One() {
        if (ports_.empty()) {
            AddPort(100, 200, "Port 0", "0A1B2C3D4E5F");
        }
        return ports_[0];
    }
    // The port as BuildFirmwareTable leaves it: in diagnostic mode.
    void EnterDiag() {
        ASSERT_EQ(SimInitDiag(200), 0u);
        NicTable[0].DiagOpen = 1;
        ForgetCalls();
    }
    struct Scan {
        bool pxe = false;
        bool clp = false;
        bool iscsi = false;
    };
    Scan RunScan() {
        One();
        UseAdapters();
        Scan s;
        ScanNvramDirectory(s.pxe, s.clp, s.iscsi);
        return s;
    }
    static std::vector<uint32_t> AllDirectoryWords() {
        std::vector<uint32_t> v;
        for (uint32_t k = 0; k < 16; k++) {
            v.push_back(24 + 12 * k);
        }
        return v;
    }
};

// --- ScanNvramDirectory ---

TEST_F(FirmwareTest, PxeFirstEndsTheScanBeforeALaterClp) {
    PutDirEntry(One().nvram, 0, 1, IMG_A);
    PutPxeImage(One().nvram, IMG_A);
    PutDirEntry(One().nvram, 1, 1, IMG_B);
    PutClpImage(One().nvram, IMG_B);
    Scan s = RunScan();
    EXPECT_TRUE(s.pxe);
    EXPECT_FALSE(s.clp);
    EXPECT_FALSE(s.iscsi);
    EXPECT_EQ(Reads(), (std::vector<uint32_t>{E0, E0 + 4, IMG_A + 32}));
    EXPECT_TRUE(Misuse().empty());
}

TEST_F(FirmwareTest, ClpThenPxeFindsBoth) {
    PutDirEntry(One().nvram, 0, 1, IMG_A);
    PutClpImage(One().nvram, IMG_A);
    PutDirEntry(One().nvram, 1, 1, IMG_B);
    PutPxeImage(One().nvram, IMG_B);
    Scan s = RunScan();
    EXPECT_TRUE(s.pxe);
    EXPECT_TRUE(s.clp);
    EXPECT_FALSE(s.iscsi);
    // The CLP test reads the word at +32 a second time.
    EXPECT_EQ(Reads(), (std::vector<uint32_t>{E0, E0 + 4, IMG_A + 32, IMG_A + 32, IMG_A + 36,
                                              IMG_A + 40, E1, E1 + 4, IMG_B + 32}));
}

TEST_F(FirmwareTest, IscsiEndsTheScan) {
    PutDirEntry(One().nvram, 0, 1, IMG_A);
    PutIscsiImage(One().nvram, IMG_A);
    PutDirEntry(One().nvram, 1, 1, IMG_B);
    PutPxeImage(One().nvram, IMG_B);
    Scan s = RunScan();
    EXPECT_FALSE(s.pxe);
    EXPECT_FALSE(s.clp);
    EXPECT_TRUE(s.iscsi);
    EXPECT_EQ(Reads(), (std::vector<uint32_t>{E0, E0 + 4, IMG_A + 32, IMG_A + 36, IMG_A + 40}));
}

TEST_F(FirmwareTest, EntryOfAnotherTypeIsNotFollowed) {
    PutDirEntry(One().nvram, 0, 2, IMG_A); // would point at a PXE image
    PutPxeImage(One().nvram, IMG_A);
    PutDirEntry(One().nvram, 1, 0xF, IMG_A);
    Scan s = RunScan();
    EXPECT_FALSE(s.pxe || s.clp || s.iscsi);
    EXPECT_EQ(Reads(), AllDirectoryWords()); // no image offset, no image word
}

TEST_F(FirmwareTest, EmptyDirectoryReadsEveryEntryOnce) {
    Scan s = RunScan();
    EXPECT_FALSE(s.pxe || s.clp || s.iscsi);
    EXPECT_EQ(Reads(), AllDirectoryWords());
    EXPECT_EQ(CallCount("OmbriInitDiag"), 1);
}

// Signatures that are almost right find nothing.
struct NearMiss {
    const char *what;
    uint32_t w32;
    uint32_t w36;
    uint32_t w40;
};

TEST_F(FirmwareTest, NearMissSignaturesFindNothing) {
    const NearMiss cases[] = {
        {"pxe off by one", 0x49444E54, 0, 0},
        {"iscsi second word", 0x49000000, 0x20544254, 0x00202020},
        {"iscsi third word", 0x49000000, 0x20544253, 0x00202021},
        {"clp second word", 0x43000000, 0x4820504D, 0x00205244},
        {"clp third word", 0x43000000, 0x4820504C, 0x00205245},
        {"clp words under iscsi top byte", 0x49000000, 0x4820504C, 0x00205244},
        {"iscsi words under clp top byte", 0x43000000, 0x20544253, 0x00202020},
    };
    for (const NearMiss &c : cases) {
        ports_.clear();
        PutDirEntry(One().nvram, 0, 1, IMG_A);
        Put32(One().nvram, IMG_A + 32, c.w32);
        Put32(One().nvram, IMG_A + 36, c.w36);
        Put32(One().nvram, IMG_A + 40, c.w40);
        Scan s = RunScan();
        EXPECT_FALSE(s.pxe || s.clp || s.iscsi) << c.what;
    }
}

TEST_F(FirmwareTest, TopByteAndLow24BitsAreAllThatCount) {
    PutDirEntry(One().nvram, 0, 1, IMG_A);
    Put32(One().nvram, IMG_A + 32, 0x43FFFFFF);
    Put32(One().nvram, IMG_A + 36, 0x4820504C);
    Put32(One().nvram, IMG_A + 40, 0x12205244);
    PutDirEntry(One().nvram, 1, 1, IMG_B);
    Put32(One().nvram, IMG_B + 32, 0x49000001);
    Put32(One().nvram, IMG_B + 36, 0x20544253);
    Put32(One().nvram, IMG_B + 40, 0xAB202020);
    Scan s = RunScan();
    EXPECT_TRUE(s.clp);
    EXPECT_TRUE(s.iscsi);
}

TEST_F(FirmwareTest, ReadFailureAfterClpMatchKeepsTheClp) {
    RunFlags |= RUN_DEBUG;
    Port &a = One();
    SetTexts(a, "", "2.4.1", "");
    PutDirEntry(a.nvram, 0, 1, IMG_A);
    PutClpImage(a.nvram, IMG_A);
    PutDirEntry(a.nvram, 1, 1, IMG_B);
    PutPxeImage(a.nvram, IMG_B);
    lines_ = "fault OmbriReadFirmware status=31 at=7\n"; // the word of directory entry 1
    UseAdapters();
    NicFwInfo info{};
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(ReadInstalledFirmware(info), 1);
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "OmbriReadFirmware() failed 31\r\n");
    EXPECT_EQ(out, "Failed to read NVRAM!\r\n");
    EXPECT_EQ(info.Flags, FW_HAS_CLP);
    EXPECT_EQ(info.ClpVersion.major, 2);
    EXPECT_EQ(info.ClpVersion.minor, 4);
    EXPECT_EQ(info.ClpVersion.build, 1);
    EXPECT_EQ(info.PxeVersion.major, 0u);
    EXPECT_EQ(Reads().size(), 7u); // nothing read after the failure
}

TEST_F(FirmwareTest, ScanInitDiagFailureEndsTheScanUnread) {
    RunFlags |= RUN_DEBUG;
    lines_ = "fault OmbriInitDiag status=0x57\n";
    testing::internal::CaptureStderr();
    Scan s = RunScan();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "OmbriInitDiag() failed 87\n");
    EXPECT_FALSE(s.pxe || s.clp || s.iscsi);
    EXPECT_TRUE(Reads().empty());
    EXPECT_EQ(NicTable[0].DiagOpen, 0u);
}

TEST_F(FirmwareTest, ScanOpensDiagnosticModeOnceAndLeavesItOpen) {
    Scan s = RunScan();
    (void)s;
    EXPECT_EQ(CallCount("OmbriInitDiag"), 1);
    EXPECT_EQ(CallCount("OmbriUnInitDiag"), 0);
    EXPECT_EQ(NicTable[0].DiagOpen, 1u);
}

// --- ReadInstalledFirmware ---

TEST_F(FirmwareTest, EmptyPreBootTextReadsNoNvram) {
    SetTexts(One(), "5.0.3", "", "1.2.3");
    PutDirEntry(One().nvram, 0, 1, IMG_A);
    PutPxeImage(One().nvram, IMG_A);
    UseAdapters();
    EnterDiag();
    NicFwInfo info{};
    ReadInstalledFirmware(info);
    EXPECT_EQ(info.Flags, FW_HAS_BOOTCODE | FW_HAS_UMP);
    EXPECT_EQ(CallCount("OmbriReadFirmware"), 0);
}

TEST_F(FirmwareTest, OnlyBootCodeText) {
    SetTexts(One(), "bc 1.9.6", "", "");
    UseAdapters();
    EnterDiag();
    NicFwInfo info{};
    ReadInstalledFirmware(info);
    EXPECT_EQ(info.Flags, FW_HAS_BOOTCODE);
    EXPECT_EQ(info.BootCodeVersion.major, 1u);
    EXPECT_EQ(info.BootCodeVersion.minor, 9u);
    EXPECT_EQ(info.BootCodeVersion.build, 6u);
    EXPECT_EQ(CallCount("OmbriReadFirmware"), 0);
    EXPECT_TRUE(Misuse().empty());
}

TEST_F(FirmwareTest, PreBootTextWithoutMatchingImageIsUnused) {
    SetTexts(One(), "", "8.3.2", "");
    UseAdapters();
    NicFwInfo info{};
    ReadInstalledFirmware(info);
    EXPECT_EQ(info.Flags, 0u);
    EXPECT_EQ(info.PxeVersion.major, 0u);
    EXPECT_EQ(info.ClpVersion.major, 0);
    EXPECT_EQ(info.IscsiVersion.major, 0);
    EXPECT_EQ(Reads().size(), 16u);
}

TEST_F(FirmwareTest, PreBootTextGoesToTheKindFound) {
    struct Case {
        const char *what;
        void (*put)(std::vector<uint8_t> &, uint32_t);
        uint32_t flag;
    };
    const Case cases[] = {{"pxe", PutPxeImage, FW_HAS_PXE},
                          {"clp", PutClpImage, FW_HAS_CLP},
                          {"iscsi", PutIscsiImage, FW_HAS_ISCSI}};
    for (const Case &c : cases) {
        ports_.clear();
        SetTexts(One(), "", "300.7.9", "");
        PutDirEntry(One().nvram, 3, 1, IMG_A);
        c.put(One().nvram, IMG_A);
        UseAdapters();
        NicFwInfo info{};
        ReadInstalledFirmware(info);
        EXPECT_EQ(info.Flags, c.flag) << c.what;
        if (c.flag == FW_HAS_PXE) {
            EXPECT_EQ(info.PxeVersion.major, 300u); // 32-bit: not cut
        } else {
            EXPECT_EQ(info.PxeVersion.major, 0u) << c.what;
        }
        const Version8 &v8 = c.flag == FW_HAS_CLP ? info.ClpVersion : info.IscsiVersion;
        if (c.flag != FW_HAS_PXE) {
            EXPECT_EQ(v8.major, 44) << c.what; // 300 keeps its low 8 bits
            EXPECT_EQ(v8.minor, 7) << c.what;
            EXPECT_EQ(v8.build, 9) << c.what;
        }
    }
}

TEST_F(FirmwareTest, UmpTextIsCutToEightBits) {
    SetTexts(One(), "", "", "300.1.2");
    UseAdapters();
    NicFwInfo info{};
    ReadInstalledFirmware(info);
    EXPECT_EQ(info.Flags, FW_HAS_UMP);
    EXPECT_EQ(info.UmpVersion.major, 44);
    EXPECT_EQ(info.UmpVersion.minor, 1);
    EXPECT_EQ(info.UmpVersion.build, 2);
}

TEST_F(FirmwareTest, SecondReadKeepsBitsAndOverwritesOnlyPresentTexts) {
    Port &a = One();
    SetTexts(a, "5.0.3", "8.3.2", "");
    PutDirEntry(a.nvram, 0, 1, IMG_A);
    PutPxeImage(a.nvram, IMG_A);
    UseAdapters();
    NicFwInfo info{};
    ReadInstalledFirmware(info);
    ASSERT_EQ(info.Flags, FW_HAS_BOOTCODE | FW_HAS_PXE);

    SetTexts(ports_[0], "", "", "2.1.0");
    ServeImages();
    info.Flags |= FW_ANNOUNCED;
    ReadInstalledFirmware(info);
    EXPECT_EQ(info.Flags, FW_HAS_BOOTCODE | FW_HAS_PXE | FW_ANNOUNCED | FW_HAS_UMP);
    EXPECT_EQ(info.BootCodeVersion.major, 5u);
    EXPECT_EQ(info.BootCodeVersion.build, 3u);
    EXPECT_EQ(info.PxeVersion.major, 8u);
    EXPECT_EQ(info.UmpVersion.major, 2);
}

TEST_F(FirmwareTest, TernFailureUsesTheBlockAsItStands) {
    RunFlags |= RUN_DEBUG;
    lines_ = "fault OmbriGetTernFwInfo status=9\n";
    SetTexts(One(), "5.0.3", "8.3.2", "1.0.0");
    UseAdapters();
    NicFwInfo info{};
    testing::internal::CaptureStderr();
    ReadInstalledFirmware(info);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "OmbriGetTernFwInfo() failed 9\r\n");
    EXPECT_EQ(info.Flags, 0u);
    EXPECT_TRUE(Reads().empty());
}

// A text that fills its field without a NUL is read as if cut at the field's
// last byte, which is taken as its end.
TEST_F(FirmwareTest, UnterminatedVersionTextIsReadInsideItsField) {
    struct Case {
        const char *what;
        uint32_t field; // where the text lies in the NVRAM
        uint32_t flag;
        Version (*installed)(const NicFwInfo &);
    };
    const Case cases[] = {
        {"boot code", SIM_NV_BOOTCODE_TEXT_OFFSET, FW_HAS_BOOTCODE,
         [](const NicFwInfo &r) { return r.BootCodeVersion; }},
        {"ump", SIM_NV_UMP_TEXT_OFFSET, FW_HAS_UMP,
         [](const NicFwInfo &r) {
             return Version{r.UmpVersion.major, r.UmpVersion.minor, r.UmpVersion.build};
         }},
    };
    for (const Case &c : cases) {
        ports_.clear();
        Port &a = One();
        a.keys += " texts=raw"; // the library serves the texts without their NUL
        // 32 bytes, no NUL: "1.2.3" at the end, its last digit in the last byte.
        std::memset(a.nvram.data() + c.field, ' ', SIM_NV_TEXT_SIZE);
        std::memcpy(a.nvram.data() + c.field + 27, "1.2.3", 5);
        std::memset(a.nvram.data() + SIM_NV_PREBOOT_TEXT_OFFSET, 'x', SIM_NV_TEXT_SIZE);
        UseAdapters();
        NicFwInfo info{};
        ReadInstalledFirmware(info);
        EXPECT_EQ(info.Flags & c.flag, c.flag) << c.what;
        const Version v = c.installed(info);
        EXPECT_EQ(v.major, 1u) << c.what;
        EXPECT_EQ(v.minor, 2u) << c.what;
        EXPECT_EQ(v.build, 0u) << c.what; // the last byte is the text's end
    }
}

// --- BuildFirmwareTable ---

TEST_F(FirmwareTest, TableHoldsVersionsAndIdentity) {
    Port &a = One();
    SetTexts(a, "5.0.3", "8.3.2", "1.4.2");
    PutDirEntry(a.nvram, 0, 1, IMG_A);
    PutPxeImage(a.nvram, IMG_A);
    UseAdapters();
    EXPECT_EQ(BuildFirmwareTable(), 1);
    ASSERT_EQ(NicFwTable.size(), 1u);
    const NicFwInfo &r = NicFwTable[0];
    EXPECT_EQ(r.Flags, FW_HAS_BOOTCODE | FW_HAS_PXE | FW_HAS_UMP);
    EXPECT_STREQ(r.MacText, "0A1B2C3D4E5F");
    EXPECT_STREQ(r.Description, "Port 0");
    EXPECT_EQ(r.VendorId, 0x1234);
    EXPECT_EQ(r.DeviceId, 0xABCD);
    EXPECT_EQ(r.SubsystemVendorId, 0x5678);
    EXPECT_EQ(r.SubsystemId, 0x0001);
    EXPECT_EQ(NicTable[0].DiagOpen, 0u);
    EXPECT_TRUE(Misuse().empty());
    EXPECT_EQ(Calls(), (std::vector<std::string>{
                           "OmbriInitDiag handle=200 status=0",
                           "OmbriGetTernFwInfo handle=200 version=2 status=0",
                           "OmbriReadFirmware handle=200 offset=0x18 words=1 access=ok status=0 "
                           "data=0x1000ABCD",
                           "OmbriReadFirmware handle=200 offset=0x1C words=1 access=ok status=0 "
                           "data=0x00000400",
                           "OmbriReadFirmware handle=200 offset=0x420 words=1 access=ok status=0 "
                           "data=0x49444E55",
                           "OmbriUnInitDiag handle=200 status=0"}));
    EXPECT_EQ(SimInitDiag(200), 0u) << "the port has left diagnostic mode";
}

TEST_F(FirmwareTest, AllTextsEmptyStillCopiesIdentity) {
    One();
    UseAdapters();
    BuildFirmwareTable();
    EXPECT_EQ(NicFwTable[0].Flags, 0u);
    EXPECT_STREQ(NicFwTable[0].MacText, "0A1B2C3D4E5F");
    EXPECT_EQ(NicFwTable[0].DeviceId, 0xABCD);
    EXPECT_TRUE(Reads().empty());
}

TEST_F(FirmwareTest, IdentityIsCopiedWhenTernFails) {
    lines_ = "fault OmbriGetTernFwInfo status=0x1F\n";
    SetTexts(One(), "5.0.3", "", "");
    UseAdapters();
    EXPECT_EQ(BuildFirmwareTable(), 1);
    EXPECT_EQ(NicFwTable[0].Flags, 0u);
    EXPECT_EQ(NicFwTable[0].BootCodeVersion.major, 0u);
    EXPECT_STREQ(NicFwTable[0].MacText, "0A1B2C3D4E5F");
    EXPECT_STREQ(NicFwTable[0].Description, "Port 0");
    EXPECT_EQ(NicFwTable[0].VendorId, 0x1234);
    EXPECT_EQ(NicFwTable[0].SubsystemId, 0x0001);
}

TEST_F(FirmwareTest, InitDiagFailureOnPortOneLeavesTheRestZero) {
    RunFlags |= RUN_DEBUG;
    for (uint32_t i = 0; i < 3; i++) {
        SetTexts(AddPort(100 + i, 200 + i, "Port", "0A1B2C3D4E50"), "5.0.3", "", "1.0.0");
    }
    lines_ = "fault OmbriInitDiag status=5 adapter=201\n";
    UseAdapters();
    testing::internal::CaptureStderr();
    EXPECT_EQ(BuildFirmwareTable(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "OmbriInitDiag() failed 5\r\n");
    ASSERT_EQ(NicFwTable.size(), 3u);
    EXPECT_EQ(NicFwTable[0].Flags, FW_HAS_BOOTCODE | FW_HAS_UMP);
    for (uint32_t i = 1; i < 3; i++) {
        EXPECT_TRUE(IsZeroRecord(NicFwTable[i])) << i;
    }
    EXPECT_EQ(CallCount("OmbriGetTernFwInfo"), 1);
    EXPECT_EQ(CallCount("OmbriInitDiag 202"), 0);
}

TEST_F(FirmwareTest, UnInitDiagFailureLeavesDiagnosticModeMarked) {
    RunFlags |= RUN_DEBUG;
    lines_ = "fault OmbriUnInitDiag status=77 at=1\n"; // the first call only
    SetTexts(One(), "", "8.3.2", "");
    UseAdapters();
    testing::internal::CaptureStderr();
    EXPECT_EQ(BuildFirmwareTable(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "OmbriUnInitDiag() failed 77\r\n");
    EXPECT_EQ(NicTable[0].DiagOpen, 1u);

    // The next operation on the port does not open diagnostic mode again.
    NicFwInfo again{};
    ReadInstalledFirmware(again); // scans the NVRAM
    EXPECT_EQ(Reads().size(), 32u);
    EXPECT_EQ(BuildFirmwareTable(), 1);
    EXPECT_EQ(CallCount("OmbriInitDiag"), 1);
    EXPECT_EQ(NicTable[0].DiagOpen, 0u);
    EXPECT_TRUE(Misuse().empty());
}

TEST_F(FirmwareTest, LongDescriptionIsCutAt79) {
    One();
    UseAdapters();
    // The library's field full to its last byte, with no NUL at all.
    std::memset(NicTable[0].Info.Description, 'D', sizeof NicTable[0].Info.Description);
    BuildFirmwareTable();
    EXPECT_EQ(std::string(NicFwTable[0].Description), std::string(79, 'D'));
}

TEST_F(FirmwareTest, DescriptionOf79FitsWhole) {
    std::string name(79, 'n');
    name[0] = 'N';
    AddPort(100, 200, name, "0A1B2C3D4E5F", "0001-0002-0003-0004");
    UseAdapters();
    BuildFirmwareTable();
    EXPECT_EQ(std::string(NicFwTable[0].Description), name);
}

TEST_F(FirmwareTest, NoAdaptersGivesAnEmptyTable) {
    EXPECT_EQ(BuildFirmwareTable(), 1);
    EXPECT_TRUE(NicFwTable.empty());
    EXPECT_TRUE(Calls().empty());
}

} // namespace
