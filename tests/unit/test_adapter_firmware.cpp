// The NVRAM directory scan, ReadInstalledFirmware and BuildFirmwareTable,
// against the simulated library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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

// The reads given, then the word of every directory entry from k to the last,
// as the scan reads them when none of those entries is an image.
std::vector<uint32_t> ThenDirectory(std::vector<uint32_t> reads, uint32_t k) {
    for (; k < 16; k++) {
        reads.push_back(24 + 12 * k);
    }
    return reads;
}

// 32 bytes without a NUL: "1.2.3" at the end, its last digit in the field's last byte.
constexpr const char *kFullText = "                           1.2.3";
constexpr const char *kFullOfX = "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx";

// The versions a record holds, each that is not 0.0.0: "boot code 5.0.3, ump 1.2.3".
std::string Versions(const NicFwInfo &r) {
    const char *const kinds[5] = {"boot code", "pxe", "ump", "clp", "iscsi"};
    const Version v[5] = {r.BootCodeVersion, r.PxeVersion, Widen(r.UmpVersion), Widen(r.ClpVersion),
                          Widen(r.IscsiVersion)};
    std::string text;
    for (int i = 0; i < 5; i++) {
        if (v[i].major != 0 || v[i].minor != 0 || v[i].build != 0) {
            char one[64];
            std::snprintf(one, sizeof one, "%s%s %u.%u.%u", text.empty() ? "" : ", ", kinds[i],
                          v[i].major, v[i].minor, v[i].build);
            text += one;
        }
    }
    return text;
}

// Every field zero (compared field by field: the record has padding).
bool IsZeroRecord(const NicFwInfo &r) {
    auto zero = [](const char *text, size_t n) {
        return std::all_of(text, text + n, [](char c) { return c == 0; });
    };
    return r.Flags == 0 && Versions(r).empty() && r.DeviceId == 0 && r.SubsystemId == 0 &&
           r.VendorId == 0 && r.SubsystemVendorId == 0 &&
           zero(r.Description, sizeof r.Description) && zero(r.MacText, sizeof r.MacText);
}

class FirmwareTest : public SimFixture {
  protected:
    void SetUp() override {
        SimFixture::SetUp();
        UseSimulatedLibrary();
        RunFlags |= RUN_DEBUG;
    }
    // Port 0 (handle 100, port handle 200) with these texts and directory
    // entries, and machine-file lines; served and put into NicTable.
    void UseOne(const char *const (&texts)[3], const std::vector<DirEntry> &entries,
                const char *lines = "", const char *keys = "") {
        Port &a = ports_.empty() ? AddPort() : ports_[0];
        a.keys += keys;
        SetTexts(a, texts);
        PutEntries(a.nvram, entries);
        lines_ = lines;
        UseAdapters();
    }
    // Serves the adapters and puts them into NicTable with the inventory.
    void UseAdapters() {
        ServeInventory();
        CurrentNic = 0;
    }
};

// --- ScanNvramDirectory ---

struct ScanCase {
    const char *name;
    std::vector<DirEntry> entries;
    uint32_t found; // FW_HAS_PXE, FW_HAS_CLP and FW_HAS_ISCSI for the kinds found
    std::vector<uint32_t> reads;
    const char *fault; // a failing OmbriInitDiag, or ""
    const char *debug;
};

ScanCase Scan(const char *name, std::vector<DirEntry> entries, uint32_t found,
              std::vector<uint32_t> reads, const char *fault = "", const char *debug = "") {
    return ScanCase{name, entries, found, reads, fault, debug};
}

// Signatures that are almost right find nothing: the "NearMiss" rows.
const ScanCase kScans[] = {
    Scan("PxeFirstEndsTheScanBeforeALaterClp", {{0, 1, IMG_A, kPxeImage}, {1, 1, IMG_B, kClpImage}},
         FW_HAS_PXE, {E0, E0 + 4, IMG_A + 32}),
    // The CLP test reads the word at +32 a second time.
    Scan("ClpThenPxeFindsBoth", {{0, 1, IMG_A, kClpImage}, {1, 1, IMG_B, kPxeImage}},
         FW_HAS_PXE | FW_HAS_CLP,
         {E0, E0 + 4, IMG_A + 32, IMG_A + 32, IMG_A + 36, IMG_A + 40, E1, E1 + 4, IMG_B + 32}),
    Scan("IscsiEndsTheScan", {{0, 1, IMG_A, kIscsiImage}, {1, 1, IMG_B, kPxeImage}}, FW_HAS_ISCSI,
         {E0, E0 + 4, IMG_A + 32, IMG_A + 36, IMG_A + 40}),
    // No image offset, no image word.
    Scan("EntryOfAnotherTypeIsNotFollowed", {{0, 2, IMG_A, kPxeImage}, {1, 0xF, IMG_A, kPxeImage}},
         0, ThenDirectory({}, 0)),
    Scan("EmptyDirectoryReadsEveryEntryOnce", {}, 0, ThenDirectory({}, 0)),
    Scan("NearMissPxeOffByOne", {{0, 1, IMG_A, {{0x49444E54, 0, 0}}}}, 0,
         ThenDirectory({E0, E0 + 4, IMG_A + 32, IMG_A + 36, IMG_A + 32}, 1)),
    Scan("NearMissIscsiSecondWord", {{0, 1, IMG_A, {{0x49000000, 0x20544254, 0x00202020}}}}, 0,
         ThenDirectory({E0, E0 + 4, IMG_A + 32, IMG_A + 36, IMG_A + 32}, 1)),
    Scan("NearMissIscsiThirdWord", {{0, 1, IMG_A, {{0x49000000, 0x20544253, 0x00202021}}}}, 0,
         ThenDirectory({E0, E0 + 4, IMG_A + 32, IMG_A + 36, IMG_A + 40, IMG_A + 32}, 1)),
    Scan("NearMissClpSecondWord", {{0, 1, IMG_A, {{0x43000000, 0x4820504D, 0x00205244}}}}, 0,
         ThenDirectory({E0, E0 + 4, IMG_A + 32, IMG_A + 32, IMG_A + 36}, 1)),
    Scan("NearMissClpThirdWord", {{0, 1, IMG_A, {{0x43000000, 0x4820504C, 0x00205245}}}}, 0,
         ThenDirectory({E0, E0 + 4, IMG_A + 32, IMG_A + 32, IMG_A + 36, IMG_A + 40}, 1)),
    Scan("NearMissClpWordsUnderIscsiTopByte",
         {{0, 1, IMG_A, {{0x49000000, 0x4820504C, 0x00205244}}}}, 0,
         ThenDirectory({E0, E0 + 4, IMG_A + 32, IMG_A + 36, IMG_A + 32}, 1)),
    Scan("NearMissIscsiWordsUnderClpTopByte",
         {{0, 1, IMG_A, {{0x43000000, 0x20544253, 0x00202020}}}}, 0,
         ThenDirectory({E0, E0 + 4, IMG_A + 32, IMG_A + 32, IMG_A + 36}, 1)),
    Scan("TopByteAndLow24BitsAreAllThatCount",
         {{0, 1, IMG_A, {{0x43FFFFFF, 0x4820504C, 0x12205244}}},
          {1, 1, IMG_B, {{0x49000001, 0x20544253, 0xAB202020}}}},
         FW_HAS_CLP | FW_HAS_ISCSI,
         {E0, E0 + 4, IMG_A + 32, IMG_A + 32, IMG_A + 36, IMG_A + 40, E1, E1 + 4, IMG_B + 32,
          IMG_B + 36, IMG_B + 40}),
    Scan("ScanInitDiagFailureEndsTheScanUnread", {}, 0, {}, "fault OmbriInitDiag status=0x57\n",
         "OmbriInitDiag() failed 87\n"),
    Scan("ScanOpensDiagnosticModeOnceAndLeavesItOpen", {}, 0, ThenDirectory({}, 0)),
};

void PrintTo(const ScanCase &row, std::ostream *os) {
    *os << row.name;
}

class ScanTest : public FirmwareTest, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(ScanTest, FindsTheKindsWithTheseReads) {
    const ScanCase &r = GetParam();
    UseOne({"", "", ""}, r.entries, r.fault);
    bool pxe = false;
    bool clp = false;
    bool iscsi = false;
    // A scan whose library call failed (its debug line) says so.
    EXPECT_EQ(RunCaptured([&] { return ScanNvramDirectory(pxe, clp, iscsi); }),
              std::string(r.debug).empty() ? 1 : 0);
    EXPECT_EQ(pxe, (r.found & FW_HAS_PXE) != 0);
    EXPECT_EQ(clp, (r.found & FW_HAS_CLP) != 0);
    EXPECT_EQ(iscsi, (r.found & FW_HAS_ISCSI) != 0);
    EXPECT_EQ(Reads(), r.reads);
    EXPECT_EQ(err, r.debug);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(Misuse().empty());
    // Diagnostic mode opened once and left open, unless opening it failed.
    EXPECT_EQ(CallCount("OmbriInitDiag"), 1);
    EXPECT_EQ(CallCount("OmbriUnInitDiag"), 0);
    EXPECT_EQ(NicTable[0].DiagOpen, r.fault[0] == '\0' ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Firmware, ScanTest, ::testing::ValuesIn(kScans), RowName<ScanCase>);

// --- ReadInstalledFirmware ---

struct ReadCase {
    const char *name;
    const char *boot_code;
    const char *pre_boot;
    const char *ump;
    std::vector<DirEntry> entries;
    uint32_t flags;
    const char *versions; // Versions() of the record
    size_t reads;
    bool in_diag;     // the port in diagnostic mode, as BuildFirmwareTable leaves it
    const char *keys; // further machine-file keys of the port
    const char *fault;
    const char *out;
    const char *debug;
};

ReadCase Read(const char *name, const char *boot_code, const char *pre_boot, const char *ump,
              std::vector<DirEntry> entries, uint32_t flags, const char *versions, size_t reads,
              bool in_diag = false, const char *keys = "", const char *fault = "",
              const char *out = "", const char *debug = "") {
    return ReadCase{name,  boot_code, pre_boot, ump,   entries, flags, versions,
                    reads, in_diag,   keys,     fault, out,     debug};
}

// A text that fills its field without a NUL is read as if cut at the field's
// last byte, which is taken as its end: the "Unterminated" rows.
const ReadCase kReads[] = {
    Read("EmptyPreBootTextReadsNoNvram", "5.0.3", "", "1.2.3", {{0, 1, IMG_A, kPxeImage}},
         FW_HAS_BOOTCODE | FW_HAS_UMP, "boot code 5.0.3, ump 1.2.3", 0, true),
    Read("OnlyBootCodeText", "bc 1.9.6", "", "", {}, FW_HAS_BOOTCODE, "boot code 1.9.6", 0, true),
    Read("PreBootTextWithoutMatchingImageIsUnused", "", "8.3.2", "", {}, 0, "", 16),
    // 32 bits: not cut.
    Read("PreBootTextGoesToTheKindFound_pxe", "", "300.7.9", "", {{3, 1, IMG_A, kPxeImage}},
         FW_HAS_PXE, "pxe 300.7.9", 6),
    // 300 keeps its low 8 bits.
    Read("PreBootTextGoesToTheKindFound_clp", "", "300.7.9", "", {{3, 1, IMG_A, kClpImage}},
         FW_HAS_CLP, "clp 44.7.9", 21),
    Read("PreBootTextGoesToTheKindFound_iscsi", "", "300.7.9", "", {{3, 1, IMG_A, kIscsiImage}},
         FW_HAS_ISCSI, "iscsi 44.7.9", 8),
    Read("UmpTextIsCutToEightBits", "", "", "300.1.2", {}, FW_HAS_UMP, "ump 44.1.2", 0),
    Read("TernFailureUsesTheBlockAsItStands", "5.0.3", "8.3.2", "1.0.0", {}, 0, "", 0, false, "",
         "fault OmbriGetTernFwInfo status=9\n", "", "OmbriGetTernFwInfo() failed 9\r\n"),
    Read("UnterminatedVersionTextIsReadInsideItsField_bootCode", kFullText, kFullOfX, "", {},
         FW_HAS_BOOTCODE, "boot code 1.2.0", 16, false, " texts=raw"),
    Read("UnterminatedVersionTextIsReadInsideItsField_ump", "", kFullOfX, kFullText, {}, FW_HAS_UMP,
         "ump 1.2.0", 16, false, " texts=raw"),
    // The word of directory entry 1 fails: nothing is read after it.
    Read("ReadFailureAfterClpMatchKeepsTheClp", "", "2.4.1", "",
         {{0, 1, IMG_A, kClpImage}, {1, 1, IMG_B, kPxeImage}}, FW_HAS_CLP, "clp 2.4.1", 7, false,
         "", "fault OmbriReadFirmware status=31 at=7\n", "Failed to read NVRAM!\r\n",
         "OmbriReadFirmware() failed 31\r\n"),
};

void PrintTo(const ReadCase &row, std::ostream *os) {
    *os << row.name;
}

class ReadTest : public FirmwareTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadTest, FillsTheRecord) {
    const ReadCase &r = GetParam();
    UseOne({r.boot_code, r.pre_boot, r.ump}, r.entries, r.fault, r.keys);
    if (r.in_diag) {
        ASSERT_EQ(SimInitDiag(200), 0u);
        NicTable[0].DiagOpen = 1;
        ForgetCalls();
    }
    NicFwInfo info{};
    // A read whose library call failed (its debug line) says so.
    EXPECT_EQ(RunCaptured([&] { return ReadInstalledFirmware(info); }),
              std::string(r.debug).empty() ? 1 : 0);
    EXPECT_EQ(info.Flags, r.flags);
    EXPECT_EQ(Versions(info), r.versions);
    EXPECT_EQ(Reads().size(), r.reads);
    EXPECT_EQ(out, r.out);
    EXPECT_EQ(err, r.debug);
    if (r.in_diag) {
        // Outside diagnostic mode the library notes OmbriGetTernFwInfo as a misuse.
        EXPECT_TRUE(Misuse().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Firmware, ReadTest, ::testing::ValuesIn(kReads), RowName<ReadCase>);

TEST_F(FirmwareTest, SecondReadKeepsBitsAndOverwritesOnlyPresentTexts) {
    UseOne({"5.0.3", "8.3.2", ""}, {{0, 1, IMG_A, kPxeImage}});
    NicFwInfo info{};
    ReadInstalledFirmware(info);
    ASSERT_EQ(info.Flags, FW_HAS_BOOTCODE | FW_HAS_PXE);

    SetTexts(ports_[0], {"", "", "2.1.0"});
    ServeImages();
    info.Flags |= FW_ANNOUNCED;
    ReadInstalledFirmware(info);
    EXPECT_EQ(info.Flags, FW_HAS_BOOTCODE | FW_HAS_PXE | FW_ANNOUNCED | FW_HAS_UMP);
    EXPECT_EQ(info.BootCodeVersion.major, 5u);
    EXPECT_EQ(info.BootCodeVersion.build, 3u);
    EXPECT_EQ(info.PxeVersion.major, 8u);
    EXPECT_EQ(info.UmpVersion.major, 2);
}

// --- BuildFirmwareTable ---

struct TableCase {
    const char *name;
    std::string description; // "": the library's field full of 'D', without a NUL
    std::string recorded;    // the record's description
    const char *pci;
    const char *boot_code;
    const char *pre_boot;
    const char *ump;
    std::vector<DirEntry> entries;
    uint32_t flags;
    const char *versions; // Versions() of the record
    std::vector<std::string> calls;
    const char *fault;
    const char *debug;
};

TableCase Table(const char *name, std::string description, std::string recorded, const char *pci,
                const char *boot_code, const char *pre_boot, const char *ump,
                std::vector<DirEntry> entries, uint32_t flags, const char *versions,
                std::vector<std::string> calls, const char *fault = "", const char *debug = "") {
    return TableCase{name,    description, recorded, pci,   boot_code, pre_boot, ump,
                     entries, flags,       versions, calls, fault,     debug};
}

// The calls for a port whose texts lead to no NVRAM read.
const std::vector<std::string> kUnread = {"OmbriInitDiag handle=200 status=0",
                                          "OmbriGetTernFwInfo handle=200 version=2 status=0",
                                          "OmbriUnInitDiag handle=200 status=0"};

const TableCase kTables[] = {
    Table("TableHoldsVersionsAndIdentity", "Port 0", "Port 0", "1234-ABCD-5678-0001", "5.0.3",
          "8.3.2", "1.4.2", {{0, 1, IMG_A, kPxeImage}}, FW_HAS_BOOTCODE | FW_HAS_PXE | FW_HAS_UMP,
          "boot code 5.0.3, pxe 8.3.2, ump 1.4.2",
          {"OmbriInitDiag handle=200 status=0", "OmbriGetTernFwInfo handle=200 version=2 status=0",
           "OmbriReadFirmware handle=200 offset=0x18 words=1 access=ok status=0 data=0x1000ABCD",
           "OmbriReadFirmware handle=200 offset=0x1C words=1 access=ok status=0 data=0x00000400",
           "OmbriReadFirmware handle=200 offset=0x420 words=1 access=ok status=0 data=0x49444E55",
           "OmbriUnInitDiag handle=200 status=0"}),
    Table("AllTextsEmptyStillCopiesIdentity", "Port 0", "Port 0", "1234-ABCD-5678-0001", "", "", "",
          {}, 0, "", kUnread),
    Table("IdentityIsCopiedWhenTernFails", "Port 0", "Port 0", "1234-ABCD-5678-0001", "5.0.3", "",
          "", {}, 0, "",
          {"OmbriInitDiag handle=200 status=0",
           "OmbriGetTernFwInfo handle=200 version=2 status=31 injected",
           "OmbriUnInitDiag handle=200 status=0"},
          "fault OmbriGetTernFwInfo status=0x1F\n", "OmbriGetTernFwInfo() failed 31\r\n"),
    Table("LongDescriptionIsCutAt79", "", std::string(79, 'D'), "1234-ABCD-5678-0001", "", "", "",
          {}, 0, "", kUnread),
    Table("DescriptionOf79FitsWhole", "N" + std::string(78, 'n'), "N" + std::string(78, 'n'),
          "0001-0002-0003-0004", "", "", "", {}, 0, "", kUnread),
};

void PrintTo(const TableCase &row, std::ostream *os) {
    *os << row.name;
}

class TableTest : public FirmwareTest, public ::testing::WithParamInterface<TableCase> {};

TEST_P(TableTest, HoldsTheRecord) {
    const TableCase &r = GetParam();
    AddPort(r.description, "0A1B2C3D4E5F", r.pci);
    UseOne({r.boot_code, r.pre_boot, r.ump}, r.entries, r.fault);
    if (r.description.empty()) {
        std::memset(NicTable[0].Info.Description, 'D', sizeof NicTable[0].Info.Description);
    }
    unsigned ids[4] = {};
    ASSERT_EQ(std::sscanf(r.pci, "%4x-%4x-%4x-%4x", &ids[0], &ids[1], &ids[2], &ids[3]), 4);
    EXPECT_EQ(RunCaptured(BuildFirmwareTable), 1);
    ASSERT_EQ(NicFwTable.size(), 1u);
    const NicFwInfo &record = NicFwTable[0];
    EXPECT_EQ(record.Flags, r.flags);
    EXPECT_EQ(Versions(record), r.versions);
    EXPECT_STREQ(record.MacText, "0A1B2C3D4E5F");
    EXPECT_EQ(std::string(record.Description), r.recorded);
    EXPECT_EQ(record.VendorId, ids[0]);
    EXPECT_EQ(record.DeviceId, ids[1]);
    EXPECT_EQ(record.SubsystemVendorId, ids[2]);
    EXPECT_EQ(record.SubsystemId, ids[3]);
    EXPECT_EQ(NicTable[0].DiagOpen, 0u);
    EXPECT_TRUE(Misuse().empty());
    EXPECT_EQ(Calls(), r.calls);
    EXPECT_EQ(err, r.debug);
    EXPECT_EQ(SimInitDiag(200), 0u) << "the port has left diagnostic mode";
}

INSTANTIATE_TEST_SUITE_P(Firmware, TableTest, ::testing::ValuesIn(kTables), RowName<TableCase>);

TEST_F(FirmwareTest, InitDiagFailureOnPortOneLeavesTheRestZero) {
    for (uint32_t i = 0; i < 3; i++) {
        SetTexts(AddPort("Port", "0A1B2C3D4E50"), {"5.0.3", "", "1.0.0"});
    }
    lines_ = "fault OmbriInitDiag status=5 adapter=201\n";
    UseAdapters();
    EXPECT_EQ(RunCaptured(BuildFirmwareTable), 0);
    EXPECT_EQ(err, "OmbriInitDiag() failed 5\r\n");
    ASSERT_EQ(NicFwTable.size(), 3u);
    EXPECT_EQ(NicFwTable[0].Flags, FW_HAS_BOOTCODE | FW_HAS_UMP);
    for (uint32_t i = 1; i < 3; i++) {
        EXPECT_TRUE(IsZeroRecord(NicFwTable[i])) << i;
    }
    EXPECT_EQ(CallCount("OmbriGetTernFwInfo"), 1);
    EXPECT_EQ(CallCount("OmbriInitDiag handle=202"), 0);
}

TEST_F(FirmwareTest, UnInitDiagFailureLeavesDiagnosticModeMarked) {
    // The first call only.
    UseOne({"", "8.3.2", ""}, {}, "fault OmbriUnInitDiag status=77 at=1\n");
    EXPECT_EQ(RunCaptured(BuildFirmwareTable), 1);
    EXPECT_EQ(err, "OmbriUnInitDiag() failed 77\r\n");
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

TEST_F(FirmwareTest, NoAdaptersGivesAnEmptyTable) {
    EXPECT_EQ(BuildFirmwareTable(), 1);
    EXPECT_TRUE(NicFwTable.empty());
    EXPECT_TRUE(Calls().empty());
}

} // namespace
