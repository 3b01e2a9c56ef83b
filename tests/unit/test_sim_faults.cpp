// Injected faults and the call log of the simulated adapter library.
#include "test_sim_fixture.h"

#include <cstring>

namespace {

class SimFaults : public SimFixture {
  protected:
    OmbriStatus Read(uint32_t handle) {
        uint8_t bytes[4];
        return SimReadFirmware(handle, 0, bytes, 1, OMBRI_ACCESS_ID);
    }
};

// Each case: the fault (environment form), and the statuses of six reads of
// adapter 7 then two of adapter 9.
TEST_F(SimFaults, FaultFormsFireOnTheRightCalls) {
    struct Case {
        const char *faults;
        OmbriStatus expect[8];
    } cases[] = {
        {"OmbriReadFirmware status=5", {5, 5, 5, 5, 5, 5, 5, 5}},
        {"OmbriReadFirmware status=5 from=4", {0, 0, 0, 5, 5, 5, 5, 5}},
        {"OmbriReadFirmware status=5 at=2", {0, 5, 0, 0, 0, 0, 0, 0}},
        {"OmbriReadFirmware status=5 adapter=9", {0, 0, 0, 0, 0, 0, 5, 5}},
        {"OmbriReadFirmware status=5 adapter=9 at=2", {0, 0, 0, 0, 0, 0, 0, 5}},
        {"OmbriReadFirmware status=5 adapter=7 from=4", {0, 0, 0, 5, 5, 5, 0, 0}},
        {"OmbriGetTernFwInfo status=5", {0, 0, 0, 0, 0, 0, 0, 0}},
        // Calls before the reads: InitializeEx, InitDiag 7, InitDiag 9 (1 to 3).
        {"any status=6 at=5", {0, 6, 0, 0, 0, 0, 0, 0}},
        {"any status=6 adapter=9 from=2", {0, 0, 0, 0, 0, 0, 6, 6}},
        {"; OmbriReadFirmware status=5 at=1;OmbriReadFirmware status=6 at=1 ;",
         {5, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        SimResetForTests();
        WriteDefaultServer();
        WriteNvram("nic9.nvram", DefaultSpec());
        WriteText("machine.txt", "adapter handle=7 nvram=nic0.nvram\n"
                                 "adapter handle=9 nvram=nic9.nvram\n");
        SimSetEnvForTests("OMBRI_SIM_FAULTS", c.faults);
        ASSERT_EQ(SimInitializeEx(0), 0u) << c.faults;
        ASSERT_EQ(SimInitDiag(7), 0u) << c.faults;
        ASSERT_EQ(SimInitDiag(9), 0u) << c.faults;
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(Read(i < 6 ? 7 : 9), c.expect[i]) << c.faults << ", read " << i + 1;
        }
    }
}

TEST_F(SimFaults, MachineFileFaultsFollowTheEnvironmentOnes) {
    WriteDefaultServer("fault OmbriInitializeEx status=44\n");
    EXPECT_EQ(SimInitializeEx(0), 44u);
    SimResetForTests();
    SimSetEnvForTests("OMBRI_SIM_FAULTS", "OmbriInitializeEx status=33 at=1");
    EXPECT_EQ(SimInitializeEx(0), 33u) << "the environment's fault is listed first";
    EXPECT_EQ(SimInitializeEx(0), 44u);
}

TEST_F(SimFaults, FailingCallsChangeNothing) {
    WriteDefaultServer();
    SimSetEnvForTests(
        "OMBRI_SIM_FAULTS",
        "OmbriGetNicInfo status=3; OmbriGetTernFwInfo status=3; OmbriInitDiag status=3 at=1;"
        "OmbriUnInitDiag status=3 at=1; OmbriUninitialize status=3 at=1; "
        "OmbriGetVersion status=3");
    uint32_t a = 1, b = 2, c = 3;
    EXPECT_EQ(SimGetVersion(&a, &b, &c), 3u);
    EXPECT_EQ(a + b + c, 6u);
    ASSERT_EQ(SimInitializeEx(0), 0u);

    NicInfo info;
    memset(&info, 0x11, sizeof info);
    info.InfoVersion = NIC_INFO_VERSION;
    NicInfo before = info;
    EXPECT_EQ(SimGetNicInfo(7, &info), 3u);
    EXPECT_EQ(0, memcmp(&info, &before, sizeof info));

    TernFwInfo tern = TernFwInfo{};
    tern.InfoVersion = TERN_FW_INFO_VERSION;
    snprintf(tern.BootCodeVersionText, sizeof tern.BootCodeVersionText, "caller's");
    EXPECT_EQ(SimGetTernFwInfo(7, &tern), 3u);
    EXPECT_STREQ(tern.BootCodeVersionText, "caller's");

    EXPECT_EQ(SimInitDiag(7), 3u);
    EXPECT_EQ(Read(7), SIM_ERR_NOT_IN_DIAG) << "a failed InitDiag leaves the port out";
    ASSERT_EQ(SimInitDiag(7), 0u);
    EXPECT_EQ(SimUnInitDiag(7), 3u);
    EXPECT_EQ(Read(7), 0u) << "a failed UnInitDiag leaves the port in";
    EXPECT_EQ(SimUninitialize(), 3u);
    uint32_t count = 0;
    EXPECT_EQ(SimGetNumPhyNicEx(&count), 0u) << "a failed Uninitialize leaves it open";
}

TEST_F(SimFaults, BadFaultTextsAreConfigurationErrors) {
    const char *bad[] = {
        "OmbriReadFirmware",                 // no status
        "OmbriReadFirmware status=0",        // zero status
        "OmbriReadFrmware status=1",         // unknown operation
        "OmbriReadFirmware status=1 from=0", // counted from 1
        "OmbriReadFirmware status=1 at=2 from=3",
        "OmbriReadFirmware status=1 when=3",
        "OmbriReadFirmware status=x",
    };
    WriteDefaultServer();
    for (const char *text : bad) {
        SimResetForTests();
        SimSetEnvForTests("OMBRI_SIM_FAULTS", text);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(SimInitializeEx(0), SIM_ERR_CONFIG) << text;
        std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.rfind("ombri-sim: OMBRI_SIM_FAULTS: ", 0), 0u) << err;
    }
}

TEST_F(SimFaults, CallLogHasOneLinePerCall) {
    WriteDefaultServer();
    SimSetEnvForTests("OMBRI_SIM_CALL_LOG", Path("calls.log").c_str());
    SimSetEnvForTests("OMBRI_SIM_FAULTS", "OmbriGetNicAuxInfo status=9 adapter=9");
    uint32_t a, b, c, count, handles[2];
    SimGetVersion(&a, &b, &c);
    SimInitializeEx(0);
    SimGetNumPhyNicEx(&count);
    SimGetAllPhyNicHandles(handles, 2);
    NicInfo info = NicInfo{};
    info.InfoVersion = NIC_INFO_VERSION;
    SimGetNicInfo(7, &info);
    NicAuxInfo aux = NicAuxInfo{};
    aux.InfoVersion = NIC_AUX_INFO_VERSION;
    SimGetNicAuxInfo(9, &aux);
    SimInitDiag(7);
    uint8_t bytes[4];
    SimReadFirmware(7, 0x18, bytes, 1, OMBRI_ACCESS_ID);
    SimReadFirmware(7, 0x18, bytes, 1, "wrong");
    TernFwInfo tern = TernFwInfo{};
    tern.InfoVersion = 3;
    SimGetTernFwInfo(7, &tern);
    SimUnInitDiag(7);
    SimUninitialize();
    // Served, but marked: a block not zero-filled, the texts outside diagnostic mode.
    SimInitializeEx(0);
    info = NicInfo{};
    info.InfoVersion = NIC_INFO_VERSION;
    info.Reserved444[483] = 1;
    SimGetNicInfo(7, &info);
    tern = TernFwInfo{};
    tern.InfoVersion = TERN_FW_INFO_VERSION;
    SimGetTernFwInfo(7, &tern);
    EXPECT_EQ(ReadText("calls.log"),
              "1 OmbriGetVersion status=0 version=7.6.1\n"
              "2 OmbriInitializeEx flags=0 status=0\n"
              "3 OmbriGetNumPhyNicEx status=0 count=2\n"
              "4 OmbriGetAllPhyNicHandles length=2 status=0 handles=7,9\n"
              "5 OmbriGetNicInfo handle=7 version=10 status=0\n"
              "6 OmbriGetNicAuxInfo handle=9 version=8 status=9 injected\n"
              "7 OmbriInitDiag handle=7 status=0\n"
              "8 OmbriReadFirmware handle=7 offset=0x18 words=1 access=ok status=0 "
              "data=0x10000000\n"
              "9 OmbriReadFirmware handle=7 offset=0x18 words=1 access=bad status=110 "
              "misuse=access\n"
              "10 OmbriGetTernFwInfo handle=7 version=3 status=105 misuse=infoversion\n"
              "11 OmbriUnInitDiag handle=7 status=0\n"
              "12 OmbriUninitialize status=0\n"
              "13 OmbriInitializeEx flags=0 status=0\n"
              "14 OmbriGetNicInfo handle=7 version=10 status=0 misuse=block\n"
              "15 OmbriGetTernFwInfo handle=7 version=2 status=0 misuse=diag\n");
}

} // namespace
