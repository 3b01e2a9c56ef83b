// Test fixture for the simulated adapter library, run in this process: a
// temporary directory with a machine file and NVRAM images, the environment
// pointing at them, and the library state reset before each test. The
// program's own routines reach the library through UseSimulatedLibrary(): its
// eleven operation pointers aimed at the simulated operations, a call log to
// check, and a server described port by port (AddPort, then Serve).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "adapter/binding.h"
#include "adapter/firmware.h"
#include "adapter/inventory.h"
#include "run/runflags.h"
#include "sim/common/sim_files.h"
#include "sim/common/sim_machine.h"
#include "sim/common/sim_nvram.h"
#include "sim/ombri/sim_library.h"
#include "test_files.h"

// NVRAM images for the program's routines: big-endian words, directory entries and image
// signatures.
inline void Put32(std::vector<uint8_t> &nvram, uint32_t offset, uint32_t value) {
    nvram.at(offset + 3);
    sim_put_be32(nvram.data() + offset, value);
}
// The three words at image offset +32, +36 and +40 that tell an image's kind.
struct Signature {
    uint32_t words[3];
};
constexpr Signature kPxeImage = {{0x49444E55, 0, 0}};
constexpr Signature kClpImage = {{0x43AABBCC, 0x4820504C, 0xFF205244}};
constexpr Signature kIscsiImage = {{0x49112233, 0x20544253, 0x77202020}};
// Directory entry k of a type (the top four bits of its word 0), pointing at an
// image (word 1) that starts with these words.
struct DirEntry {
    uint32_t k;
    uint32_t type;
    uint32_t image;
    Signature sig;
};
inline void PutEntries(std::vector<uint8_t> &nvram, const std::vector<DirEntry> &entries) {
    for (const DirEntry &e : entries) {
        const uint32_t at = NVRAM_DIR_OFFSET + NVRAM_DIR_ENTRY_SIZE * e.k;
        Put32(nvram, at, (e.type << 28) | 0x0000ABCD);
        Put32(nvram, at + 4, e.image);
        Put32(nvram, at + 8, 0xDEADBEEF);
        for (uint32_t i = 0; i < 3; i++) {
            Put32(nvram, e.image + 32 + 4 * i, e.sig.words[i]);
        }
    }
}

// A table row's test is named after the row (and its PrintTo prints that name).
template <class Row> std::string RowName(const ::testing::TestParamInfo<Row> &info) {
    return info.param.name;
}

class SimFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = FreshDirectory("lanrefit-sim");
        SimSetEnvForTests("OMBRI_SIM_FAULTS", nullptr);
        SimSetEnvForTests("OMBRI_SIM_CALL_LOG", nullptr);
        SimSetEnvForTests("OMBRI_SIM_MACHINE", Path("machine.txt").c_str());
        SimResetForTests();
    }
    void TearDown() override {
        SimResetForTests();
        SimSetEnvForTests("OMBRI_SIM_MACHINE", nullptr);
        SimSetEnvForTests("OMBRI_SIM_FAULTS", nullptr);
        SimSetEnvForTests("OMBRI_SIM_CALL_LOG", nullptr);
        AimOperations(false);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
        ASSERT_FALSE(std::filesystem::exists(dir_, ignored)) << dir_;
    }

    std::string Path(const std::string &name) const { return dir_ + "/" + name; }

    void WriteText(const std::string &name, const std::string &text) {
        std::ofstream(Path(name), std::ios::binary) << text;
    }
    std::string ReadText(const std::string &name) {
        std::ifstream in(Path(name), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // A default image: identity 1234-ABCD-5678-0001, MAC 0A1B2C3D4E5F, boot
    // code 5.0.3, pre-boot 8.3.2 with a PXE entry.
    static SimNvSpec DefaultSpec() {
        SimNvSpec spec = SimNvSpec{};
        sim_parse_pci("1234-ABCD-5678-0001", spec.pci);
        sim_parse_mac("0A1B2C3D4E5F", spec.mac);
        snprintf(spec.bootcode, sizeof spec.bootcode, "5.0.3");
        snprintf(spec.preboot, sizeof spec.preboot, "8.3.2");
        SimNvEntry entry = SimNvEntry{};
        entry.type = 1;
        sim_signature_words(SIM_IMAGE_PXE, entry.sig);
        spec.entries.push_back(entry);
        return spec;
    }
    void WriteNvram(const std::string &name, const SimNvSpec &spec) {
        std::vector<uint8_t> image;
        std::string error;
        ASSERT_TRUE(sim_nvram_build(spec, image, error)) << error;
        ASSERT_TRUE(sim_write_file(Path(name), image, error)) << error;
    }

    // Two adapters: handle 7 (supported, nic0.nvram), handle 9 (another kind,
    // identity given in the machine file, no NVRAM).
    void WriteDefaultServer(const std::string &extra = "") {
        WriteNvram("nic0.nvram", DefaultSpec());
        WriteText("machine.txt", "version 7.6.1\n"
                                 "adapter handle=7 desc=\"Port A\" nvram=nic0.nvram\n"
                                 "adapter handle=9 type=2 flags=1 mac=001122334455 "
                                 "pci=1111-2222-3333-4444\n" +
                                     extra);
    }

    // --- The program's routines against the library ---

    // The program's operation pointers aimed at the library (or cleared), the
    // call log on, the run state cleared.
    void UseSimulatedLibrary() {
        SimSetEnvForTests("OMBRI_SIM_CALL_LOG", Path("calls.log").c_str());
        AimOperations(true);
    }
    static void AimOperations(bool on) {
        OmbriGetVersion = on ? SimGetVersion : nullptr;
        OmbriInitializeEx = on ? SimInitializeEx : nullptr;
        OmbriUninitialize = on ? SimUninitialize : nullptr;
        OmbriGetNumPhyNicEx = on ? SimGetNumPhyNicEx : nullptr;
        OmbriGetAllPhyNicHandles = on ? SimGetAllPhyNicHandles : nullptr;
        OmbriGetNicInfo = on ? SimGetNicInfo : nullptr;
        OmbriGetNicAuxInfo = on ? SimGetNicAuxInfo : nullptr;
        OmbriInitDiag = on ? SimInitDiag : nullptr;
        OmbriUnInitDiag = on ? SimUnInitDiag : nullptr;
        OmbriReadFirmware = on ? SimReadFirmware : nullptr;
        OmbriGetTernFwInfo = on ? SimGetTernFwInfo : nullptr;
        RunFlags = 0;
        CurrentNic = 0;
        NicCount = 0;
        std::vector<NicEntry>().swap(NicTable);
        std::vector<NicFwInfo>().swap(NicFwTable);
    }

    // One adapter of the server: its machine-file keys (nvram= is added) and
    // its NVRAM image, 4 KiB, zero apart from the magic and what a test puts.
    struct Port {
        std::string keys;
        std::vector<uint8_t> nvram;
    };
    std::vector<Port> ports_;
    std::string lines_; // further machine-file lines: version, count, fault

    // Port i of the server, supported: listed as handle 100 + i, port handle 200 + i.
    Port &AddPort(const std::string &desc = "Port 0", const std::string &mac = "0A1B2C3D4E5F",
                  const char *pci = "1234-ABCD-5678-0001") {
        const size_t i = ports_.size();
        Port p;
        p.keys = "handle=" + std::to_string(100 + i) + " port=" + std::to_string(200 + i) +
                 " desc=\"" + desc + "\" mac=" + mac + " pci=" + pci;
        SimNvSpec spec = SimNvSpec{};
        spec.size = 4096;
        std::string error;
        EXPECT_TRUE(sim_nvram_build(spec, p.nvram, error)) << error;
        ports_.push_back(p);
        return ports_.back();
    }
    // Writes the server described and starts the library afresh on it, with
    // an empty call log. Images are replaced whole, so a running library sees
    // the change at its next call.
    void Serve() {
        std::string machine = lines_;
        for (size_t i = 0; i < ports_.size(); ++i) {
            machine += "adapter " + ports_[i].keys + " nvram=port" + std::to_string(i) + ".nvram\n";
        }
        ServeImages();
        WriteText("machine.txt", machine);
        SimResetForTests();
        ForgetCalls();
    }
    // Rewrites the NVRAM images only, leaving the library as it is.
    void ServeImages() {
        std::string error;
        for (size_t i = 0; i < ports_.size(); ++i) {
            EXPECT_TRUE(sim_replace_file(Path("port" + std::to_string(i) + ".nvram"),
                                         ports_[i].nvram, error))
                << error;
        }
    }
    // Serves, initialises the library and builds NicTable, as the program
    // does before it reads the firmware; then forgets those calls.
    void ServeInventory() {
        Serve();
        ASSERT_EQ(SimInitializeEx(0), 0u);
        EnumerateAdapters();
        ASSERT_EQ(NicCount, ports_.size());
        ForgetCalls();
    }

    // The call log, one call a line, without the calls' numbers.
    std::vector<std::string> Calls() {
        std::vector<std::string> calls;
        std::istringstream in(ReadText("calls.log"));
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            calls.push_back(line.substr(line.find(' ') + 1));
        }
        return calls;
    }
    void ForgetCalls() { std::remove(Path("calls.log").c_str()); }
    // Calls whose line starts with these words ("OmbriInitDiag handle=200").
    int CallCount(const std::string &words) {
        int n = 0;
        for (const std::string &call : Calls()) {
            n += call.compare(0, words.size(), words) == 0 &&
                 (call.size() == words.size() || call[words.size()] == ' ');
        }
        return n;
    }
    // NVRAM offsets of the OmbriReadFirmware calls, in order.
    std::vector<uint32_t> Reads() {
        std::vector<uint32_t> reads;
        for (const std::string &call : Calls()) {
            size_t at = call.find(" offset=0x");
            if (call.rfind("OmbriReadFirmware ", 0) == 0 && at != std::string::npos) {
                reads.push_back(
                    static_cast<uint32_t>(std::strtoul(call.c_str() + at + 10, nullptr, 16)));
            }
        }
        return reads;
    }
    // The calls that broke the calling protocol.
    std::vector<std::string> Misuse() {
        std::vector<std::string> misuse;
        for (const std::string &call : Calls()) {
            if (call.find(" misuse=") != std::string::npos) {
                misuse.push_back(call);
            }
        }
        return misuse;
    }

    // Runs a routine with -debug, keeping what it printed in out and err.
    template <class Routine> int RunCaptured(Routine routine) {
        RunFlags |= RUN_DEBUG;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int result = routine();
        out = testing::internal::GetCapturedStdout();
        err = testing::internal::GetCapturedStderr();
        return result;
    }
    std::string out;
    std::string err;

    // The three version texts the library serves: boot code, pre-boot, UMP. A text of 32
    // characters fills its field without a NUL, which the library serves only with texts=raw.
    static void SetTexts(Port &port, const char *const (&texts)[3]) {
        const uint32_t at[3] = {SIM_NV_BOOTCODE_TEXT_OFFSET, SIM_NV_PREBOOT_TEXT_OFFSET,
                                SIM_NV_UMP_TEXT_OFFSET};
        for (int i = 0; i < 3; ++i) {
            std::memset(port.nvram.data() + at[i], 0, SIM_NV_TEXT_SIZE);
            std::memcpy(port.nvram.data() + at[i], texts[i],
                        std::min<size_t>(std::strlen(texts[i]), SIM_NV_TEXT_SIZE));
        }
    }

    // Why a test that makes the tables' allocation fail cannot run here, or
    // null when it can: the sanitizer's allocator aborts on such requests, and
    // a host that overcommits memory without limit would grant them.
    static const char *HugeAllocationSkipReason() {
#if defined(__SANITIZE_ADDRESS__)
        return "the sanitizer's allocator aborts on requests of this size";
#else
        FILE *policy = std::fopen("/proc/sys/vm/overcommit_memory", "r");
        int mode = policy != nullptr ? std::fgetc(policy) : '0';
        if (policy != nullptr) {
            std::fclose(policy);
        }
        return mode == '1' ? "memory is overcommitted without limit on this host" : nullptr;
#endif
    }

    std::string dir_;
};
