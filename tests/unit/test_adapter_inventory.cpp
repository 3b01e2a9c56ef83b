// EnumerateAdapters against the simulated library: which adapters are kept, in
// which order, and what the failures leave behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "adapter/inventory.h"
#include "run/runflags.h"
#include "test_sim_fixture.h"

namespace {

class InventoryTest : public SimFixture {
  protected:
    void SetUp() override {
        SimFixture::SetUp();
        UseSimulatedLibrary();
    }
    // Adapter i: listed as handle 100 + i, port handle 200 + i. The library
    // leads each NicAuxInfo block with the listed handle.
    void Add(uint32_t type = ADAPTER_TYPE_SUPPORTED, uint8_t flags = 0) {
        uint32_t i = static_cast<uint32_t>(ports_.size());
        char mac[13];
        std::snprintf(mac, sizeof mac, "0A1B2C3D4E%02X", static_cast<unsigned>(i));
        AddPort("Port", mac).keys +=
            " type=" + std::to_string(type) + " flags=" + std::to_string(flags);
    }
    // The server served and the library initialised, as after OmbriInitializeEx.
    void Prepare() {
        Serve();
        ASSERT_EQ(SimInitializeEx(0), 0u);
        ForgetCalls();
    }
    int Enumerate() {
        Prepare();
        return RunCaptured(EnumerateAdapters);
    }
};

TEST_F(InventoryTest, KeepsSupportedAdaptersInHandleOrder) {
    Add();
    Add(3);
    Add();
    EXPECT_EQ(Enumerate(), 1);
    ASSERT_EQ(NicCount, 2u);
    ASSERT_EQ(NicTable.size(), 2u);
    EXPECT_EQ(NicTable[0].Info.Handle, 200u);
    EXPECT_EQ(NicTable[1].Info.Handle, 202u);
    EXPECT_STREQ(NicTable[1].Info.MacText, "0A1B2C3D4E02");
    EXPECT_EQ(NicTable[0].Aux.Reserved4[0], 100);
    EXPECT_EQ(NicTable[1].Aux.Reserved4[0], 102);
    EXPECT_EQ(NicTable[1].Aux.InfoVersion, NIC_AUX_INFO_VERSION);
    for (const NicEntry &e : NicTable) {
        EXPECT_EQ(e.DiagOpen, 0u);
    }
    EXPECT_EQ(Calls(), (std::vector<std::string>{
                           "OmbriGetNumPhyNicEx status=0 count=3",
                           "OmbriGetAllPhyNicHandles length=3 status=0 handles=100,101,102",
                           "OmbriGetNicInfo handle=100 version=10 status=0",
                           "OmbriGetNicAuxInfo handle=100 version=8 status=0",
                           "OmbriGetNicInfo handle=101 version=10 status=0",
                           "OmbriGetNicInfo handle=102 version=10 status=0",
                           "OmbriGetNicAuxInfo handle=102 version=8 status=0"}));
    EXPECT_TRUE(Misuse().empty()); // every block prepared with its InfoVersion, zero-filled
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "");
}

// One adapter of the server: its kind and flags.
struct Kind {
    uint32_t type;
    uint8_t flags;
};

// Calls whose line starts with these words, and how many there are.
struct Count {
    const char *words;
    int n;
};

struct InventoryCase {
    const char *name;
    std::vector<Kind> adapters;
    int result;
    std::vector<uint32_t> kept; // the port handles in NicTable, in order
    std::vector<Count> counts;
    const char *lines; // further machine-file lines: count, fault
    const char *out;
    const char *debug;
    bool huge; // the tables' allocation fails
};

InventoryCase Inventory(const char *name, std::vector<Kind> adapters, int result,
                        std::vector<uint32_t> kept, std::vector<Count> counts,
                        const char *lines = "", const char *out = "", const char *debug = "",
                        bool huge = false) {
    return InventoryCase{name, adapters, result, kept, counts, lines, out, debug, huge};
}

// An adapter is dropped by its type, by its not-taken flag (bit 0) or by a
// failed query, silently: the "Drops" rows.
const InventoryCase kInventories[] = {
    Inventory("DropsByTypeAndFlagWithoutAuxQuery_supported", {{4, 0x00}}, 1, {200},
              {{"OmbriGetNicAuxInfo", 1}}),
    Inventory("DropsByTypeAndFlagWithoutAuxQuery_type0", {{0, 0x00}}, 0, {},
              {{"OmbriGetNicAuxInfo", 0}}),
    Inventory("DropsByTypeAndFlagWithoutAuxQuery_type3", {{3, 0x00}}, 0, {},
              {{"OmbriGetNicAuxInfo", 0}}),
    Inventory("DropsByTypeAndFlagWithoutAuxQuery_type5", {{5, 0x00}}, 0, {},
              {{"OmbriGetNicAuxInfo", 0}}),
    Inventory("DropsByTypeAndFlagWithoutAuxQuery_notTaken", {{4, 0x01}}, 0, {},
              {{"OmbriGetNicAuxInfo", 0}}),
    Inventory("DropsByTypeAndFlagWithoutAuxQuery_notTakenOtherBits", {{4, 0xFF}}, 0, {},
              {{"OmbriGetNicAuxInfo", 0}}),
    Inventory("DropsByTypeAndFlagWithoutAuxQuery_otherBitsOnly", {{4, 0xFE}}, 1, {200},
              {{"OmbriGetNicAuxInfo", 1}}),
    // Aux blocks stay with their adapters.
    Inventory("AuxFailureDropsOnlyThatAdapterSilently", {{4, 0}, {4, 0}, {4, 0}}, 1, {200, 202}, {},
              "fault OmbriGetNicAuxInfo status=0x20 adapter=101\n"),
    Inventory("NicInfoFailureDropsSilentlyWithoutAuxQuery", {{4, 0}, {4, 0}}, 1, {201},
              {{"OmbriGetNicAuxInfo handle=100", 0}},
              "fault OmbriGetNicInfo status=0x15 adapter=100\n"),
    Inventory("EveryAdapterDropped", {{2, 0}, {4, 1}, {4, 0}}, 0, {}, {},
              "fault OmbriGetNicAuxInfo status=1 adapter=102\n"),
    Inventory("CountFailure", {{4, 0}}, 0, {}, {{"OmbriGetAllPhyNicHandles", 0}},
              "fault OmbriGetNumPhyNicEx status=7\n", "", "OmbriGetNumPhyNicEx() failed 7\r\n"),
    Inventory("HandlesFailure", {{4, 0}}, 0, {}, {{"OmbriGetNicInfo", 0}},
              "fault OmbriGetAllPhyNicHandles status=0xC0000001\n", "",
              "OmbriGetAllPhyNicHandles() failed 3221225473\r\n"),
    Inventory("NoAdapters", {}, 0, {}, {{"OmbriGetAllPhyNicHandles", 0}}),
    Inventory("AbsurdCountFailsCleanly", {{4, 0}}, ADAPTER_OUT_OF_MEMORY, {},
              {{"OmbriGetAllPhyNicHandles", 0}}, "count 0xFFFFFFFF\n",
              "Not enough memory for the adapter tables.\r\n", "", true),
};

void PrintTo(const InventoryCase &row, std::ostream *os) {
    *os << row.name;
}

class EnumerateTest : public InventoryTest, public ::testing::WithParamInterface<InventoryCase> {};

TEST_P(EnumerateTest, KeepsTheseAdapters) {
    const InventoryCase &r = GetParam();
    if (const char *why = r.huge ? HugeAllocationSkipReason() : nullptr) {
        GTEST_SKIP() << why;
    }
    for (const Kind &k : r.adapters) {
        Add(k.type, k.flags);
    }
    lines_ = r.lines;
    NicCount = 3; // whatever was there before
    EXPECT_EQ(Enumerate(), r.result);
    EXPECT_EQ(NicCount, r.kept.size());
    ASSERT_EQ(NicTable.size(), r.kept.size());
    for (size_t i = 0; i < r.kept.size(); i++) {
        EXPECT_EQ(NicTable[i].Info.Handle, r.kept[i]);
        EXPECT_EQ(NicTable[i].Aux.Reserved4[0], r.kept[i] - 100);
    }
    EXPECT_EQ(out, r.out);
    EXPECT_EQ(err, r.debug);
    for (const Count &c : r.counts) {
        EXPECT_EQ(CallCount(c.words), c.n) << c.words;
    }
}

INSTANTIATE_TEST_SUITE_P(Inventory, EnumerateTest, ::testing::ValuesIn(kInventories),
                         RowName<InventoryCase>);

TEST_F(InventoryTest, DebugMessagesNeedDebug) {
    lines_ = "fault OmbriGetNumPhyNicEx status=7\n";
    Prepare();
    testing::internal::CaptureStderr();
    EnumerateAdapters();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(InventoryTest, UnterminatedTextsEndInsideTheirFields) {
    Add();
    ports_[0].keys = "handle=100 port=200 desc=" + std::string(168, 'D') +
                     " mactext=" + std::string(13, 'F') + " pci=1234-ABCD-5678-0001";
    EXPECT_EQ(Enumerate(), 1);
    EXPECT_EQ(std::string(NicTable[0].Info.Description), std::string(167, 'D'));
    EXPECT_EQ(std::string(NicTable[0].Info.MacText), std::string(12, 'F'));
}

} // namespace
