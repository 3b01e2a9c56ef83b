// The NVRAM directory scan, ReadInstalledFirmware and BuildFirmwareTable,
// against the fake library.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "adapter/firmware.h"
#include "adapter/inventory.h"
#include "fake_ombri.h"
#include "run/runflags.h"

namespace {

using fake::Lib;

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

class FirmwareTest : public fake::AdapterTest {
  protected:
    // Puts the fake's adapters into NicTable as the inventory would.
    void UseAdapters() {
        NicTable.assign(Lib.Adapters.size(), NicEntry{});
        for (size_t i = 0; i < Lib.Adapters.size(); i++) {
            NicTable[i].Info = Lib.Adapters[i].Info;
        }
        NicCount = static_cast<uint32_t>(NicTable.size());
        CurrentNic = 0;
    }
    fake::Adapter &One() {
        if (Lib.Adapters.empty()) {
            Lib.Adapters.push_back(fake::SupportedAdapter(100, 200, "Port 0", "0A1B2C3D4E5F",
                                                          0x1234, 0xABCD, 0x5678, 0x0001));
        }
        return Lib.Adapters[0];
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
    fake::PutDirEntry(One().Nvram, 0, 1, IMG_A);
    fake::PutPxeImage(One().Nvram, IMG_A);
    fake::PutDirEntry(One().Nvram, 1, 1, IMG_B);
    fake::PutClpImage(One().Nvram, IMG_B);
    Scan s = RunScan();
    EXPECT_TRUE(s.pxe);
    EXPECT_FALSE(s.clp);
    EXPECT_FALSE(s.iscsi);
    EXPECT_EQ(Lib.Reads, (std::vector<uint32_t>{E0, E0 + 4, IMG_A + 32}));
    EXPECT_TRUE(Lib.Misuse.empty());
}

TEST_F(FirmwareTest, ClpThenPxeFindsBoth) {
    fake::PutDirEntry(One().Nvram, 0, 1, IMG_A);
    fake::PutClpImage(One().Nvram, IMG_A);
    fake::PutDirEntry(One().Nvram, 1, 1, IMG_B);
    fake::PutPxeImage(One().Nvram, IMG_B);
    Scan s = RunScan();
    EXPECT_TRUE(s.pxe);
    EXPECT_TRUE(s.clp);
    EXPECT_FALSE(s.iscsi);
    // The CLP test reads the word at +32 a second time.
    EXPECT_EQ(Lib.Reads, (std::vector<uint32_t>{E0, E0 + 4, IMG_A + 32, IMG_A + 32, IMG_A + 36,
                                                IMG_A + 40, E1, E1 + 4, IMG_B + 32}));
}

TEST_F(FirmwareTest, IscsiEndsTheScan) {
    fake::PutDirEntry(One().Nvram, 0, 1, IMG_A);
    fake::PutIscsiImage(One().Nvram, IMG_A);
    fake::PutDirEntry(One().Nvram, 1, 1, IMG_B);
    fake::PutPxeImage(One().Nvram, IMG_B);
    Scan s = RunScan();
    EXPECT_FALSE(s.pxe);
    EXPECT_FALSE(s.clp);
    EXPECT_TRUE(s.iscsi);
    EXPECT_EQ(Lib.Reads, (std::vector<uint32_t>{E0, E0 + 4, IMG_A + 32, IMG_A + 36, IMG_A + 40}));
}

TEST_F(FirmwareTest, EntryOfAnotherTypeIsNotFollowed) {
    fake::PutDirEntry(One().Nvram, 0, 2, IMG_A); // would point at a PXE image
    fake::PutPxeImage(One().Nvram, IMG_A);
    fake::PutDirEntry(One().Nvram, 1, 0xF, IMG_A);
    Scan s = RunScan();
    EXPECT_FALSE(s.pxe || s.clp || s.iscsi);
    EXPECT_EQ(Lib.Reads, AllDirectoryWords()); // no image offset, no image word
}

TEST_F(FirmwareTest, EmptyDirectoryReadsEveryEntryOnce) {
    Scan s = RunScan();
    EXPECT_FALSE(s.pxe || s.clp || s.iscsi);
    EXPECT_EQ(Lib.Reads, AllDirectoryWords());
    EXPECT_EQ(fake::CallCount("OmbriInitDiag"), 1);
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
        fake::Reset();
        fake::PutDirEntry(One().Nvram, 0, 1, IMG_A);
        fake::Put32(One().Nvram, IMG_A + 32, c.w32);
        fake::Put32(One().Nvram, IMG_A + 36, c.w36);
        fake::Put32(One().Nvram, IMG_A + 40, c.w40);
        Scan s = RunScan();
        EXPECT_FALSE(s.pxe || s.clp || s.iscsi) << c.what;
    }
}

TEST_F(FirmwareTest, TopByteAndLow24BitsAreAllThatCount) {
    fake::PutDirEntry(One().Nvram, 0, 1, IMG_A);
    fake::Put32(One().Nvram, IMG_A + 32, 0x43FFFFFF);
    fake::Put32(One().Nvram, IMG_A + 36, 0x4820504C);
    fake::Put32(One().Nvram, IMG_A + 40, 0x12205244);
    fake::PutDirEntry(One().Nvram, 1, 1, IMG_B);
    fake::Put32(One().Nvram, IMG_B + 32, 0x49000001);
    fake::Put32(One().Nvram, IMG_B + 36, 0x20544253);
    fake::Put32(One().Nvram, IMG_B + 40, 0xAB202020);
    Scan s = RunScan();
    EXPECT_TRUE(s.clp);
    EXPECT_TRUE(s.iscsi);
}

TEST_F(FirmwareTest, ReadFailureAfterClpMatchKeepsTheClp) {
    RunFlags |= RUN_DEBUG;
    fake::Adapter &a = One();
    fake::SetTexts(a, "", "2.4.1", "");
    fake::PutDirEntry(a.Nvram, 0, 1, IMG_A);
    fake::PutClpImage(a.Nvram, IMG_A);
    fake::PutDirEntry(a.Nvram, 1, 1, IMG_B);
    fake::PutPxeImage(a.Nvram, IMG_B);
    Lib.FailOp = "OmbriReadFirmware";
    Lib.FailAt = 7; // the word of directory entry 1
    Lib.FailStatus = 31;
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
    EXPECT_EQ(Lib.Reads.size(), 7u); // nothing read after the failure
}

TEST_F(FirmwareTest, ScanInitDiagFailureEndsTheScanUnread) {
    RunFlags |= RUN_DEBUG;
    One().InitDiagStatus = 0x57;
    testing::internal::CaptureStderr();
    Scan s = RunScan();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "OmbriInitDiag() failed 87\n");
    EXPECT_FALSE(s.pxe || s.clp || s.iscsi);
    EXPECT_TRUE(Lib.Reads.empty());
    EXPECT_EQ(NicTable[0].DiagOpen, 0u);
}

TEST_F(FirmwareTest, ScanOpensDiagnosticModeOnceAndLeavesItOpen) {
    Scan s = RunScan();
    (void)s;
    EXPECT_EQ(fake::CallCount("OmbriInitDiag"), 1);
    EXPECT_EQ(fake::CallCount("OmbriUnInitDiag"), 0);
    EXPECT_EQ(NicTable[0].DiagOpen, 1u);
}

// --- ReadInstalledFirmware ---

TEST_F(FirmwareTest, EmptyPreBootTextReadsNoNvram) {
    fake::SetTexts(One(), "5.0.3", "", "1.2.3");
    fake::PutDirEntry(One().Nvram, 0, 1, IMG_A);
    fake::PutPxeImage(One().Nvram, IMG_A);
    UseAdapters();
    NicTable[0].DiagOpen = 1;
    Lib.Adapters[0].InDiag = true;
    NicFwInfo info{};
    ReadInstalledFirmware(info);
    EXPECT_EQ(info.Flags, FW_HAS_BOOTCODE | FW_HAS_UMP);
    EXPECT_EQ(fake::CallCount("OmbriReadFirmware"), 0);
}

TEST_F(FirmwareTest, OnlyBootCodeText) {
    fake::SetTexts(One(), "bc 1.9.6", "", "");
    UseAdapters();
    NicTable[0].DiagOpen = 1;
    Lib.Adapters[0].InDiag = true;
    NicFwInfo info{};
    ReadInstalledFirmware(info);
    EXPECT_EQ(info.Flags, FW_HAS_BOOTCODE);
    EXPECT_EQ(info.BootCodeVersion.major, 1u);
    EXPECT_EQ(info.BootCodeVersion.minor, 9u);
    EXPECT_EQ(info.BootCodeVersion.build, 6u);
    EXPECT_EQ(fake::CallCount("OmbriReadFirmware"), 0);
    EXPECT_TRUE(Lib.Misuse.empty());
}

TEST_F(FirmwareTest, PreBootTextWithoutMatchingImageIsUnused) {
    fake::SetTexts(One(), "", "8.3.2", "");
    UseAdapters();
    NicFwInfo info{};
    ReadInstalledFirmware(info);
    EXPECT_EQ(info.Flags, 0u);
    EXPECT_EQ(info.PxeVersion.major, 0u);
    EXPECT_EQ(info.ClpVersion.major, 0);
    EXPECT_EQ(info.IscsiVersion.major, 0);
    EXPECT_EQ(Lib.Reads.size(), 16u);
}

TEST_F(FirmwareTest, PreBootTextGoesToTheKindFound) {
    struct Case {
        const char *what;
        void (*put)(std::vector<uint8_t> &, uint32_t);
        uint32_t flag;
    };
    const Case cases[] = {{"pxe", fake::PutPxeImage, FW_HAS_PXE},
                          {"clp", fake::PutClpImage, FW_HAS_CLP},
                          {"iscsi", fake::PutIscsiImage, FW_HAS_ISCSI}};
    for (const Case &c : cases) {
        fake::Reset();
        fake::SetTexts(One(), "", "300.7.9", "");
        fake::PutDirEntry(One().Nvram, 3, 1, IMG_A);
        c.put(One().Nvram, IMG_A);
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
    fake::SetTexts(One(), "", "", "300.1.2");
    UseAdapters();
    NicFwInfo info{};
    ReadInstalledFirmware(info);
    EXPECT_EQ(info.Flags, FW_HAS_UMP);
    EXPECT_EQ(info.UmpVersion.major, 44);
    EXPECT_EQ(info.UmpVersion.minor, 1);
    EXPECT_EQ(info.UmpVersion.build, 2);
}

TEST_F(FirmwareTest, SecondReadKeepsBitsAndOverwritesOnlyPresentTexts) {
    fake::Adapter &a = One();
    fake::SetTexts(a, "5.0.3", "8.3.2", "");
    fake::PutDirEntry(a.Nvram, 0, 1, IMG_A);
    fake::PutPxeImage(a.Nvram, IMG_A);
    UseAdapters();
    NicFwInfo info{};
    ReadInstalledFirmware(info);
    ASSERT_EQ(info.Flags, FW_HAS_BOOTCODE | FW_HAS_PXE);

    fake::SetTexts(Lib.Adapters[0], "", "", "2.1.0");
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
    One().TernStatus = 9;
    fake::SetTexts(One(), "5.0.3", "8.3.2", "1.0.0");
    UseAdapters();
    NicFwInfo info{};
    testing::internal::CaptureStderr();
    ReadInstalledFirmware(info);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "OmbriGetTernFwInfo() failed 9\r\n");
    EXPECT_EQ(info.Flags, 0u);
    EXPECT_TRUE(Lib.Reads.empty());
}

TEST_F(FirmwareTest, UnterminatedVersionTextIsReadInsideItsField) {
    fake::Adapter &a = One();
    // 32 bytes, no NUL: "1.2.3" at the end, its last digit in the last byte.
    std::memset(a.Tern.BootCodeVersionText, ' ', sizeof a.Tern.BootCodeVersionText);
    std::memcpy(a.Tern.BootCodeVersionText + 27, "1.2.3", 5);
    std::memset(a.Tern.PreBootVersionText, 'x', sizeof a.Tern.PreBootVersionText);
    std::memset(a.Tern.UmpVersionText, ' ', sizeof a.Tern.UmpVersionText);
    std::memcpy(a.Tern.UmpVersionText + sizeof a.Tern.UmpVersionText - 5, "4.5.6", 5);
    UseAdapters();
    NicFwInfo info{};
    ReadInstalledFirmware(info);
    EXPECT_EQ(info.Flags & FW_HAS_BOOTCODE, FW_HAS_BOOTCODE);
    EXPECT_EQ(info.BootCodeVersion.major, 1u);
    EXPECT_EQ(info.BootCodeVersion.minor, 2u);
    EXPECT_EQ(info.BootCodeVersion.build, 0u); // the last byte is the text's end
    EXPECT_EQ(info.UmpVersion.major, 4u);
    EXPECT_EQ(info.UmpVersion.minor, 5u);
    EXPECT_EQ(info.UmpVersion.build, 0u);
}

// --- BuildFirmwareTable ---

TEST_F(FirmwareTest, TableHoldsVersionsAndIdentity) {
    fake::Adapter &a = One();
    fake::SetTexts(a, "5.0.3", "8.3.2", "1.4.2");
    fake::PutDirEntry(a.Nvram, 0, 1, IMG_A);
    fake::PutPxeImage(a.Nvram, IMG_A);
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
    EXPECT_FALSE(Lib.Adapters[0].InDiag);
    EXPECT_TRUE(Lib.Misuse.empty());
    EXPECT_EQ(Lib.Calls,
              (std::vector<std::string>{"OmbriInitDiag 200", "OmbriGetTernFwInfo 200",
                                        "OmbriReadFirmware 24", "OmbriReadFirmware 28",
                                        "OmbriReadFirmware 1056", "OmbriUnInitDiag 200"}));
}

TEST_F(FirmwareTest, AllTextsEmptyStillCopiesIdentity) {
    One();
    UseAdapters();
    BuildFirmwareTable();
    EXPECT_EQ(NicFwTable[0].Flags, 0u);
    EXPECT_STREQ(NicFwTable[0].MacText, "0A1B2C3D4E5F");
    EXPECT_EQ(NicFwTable[0].DeviceId, 0xABCD);
    EXPECT_TRUE(Lib.Reads.empty());
}

TEST_F(FirmwareTest, IdentityIsCopiedWhenTernFails) {
    One().TernStatus = 0x1F;
    fake::SetTexts(One(), "5.0.3", "", "");
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
        fake::Adapter a = fake::SupportedAdapter(100 + i, 200 + i, "Port", "0A1B2C3D4E50", 0x1234,
                                                 0xABCD, 0x5678, 0x0001);
        fake::SetTexts(a, "5.0.3", "", "1.0.0");
        Lib.Adapters.push_back(a);
    }
    Lib.Adapters[1].InitDiagStatus = 5;
    UseAdapters();
    testing::internal::CaptureStderr();
    EXPECT_EQ(BuildFirmwareTable(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "OmbriInitDiag() failed 5\r\n");
    ASSERT_EQ(NicFwTable.size(), 3u);
    EXPECT_EQ(NicFwTable[0].Flags, FW_HAS_BOOTCODE | FW_HAS_UMP);
    for (uint32_t i = 1; i < 3; i++) {
        EXPECT_TRUE(IsZeroRecord(NicFwTable[i])) << i;
    }
    EXPECT_EQ(fake::CallCount("OmbriGetTernFwInfo"), 1);
    EXPECT_EQ(fake::CallCount("OmbriInitDiag 202"), 0);
}

TEST_F(FirmwareTest, UnInitDiagFailureLeavesDiagnosticModeMarked) {
    RunFlags |= RUN_DEBUG;
    One().UnInitDiagStatus = 77;
    fake::SetTexts(One(), "", "8.3.2", "");
    UseAdapters();
    testing::internal::CaptureStderr();
    EXPECT_EQ(BuildFirmwareTable(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "OmbriUnInitDiag() failed 77\r\n");
    EXPECT_EQ(NicTable[0].DiagOpen, 1u);

    // The next operation on the port does not open diagnostic mode again.
    Lib.Adapters[0].UnInitDiagStatus = 0;
    NicFwInfo again{};
    ReadInstalledFirmware(again); // scans the NVRAM
    EXPECT_EQ(Lib.Reads.size(), 32u);
    EXPECT_EQ(BuildFirmwareTable(), 1);
    EXPECT_EQ(fake::CallCount("OmbriInitDiag"), 1);
    EXPECT_EQ(NicTable[0].DiagOpen, 0u);
    EXPECT_TRUE(Lib.Misuse.empty());
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
    Lib.Adapters.push_back(
        fake::SupportedAdapter(100, 200, name.c_str(), "0A1B2C3D4E5F", 1, 2, 3, 4));
    UseAdapters();
    BuildFirmwareTable();
    EXPECT_EQ(std::string(NicFwTable[0].Description), name);
}

TEST_F(FirmwareTest, NoAdaptersGivesAnEmptyTable) {
    EXPECT_EQ(BuildFirmwareTable(), 1);
    EXPECT_TRUE(NicFwTable.empty());
    EXPECT_TRUE(Lib.Calls.empty());
}

} // namespace
