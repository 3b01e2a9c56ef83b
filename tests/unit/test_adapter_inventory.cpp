// EnumerateAdapters against the fake library: which adapters are kept, in
// which order, and what the failures leave behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "adapter/inventory.h"
#include "fake_ombri.h"
#include "run/runflags.h"

namespace {

using fake::Lib;

class InventoryTest : public fake::AdapterTest {
  protected:
    void SetUp() override {
        fake::AdapterTest::SetUp();
        Lib.Initialized = true; // as after OmbriInitializeEx
    }
    // Adapter i: list handle 100 + i, port handle 200 + i, aux mark 0xA0 + i.
    fake::Adapter &Add(uint32_t type = ADAPTER_TYPE_SUPPORTED, uint8_t flags = 0) {
        uint32_t i = static_cast<uint32_t>(Lib.Adapters.size());
        char mac[13];
        std::snprintf(mac, sizeof mac, "0A1B2C3D4E%02X", static_cast<unsigned>(i));
        fake::Adapter a =
            fake::SupportedAdapter(100 + i, 200 + i, "Port", mac, 0x1234, 0xABCD, 0x5678, 0x0001);
        a.Info.AdapterType = type;
        a.Info.InfoFlags = flags;
        a.AuxMark = static_cast<uint8_t>(0xA0 + i);
        Lib.Adapters.push_back(a);
        return Lib.Adapters.back();
    }
    int Enumerate() { return RunCaptured(EnumerateAdapters); }
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
    EXPECT_EQ(NicTable[0].Aux.Reserved4[0], 0xA0);
    EXPECT_EQ(NicTable[1].Aux.Reserved4[0], 0xA2);
    EXPECT_EQ(NicTable[1].Aux.InfoVersion, NIC_AUX_INFO_VERSION);
    for (const NicEntry &e : NicTable) {
        EXPECT_EQ(e.DiagOpen, 0u);
    }
    EXPECT_EQ(Lib.Calls, (std::vector<std::string>{
                             "OmbriGetNumPhyNicEx", "OmbriGetAllPhyNicHandles 3",
                             "OmbriGetNicInfo 100", "OmbriGetNicAuxInfo 100", "OmbriGetNicInfo 101",
                             "OmbriGetNicInfo 102", "OmbriGetNicAuxInfo 102"}));
    EXPECT_TRUE(Lib.Misuse.empty()); // every block prepared with its InfoVersion, zero-filled
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
        fake::Reset();
        Lib.Initialized = true;
        Add(c.type, c.flags);
        EXPECT_EQ(Enumerate(), c.kept ? 1 : 0) << c.what;
        EXPECT_EQ(NicCount, c.kept ? 1u : 0u) << c.what;
        EXPECT_EQ(NicTable.size(), c.kept ? 1u : 0u) << c.what;
        EXPECT_EQ(fake::CallCount("OmbriGetNicAuxInfo"), c.kept ? 1 : 0) << c.what;
        EXPECT_EQ(out + err, "") << c.what;
    }
}

TEST_F(InventoryTest, AuxFailureDropsOnlyThatAdapterSilently) {
    Add();
    Add().AuxStatus = 0x20;
    Add();
    EXPECT_EQ(Enumerate(), 1);
    ASSERT_EQ(NicCount, 2u);
    EXPECT_EQ(NicTable[0].Info.Handle, 200u);
    EXPECT_EQ(NicTable[1].Info.Handle, 202u);
    EXPECT_EQ(NicTable[1].Aux.Reserved4[0], 0xA2); // aux blocks stay with their adapters
    EXPECT_EQ(out + err, "");
}

TEST_F(InventoryTest, NicInfoFailureDropsSilentlyWithoutAuxQuery) {
    Add().NicInfoStatus = 0x15;
    Add();
    EXPECT_EQ(Enumerate(), 1);
    ASSERT_EQ(NicCount, 1u);
    EXPECT_EQ(NicTable[0].Info.Handle, 201u);
    EXPECT_EQ(fake::CallCount("OmbriGetNicAuxInfo 100"), 0);
    EXPECT_EQ(out + err, "");
}

TEST_F(InventoryTest, EveryAdapterDropped) {
    Add(2);
    Add(4, 1);
    Add().AuxStatus = 1;
    EXPECT_EQ(Enumerate(), 0);
    EXPECT_EQ(NicCount, 0u);
    EXPECT_TRUE(NicTable.empty());
    EXPECT_EQ(out + err, "");
}

TEST_F(InventoryTest, CountFailure) {
    Add();
    Lib.CountStatus = 7;
    NicCount = 3; // whatever was there before
    EXPECT_EQ(Enumerate(), 0);
    EXPECT_EQ(err, "OmbriGetNumPhyNicEx() failed 7\r\n");
    EXPECT_EQ(out, "");
    EXPECT_EQ(NicCount, 0u);
    EXPECT_TRUE(NicTable.empty());
    EXPECT_EQ(fake::CallCount("OmbriGetAllPhyNicHandles"), 0);
}

TEST_F(InventoryTest, HandlesFailure) {
    Add();
    Lib.HandlesStatus = 0xC0000001;
    EXPECT_EQ(Enumerate(), 0);
    EXPECT_EQ(err, "OmbriGetAllPhyNicHandles() failed 3221225473\r\n");
    EXPECT_EQ(NicCount, 0u);
    EXPECT_EQ(fake::CallCount("OmbriGetNicInfo"), 0);
}

TEST_F(InventoryTest, DebugMessagesNeedDebug) {
    Lib.CountStatus = 7;
    testing::internal::CaptureStderr();
    EnumerateAdapters();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(InventoryTest, NoAdapters) {
    EXPECT_EQ(Enumerate(), 0);
    EXPECT_EQ(NicCount, 0u);
    EXPECT_TRUE(NicTable.empty());
    EXPECT_EQ(fake::CallCount("OmbriGetAllPhyNicHandles"), 0);
    EXPECT_EQ(out + err, "");
}

TEST_F(InventoryTest, UnterminatedTextsEndInsideTheirFields) {
    fake::Adapter &a = Add();
    std::memset(a.Info.Description, 'D', sizeof a.Info.Description);
    std::memset(a.Info.MacText, 'F', sizeof a.Info.MacText);
    EXPECT_EQ(Enumerate(), 1);
    EXPECT_EQ(std::string(NicTable[0].Info.Description), std::string(167, 'D'));
    EXPECT_EQ(std::string(NicTable[0].Info.MacText), std::string(12, 'F'));
}

TEST_F(InventoryTest, AbsurdCountFailsCleanly) {
    if (const char *why = fake::HugeAllocationSkipReason()) {
        GTEST_SKIP() << why;
    }
    Add();
    Lib.CountOverride = true;
    Lib.Count = 0xFFFFFFFFu;
    EXPECT_EQ(Enumerate(), ADAPTER_OUT_OF_MEMORY);
    EXPECT_EQ(out, "Not enough memory for the adapter tables.\r\n");
    EXPECT_EQ(NicCount, 0u);
    EXPECT_TRUE(NicTable.empty());
    EXPECT_EQ(fake::CallCount("OmbriGetAllPhyNicHandles"), 0);
}

} // namespace
