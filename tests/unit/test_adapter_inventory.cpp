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
        AddPort(100 + i, 200 + i, "Port", mac).keys +=
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

TEST_F(InventoryTest, DropsByTypeAndFlagWithoutAuxQuery) {
    struct Case {
        const char *what;
        uint32_t type;
        uint8_t flags;
        bool kept;
    };
    const Case cases[] = {
        {"supported", 4, 0x00, true},       {"type 0", 0, 0x00, false},
        {"type 3", 3, 0x00, false},         {"type 5", 5, 0x00, false},
        {"not taken", 4, 0x01, false},      {"not taken, other bits", 4, 0xFF, false},
        {"other bits only", 4, 0xFE, true},
    };
    for (const Case &c : cases) {
        ports_.clear();
        Add(c.type, c.flags);
        EXPECT_EQ(Enumerate(), c.kept ? 1 : 0) << c.what;
        EXPECT_EQ(NicCount, c.kept ? 1u : 0u) << c.what;
        EXPECT_EQ(NicTable.size(), c.kept ? 1u : 0u) << c.what;
        EXPECT_EQ(CallCount("OmbriGetNicAuxInfo"), c.kept ? 1 : 0) << c.what;
        EXPECT_EQ(out + err, "") << c.what;
    }
}

TEST_F(InventoryTest, AuxFailureDropsOnlyThatAdapterSilently) {
    Add();
    Add();
    Add();
    lines_ = "fault OmbriGetNicAuxInfo status=0x20 adapter=101\n";
    EXPECT_EQ(Enumerate(), 1);
    ASSERT_EQ(NicCount, 2u);
    EXPECT_EQ(NicTable[0].Info.Handle, 200u);
    EXPECT_EQ(NicTable[1].Info.Handle, 202u);
    EXPECT_EQ(NicTable[1].Aux.Reserved4[0], 102); // aux blocks stay with their adapters
    EXPECT_EQ(out + err, "");
}

TEST_F(InventoryTest, NicInfoFailureDropsSilentlyWithoutAuxQuery) {
    Add();
    Add();
    lines_ = "fault OmbriGetNicInfo status=0x15 adapter=100\n";
    EXPECT_EQ(Enumerate(), 1);
    ASSERT_EQ(NicCount, 1u);
    EXPECT_EQ(NicTable[0].Info.Handle, 201u);
    EXPECT_EQ(CallCount("OmbriGetNicAuxInfo handle=100"), 0);
    EXPECT_EQ(out + err, "");
}

TEST_F(InventoryTest, EveryAdapterDropped) {
    Add(2);
    Add(4, 1);
    Add();
    lines_ = "fault OmbriGetNicAuxInfo status=1 adapter=102\n";
    EXPECT_EQ(Enumerate(), 0);
    EXPECT_EQ(NicCount, 0u);
    EXPECT_TRUE(NicTable.empty());
    EXPECT_EQ(out + err, "");
}

TEST_F(InventoryTest, CountFailure) {
    Add();
    lines_ = "fault OmbriGetNumPhyNicEx status=7\n";
    NicCount = 3; // whatever was there before
    EXPECT_EQ(Enumerate(), 0);
    EXPECT_EQ(err, "OmbriGetNumPhyNicEx() failed 7\r\n");
    EXPECT_EQ(out, "");
    EXPECT_EQ(NicCount, 0u);
    EXPECT_TRUE(NicTable.empty());
    EXPECT_EQ(CallCount("OmbriGetAllPhyNicHandles"), 0);
}

TEST_F(InventoryTest, HandlesFailure) {
    Add();
    lines_ = "fault OmbriGetAllPhyNicHandles status=0xC0000001\n";
    EXPECT_EQ(Enumerate(), 0);
    EXPECT_EQ(err, "OmbriGetAllPhyNicHandles() failed 3221225473\r\n");
    EXPECT_EQ(NicCount, 0u);
    EXPECT_EQ(CallCount("OmbriGetNicInfo"), 0);
}

TEST_F(InventoryTest, DebugMessagesNeedDebug) {
    lines_ = "fault OmbriGetNumPhyNicEx status=7\n";
    Prepare();
    testing::internal::CaptureStderr();
    EnumerateAdapters();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(InventoryTest, NoAdapters) {
    EXPECT_EQ(Enumerate(), 0);
    EXPECT_EQ(NicCount, 0u);
    EXPECT_TRUE(NicTable.empty());
    EXPECT_EQ(CallCount("OmbriGetAllPhyNicHandles"), 0);
    EXPECT_EQ(out + err, "");
}

TEST_F(InventoryTest, UnterminatedTextsEndInsideTheirFields) {
    Add();
    ports_[0].keys = "handle=100 port=200 desc=" + std::string(168, 'D') +
                     " mactext=" + std::string(13, 'F') + " pci=1234-ABCD-5678-0001";
    EXPECT_EQ(Enumerate(), 1);
    EXPECT_EQ(std::string(NicTable[0].Info.Description), std::string(167, 'D'));
    EXPECT_EQ(std::string(NicTable[0].Info.MacText), std::string(12, 'F'));
}

TEST_F(InventoryTest, AbsurdCountFailsCleanly) {
    if (const char *why = HugeAllocationSkipReason()) {
        GTEST_SKIP() << why;
    }
    Add();
    lines_ = "count 0xFFFFFFFF\n";
    EXPECT_EQ(Enumerate(), ADAPTER_OUT_OF_MEMORY);
    EXPECT_EQ(out, "Not enough memory for the adapter tables.\r\n");
    EXPECT_EQ(NicCount, 0u);
    EXPECT_TRUE(NicTable.empty());
    EXPECT_EQ(CallCount("OmbriGetAllPhyNicHandles"), 0);
}

} // namespace
