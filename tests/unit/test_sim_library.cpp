// The simulated adapter library's contract: lifecycle, block versions,
// handles, diagnostic mode, NVRAM reads, and what it serves from its files.
#include "test_sim_fixture.h"

#include "sim/common/sim_files.h"

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

class SimLibrary : public SimFixture {
  protected:
    void Init() {
        WriteDefaultServer();
        ASSERT_EQ(SimInitializeEx(0), 0u);
    }
    OmbriStatus Read(uint32_t handle, uint32_t offset, uint32_t *word) {
        uint8_t bytes[4] = {0, 0, 0, 0};
        OmbriStatus status = SimReadFirmware(handle, offset, bytes, 1, OMBRI_ACCESS_ID);
        *word = sim_get_be32(bytes);
        return status;
    }
    // A zero-filled block with the version its caller names.
    template <class Block> static Block Blank(uint32_t version) {
        Block block = Block{};
        block.InfoVersion = version;
        return block;
    }
};

TEST_F(SimLibrary, OperationsNeedAnInitialisedLibrary) {
    WriteDefaultServer();
    uint32_t a = 0, b = 0, c = 0;
    EXPECT_EQ(SimGetVersion(&a, &b, &c), 0u) << "the version is asked before initialising";
    EXPECT_EQ(a * 10000 + b * 100 + c, 70601u);

    NicInfo info = Blank<NicInfo>(NIC_INFO_VERSION);
    for (int round = 0; round < 2; ++round) { // before init, then after uninit
        uint32_t count = 0, handles[4];
        EXPECT_EQ(SimGetNumPhyNicEx(&count), SIM_ERR_NOT_INITIALIZED);
        EXPECT_EQ(SimGetAllPhyNicHandles(handles, 4), SIM_ERR_NOT_INITIALIZED);
        EXPECT_EQ(SimGetNicInfo(7, &info), SIM_ERR_NOT_INITIALIZED);
        EXPECT_EQ(SimInitDiag(7), SIM_ERR_NOT_INITIALIZED);
        EXPECT_EQ(SimUninitialize(), SIM_ERR_NOT_INITIALIZED);
        if (round == 0) {
            ASSERT_EQ(SimInitializeEx(0), 0u);
            EXPECT_EQ(SimInitializeEx(0), SIM_ERR_ALREADY_INITIALIZED);
            EXPECT_EQ(SimGetNumPhyNicEx(&count), 0u);
            EXPECT_EQ(count, 2u);
            ASSERT_EQ(SimUninitialize(), 0u);
        }
    }
    EXPECT_EQ(SimInitializeEx(1), SIM_ERR_BAD_ARGUMENT);
}

TEST_F(SimLibrary, HandlesComeInMachineFileOrder) {
    Init();
    uint32_t handles[3] = {0, 0, 0xEEEE};
    EXPECT_EQ(SimGetAllPhyNicHandles(handles, 1), SIM_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(handles[0], 0u) << "a failed call writes nothing";
    ASSERT_EQ(SimGetAllPhyNicHandles(handles, 3), 0u);
    EXPECT_EQ(handles[0], 7u);
    EXPECT_EQ(handles[1], 9u);
    EXPECT_EQ(handles[2], 0xEEEEu) << "beyond the count nothing is written";
}

TEST_F(SimLibrary, WrongInfoVersionsAreRefusedAndLeaveTheBlock) {
    Init();
    for (uint32_t version : {0u, 2u, 8u, 9u, 11u}) {
        NicInfo info = Blank<NicInfo>(version);
        EXPECT_EQ(SimGetNicInfo(7, &info), SIM_ERR_BAD_INFO_VERSION) << version;
        EXPECT_EQ(info.Handle, 0u);
    }
    for (uint32_t version : {0u, 2u, 7u, 10u}) {
        NicAuxInfo aux = Blank<NicAuxInfo>(version);
        EXPECT_EQ(SimGetNicAuxInfo(7, &aux), SIM_ERR_BAD_INFO_VERSION) << version;
        EXPECT_EQ(aux.Reserved4[0], 0u);
    }
    for (uint32_t version : {0u, 1u, 3u, 10u}) {
        TernFwInfo tern = Blank<TernFwInfo>(version);
        EXPECT_EQ(SimGetTernFwInfo(7, &tern), SIM_ERR_BAD_INFO_VERSION) << version;
        EXPECT_EQ(tern.BootCodeVersionText[0], '\0');
    }
}

TEST_F(SimLibrary, UnknownHandlesAreRefusedByEveryAdapterOperation) {
    Init();
    NicInfo info = Blank<NicInfo>(NIC_INFO_VERSION);
    NicAuxInfo aux = Blank<NicAuxInfo>(NIC_AUX_INFO_VERSION);
    TernFwInfo tern = Blank<TernFwInfo>(TERN_FW_INFO_VERSION);
    uint32_t word;
    for (uint32_t handle : {0u, 8u, 0xFFFFFFFFu}) {
        EXPECT_EQ(SimGetNicInfo(handle, &info), SIM_ERR_UNKNOWN_HANDLE);
        EXPECT_EQ(SimGetNicAuxInfo(handle, &aux), SIM_ERR_UNKNOWN_HANDLE);
        EXPECT_EQ(SimInitDiag(handle), SIM_ERR_UNKNOWN_HANDLE);
        EXPECT_EQ(SimUnInitDiag(handle), SIM_ERR_UNKNOWN_HANDLE);
        EXPECT_EQ(Read(handle, 0, &word), SIM_ERR_UNKNOWN_HANDLE);
        EXPECT_EQ(SimGetTernFwInfo(handle, &tern), SIM_ERR_UNKNOWN_HANDLE);
    }
    // A port handle of its own: each kind of handle only where it is due.
    SimResetForTests();
    WriteText("machine.txt", "adapter handle=7 port=70 nvram=nic0.nvram\ncount 5\n");
    ASSERT_EQ(SimInitializeEx(0), 0u);
    uint32_t count = 0;
    EXPECT_EQ(SimGetNumPhyNicEx(&count), 0u);
    EXPECT_EQ(count, 5u) << "the count the machine file names";
    EXPECT_EQ(SimGetNicInfo(70, &info), SIM_ERR_UNKNOWN_HANDLE);
    ASSERT_EQ(SimGetNicInfo(7, &info), 0u);
    EXPECT_EQ(info.Handle, 70u);
    EXPECT_EQ(SimInitDiag(7), SIM_ERR_UNKNOWN_HANDLE);
    EXPECT_EQ(SimInitDiag(70), 0u);
}

TEST_F(SimLibrary, DiagnosticModeRules) {
    Init();
    uint32_t word = 0;
    EXPECT_EQ(Read(7, 0, &word), SIM_ERR_NOT_IN_DIAG);
    EXPECT_EQ(SimUnInitDiag(7), SIM_ERR_NOT_IN_DIAG);
    ASSERT_EQ(SimInitDiag(7), 0u);
    EXPECT_EQ(SimInitDiag(7), SIM_ERR_ALREADY_IN_DIAG);
    EXPECT_EQ(SimInitDiag(9), 0u) << "diagnostic mode is per port";
    EXPECT_EQ(Read(7, 0, &word), 0u);
    EXPECT_EQ(word, NVRAM_MAGIC);
    ASSERT_EQ(SimUnInitDiag(7), 0u);
    EXPECT_EQ(Read(7, 0, &word), SIM_ERR_NOT_IN_DIAG);
    // Closing the library ends diagnostic mode on every port.
    ASSERT_EQ(SimUninitialize(), 0u);
    ASSERT_EQ(SimInitializeEx(0), 0u);
    EXPECT_EQ(SimUnInitDiag(9), SIM_ERR_NOT_IN_DIAG);
}

TEST_F(SimLibrary, ReadFirmwareArguments) {
    Init();
    ASSERT_EQ(SimInitDiag(7), 0u);
    std::vector<uint8_t> image;
    std::string error;
    ASSERT_TRUE(sim_read_file(Path("nic0.nvram"), image, error));
    const uint32_t size = static_cast<uint32_t>(image.size());
    const std::string longer = std::string(OMBRI_ACCESS_ID) + "x";
    const std::string shorter = std::string(OMBRI_ACCESS_ID).substr(0, 37);
    struct Case {
        uint32_t offset;
        uint32_t words;
        const char *access;
        OmbriStatus status;
    } cases[] = {
        {24, 1, OMBRI_ACCESS_ID, 0},
        {size - 4, 1, OMBRI_ACCESS_ID, 0},
        {size, 1, OMBRI_ACCESS_ID, SIM_ERR_OUT_OF_RANGE},
        {0xFFFFFFFCu, 1, OMBRI_ACCESS_ID, SIM_ERR_OUT_OF_RANGE},
        {26, 1, OMBRI_ACCESS_ID, SIM_ERR_UNALIGNED},
        {24, 0, OMBRI_ACCESS_ID, SIM_ERR_BAD_WORD_COUNT},
        {24, 2, OMBRI_ACCESS_ID, SIM_ERR_BAD_WORD_COUNT},
        {24, 1, nullptr, SIM_ERR_BAD_ACCESS_ID},
        {24, 1, "{00000000-0000-0000-0000-000000000000}", SIM_ERR_BAD_ACCESS_ID},
        {24, 1, longer.c_str(), SIM_ERR_BAD_ACCESS_ID},
        {24, 1, shorter.c_str(), SIM_ERR_BAD_ACCESS_ID},
    };
    for (const Case &c : cases) {
        uint8_t bytes[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
        EXPECT_EQ(SimReadFirmware(7, c.offset, bytes, c.words, c.access), c.status)
            << "offset " << c.offset << " words " << c.words;
        if (c.status == 0) {
            EXPECT_EQ(0, memcmp(bytes, image.data() + c.offset, 4)) << "bytes in NVRAM order";
        } else {
            EXPECT_EQ(bytes[0], 0xEE) << "a refused read leaves the buffer";
        }
        EXPECT_EQ(bytes[4], 0xEE) << "one word is four bytes";
    }
    uint32_t word = 0;
    ASSERT_EQ(Read(7, 24, &word), 0u);
    EXPECT_EQ(word >> 28, 1u) << "directory entry 0 is of type 1";
}

TEST_F(SimLibrary, NicInfoServesTheMachineFileAndFallsBackToTheNvram) {
    Init();
    NicInfo info = Blank<NicInfo>(NIC_INFO_VERSION);
    ASSERT_EQ(SimGetNicInfo(9, &info), 0u);
    EXPECT_EQ(info.InfoVersion, NIC_INFO_VERSION);
    EXPECT_EQ(info.AdapterType, 2u);
    EXPECT_EQ(info.InfoFlags, 1u);
    EXPECT_EQ(info.Handle, 9u);
    EXPECT_STREQ(info.MacText, "001122334455");
    EXPECT_EQ(info.VendorId, 0x1111);
    EXPECT_EQ(info.DeviceId, 0x2222);
    EXPECT_EQ(info.SubsystemVendorId, 0x3333);
    EXPECT_EQ(info.SubsystemId, 0x4444);

    info = Blank<NicInfo>(NIC_INFO_VERSION);
    ASSERT_EQ(SimGetNicInfo(7, &info), 0u);
    EXPECT_EQ(info.AdapterType, ADAPTER_TYPE_SUPPORTED) << "type defaults to 4";
    EXPECT_EQ(info.InfoFlags, 0u);
    EXPECT_STREQ(info.Description, "Port A");
    EXPECT_STREQ(info.MacText, "0A1B2C3D4E5F");
    EXPECT_EQ(info.VendorId, 0x1234);
    EXPECT_EQ(info.DeviceId, 0xABCD);
    EXPECT_EQ(info.SubsystemVendorId, 0x5678);
    EXPECT_EQ(info.SubsystemId, 0x0001);
    // Unnamed bytes are not left zero, so a caller that relies on them shows.
    EXPECT_NE(info.Reserved430, 0u);
    EXPECT_NE(info.Reserved16[0], 0u);
}

TEST_F(SimLibrary, VersionTextsAreReadFromTheNvramFileOnEveryCall) {
    Init();
    TernFwInfo tern = Blank<TernFwInfo>(TERN_FW_INFO_VERSION);
    ASSERT_EQ(SimGetTernFwInfo(7, &tern), 0u);
    EXPECT_STREQ(tern.BootCodeVersionText, "5.0.3");
    EXPECT_STREQ(tern.PreBootVersionText, "8.3.2");
    EXPECT_STREQ(tern.UmpVersionText, "");
    EXPECT_EQ(tern.InfoVersion, TERN_FW_INFO_VERSION);

    // Another process (the writer tool) replaces the image.
    SimNvSpec spec = DefaultSpec();
    snprintf(spec.bootcode, sizeof spec.bootcode, "5.0.4");
    snprintf(spec.ump, sizeof spec.ump, "1.2.0");
    sim_signature_words(SIM_IMAGE_CLP, spec.entries[0].sig);
    WriteNvram("nic0.nvram", spec);
    tern = Blank<TernFwInfo>(TERN_FW_INFO_VERSION);
    ASSERT_EQ(SimGetTernFwInfo(7, &tern), 0u);
    EXPECT_STREQ(tern.BootCodeVersionText, "5.0.4");
    EXPECT_STREQ(tern.UmpVersionText, "1.2.0");
    ASSERT_EQ(SimInitDiag(7), 0u);
    uint32_t offset = 0, word = 0;
    ASSERT_EQ(Read(7, 28, &offset), 0u);
    ASSERT_EQ(Read(7, offset + 32, &word), 0u);
    EXPECT_EQ(word, SIM_SIG_CLP_0);
}

// The library keeps an image until its file changes. A time well in the past
// stands for an image written long before the call; a file given the same time
// again after a rewrite is told apart by its inode only.
TEST_F(SimLibrary, ChangedNvramFilesAreReadAgain) {
    struct Case {
        const char *how;
        bool old_time; // the file's time is set 10 s back, before and after the change
        bool rename;   // replaced as the writer tool does, else rewritten in place
        const char *served;
    } cases[] = {
        {"replaced, same size and time", true, true, "5.0.4"},
        {"rewritten in place at once, same size", false, false, "5.0.4"},
        {"rewritten in place, same size and settled time: the copy is trusted", true, false,
         "5.0.3"},
    };
    for (const Case &c : cases) {
        SimResetForTests();
        WriteDefaultServer();
        const std::string nvram = Path("nic0.nvram");
        timespec times[2];
        clock_gettime(CLOCK_REALTIME, &times[0]);
        times[0].tv_sec -= 10;
        times[0].tv_nsec = 123456789;
        times[1] = times[0];
        if (c.old_time) {
            ASSERT_EQ(utimensat(AT_FDCWD, nvram.c_str(), times, 0), 0);
        }
        ASSERT_EQ(SimInitializeEx(0), 0u);
        TernFwInfo tern = Blank<TernFwInfo>(TERN_FW_INFO_VERSION);
        ASSERT_EQ(SimGetTernFwInfo(7, &tern), 0u);
        ASSERT_STREQ(tern.BootCodeVersionText, "5.0.3");

        SimNvSpec spec = DefaultSpec();
        snprintf(spec.bootcode, sizeof spec.bootcode, "5.0.4");
        std::vector<uint8_t> image;
        std::string error;
        ASSERT_TRUE(sim_nvram_build(spec, image, error)) << error;
        ASSERT_TRUE(c.rename ? sim_replace_file(nvram, image, error)
                             : sim_write_file(nvram, image, error))
            << error;
        if (c.old_time) {
            ASSERT_EQ(utimensat(AT_FDCWD, nvram.c_str(), times, 0), 0);
        }
        ASSERT_EQ(SimGetTernFwInfo(7, &tern), 0u);
        EXPECT_STREQ(tern.BootCodeVersionText, c.served) << c.how;
    }
}

TEST_F(SimLibrary, BrokenNvramFilesGiveAStatusAndOneMessage) {
    struct Case {
        const char *name;
        std::string content;
        const char *message;
    } cases[] = {
        {"missing", "", "No such file"},
        {"short", std::string(100, '\0'), "shorter than"},
        {"magic", std::string(2048, '\0'), "magic"},
    };
    for (const Case &c : cases) {
        SimResetForTests();
        WriteDefaultServer();
        if (std::string(c.name) == "missing") {
            remove(Path("nic0.nvram").c_str());
        } else {
            WriteText("nic0.nvram", c.content);
        }
        ASSERT_EQ(SimInitializeEx(0), 0u);
        ASSERT_EQ(SimInitDiag(7), 0u);
        TernFwInfo tern = Blank<TernFwInfo>(TERN_FW_INFO_VERSION);
        uint32_t word;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(SimGetTernFwInfo(7, &tern), SIM_ERR_NVRAM_FILE) << c.name;
        EXPECT_EQ(Read(7, 0, &word), SIM_ERR_NVRAM_FILE) << c.name;
        std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(Path("nic0.nvram")), std::string::npos) << err;
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
        EXPECT_EQ(err.find('\n'), err.size() - 1) << "one message, not one per call: " << err;
    }
}

TEST_F(SimLibrary, BrokenMachineFileFailsEveryCall) {
    WriteText("machine.txt", "version 7.6.1\nadapter handle=1 bogus=2 nvram=x\n");
    ::testing::internal::CaptureStderr();
    uint32_t a = 0, b = 0, c = 0;
    EXPECT_EQ(SimGetVersion(&a, &b, &c), SIM_ERR_CONFIG);
    EXPECT_EQ(a, 0u);
    EXPECT_EQ(SimInitializeEx(0), SIM_ERR_CONFIG);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "ombri-sim: " + Path("machine.txt") + ":2: unknown adapter key 'bogus'\n");

    SimResetForTests();
    SimSetEnvForTests("OMBRI_SIM_MACHINE", nullptr);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(SimInitializeEx(0), SIM_ERR_CONFIG);
    err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("OMBRI_SIM_MACHINE"), std::string::npos);
}

} // namespace
