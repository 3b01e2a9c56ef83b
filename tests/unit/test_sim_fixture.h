// Test fixture for the simulated adapter library: a temporary directory with a
// machine file and NVRAM images, the environment variables pointing at them,
// and the library state reset before each test.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/common/sim_machine.h"
#include "sim/common/sim_nvram.h"
#include "sim/ombri/sim_library.h"

class SimFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/lanrefit-sim-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        unsetenv("OMBRI_SIM_FAULTS");
        unsetenv("OMBRI_SIM_CALL_LOG");
        setenv("OMBRI_SIM_MACHINE", Path("machine.txt").c_str(), 1);
        SimResetForTests();
    }
    void TearDown() override {
        SimResetForTests();
        unsetenv("OMBRI_SIM_MACHINE");
        unsetenv("OMBRI_SIM_FAULTS");
        unsetenv("OMBRI_SIM_CALL_LOG");
        std::string command = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(system(command.c_str()), 0);
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

    std::string dir_;
};
