// The simulated server's files: the machine file reader and the NVRAM image
// format (builder, checker, fixed offsets).
#include "test_sim_fixture.h"

#include <cstring>

namespace {

class SimFiles : public SimFixture {};

TEST_F(SimFiles, MachineFileErrorsNameFileAndLine) {
    struct Case {
        std::string text;
        const char *error; // after "<path>:"
    } cases[] = {
        {"adapter nvram=a\n", "1: adapter without handle="},
        {"\n# c\nadapter handle=0 nvram=a\n", "3: handle 0 is not a valid handle"},
        {"adapter handle=1 nvram=a\nadapter handle=0x1 nvram=b\n", "2: handle 0x1 is used twice"},
        {"adapter handle=1 port=0 nvram=a\n", "1: port 0 is not a valid handle"},
        {"adapter handle=1 nvram=a\nadapter handle=2 port=1 nvram=b\n",
         "2: port handle 1 is used twice"},
        {"adapter handle=1 desc=" + std::string(169, 'd') + " nvram=a\n",
         "1: desc is longer than 168 characters"},
        {"adapter handle=1 mactext=0A1B2C3D4E5F0A nvram=a\n",
         "1: mactext is longer than 13 characters"},
        {"adapter handle=1 texts=loose nvram=a\n", "1: texts must be strict or raw, found 'loose'"},
        {"count 1\ncount 2\n", "2: second count line"},
        {"count -1\n", "1: expected count N"},
        {"adapter handle=1 type=four nvram=a\n", "1: bad number in 'type=four'"},
        {"adapter handle=1 flags=256 nvram=a\n", "1: bad number in 'flags=256'"},
        {"adapter handle=1 mac=0A1B2C3D4E5 nvram=a\n",
         "1: mac must be 12 hexadecimal digits, found '0A1B2C3D4E5'"},
        {"adapter handle=1 pci=1234-ABCD-5678 nvram=a\n",
         "1: pci must read VVVV-DDDD-SSSS-YYYY, found '1234-ABCD-5678'"},
        {"adapter handle=1 jumper=open nvram=a\n",
         "1: jumper must be none, enable or protect, found 'open'"},
        {"adapter handle=1 desc=\"no end nvram=a\n", "1: unterminated quote"},
        {"adapter handle=1 mac=001122334455\n", "1: an adapter without nvram= needs mac= and pci="},
        {"adapter handle=1 nvram\n", "1: expected key=value, found 'nvram'"},
        {"version 7.6\n", "1: expected version MAJOR.MINOR.BUILD"},
        {"version 7.6.1\nversion 7.6.2\n", "2: second version line"},
        {"adaptor handle=1\n", "1: unknown keyword 'adaptor'"},
        {"fault OmbriInitDiag adapter=1\n", "1: fault without status= or exit="},
        {"fault OmbriInitDiag exit=256\n", "1: an exit code is 1 to 255 in 'exit=256'"},
        {std::string("adapter handle=1 nvram=a\nversion 7.6.1") + '\0' + " junk",
         "2: NUL byte in line"},
        {"adapter handle=1 nvram=a\n" + std::string(1100, 'x') + "\n",
         "2: line longer than 1022 characters"},
    };
    for (const Case &c : cases) {
        WriteText("m.txt", c.text);
        SimMachine machine;
        std::string error;
        EXPECT_FALSE(sim_machine_load(Path("m.txt"), machine, error)) << c.text;
        EXPECT_EQ(error, Path("m.txt") + ":" + c.error) << c.text;
        EXPECT_TRUE(machine.adapters.empty());
    }
    SimMachine machine;
    std::string error;
    EXPECT_FALSE(sim_machine_load(Path("none.txt"), machine, error));
    EXPECT_EQ(error.rfind(Path("none.txt") + ": ", 0), 0u) << error;
}

TEST_F(SimFiles, MachineFileValuesAndDefaults) {
    ASSERT_EQ(system(("mkdir -p " + Path("sub")).c_str()), 0);
    WriteText("m.txt", "# server\r\n"
                       "  version 8.0.12\r\n"
                       "adapter handle=0x10 desc=\"Dual Port Adapter\" nvram=sub/n.bin\r\n"
                       "adapter handle=3 port=0x30 type=2 flags=0x81 mac=0a1b2c3d4e5f "
                       "pci=1234-abcd-5678-0001 jumper=protect texts=raw nvram=/abs/n.bin\r\n"
                       "fault any status=4 adapter=3 at=2\r\n"
                       "count 0xFFFFFFFF\r\n");
    SimMachine m;
    std::string error;
    ASSERT_TRUE(sim_machine_load(Path("m.txt"), m, error)) << error;
    EXPECT_EQ(m.version[0] * 1000000 + m.version[1] * 1000 + m.version[2], 8000012u);
    ASSERT_EQ(m.adapters.size(), 2u);
    const SimAdapter &a = m.adapters[0];
    EXPECT_EQ(a.handle, 16u);
    EXPECT_EQ(a.port, 16u) << "the port handle is the listed one";
    EXPECT_FALSE(a.raw_texts);
    EXPECT_EQ(a.type, 4u);
    EXPECT_EQ(a.flags, 0u);
    EXPECT_EQ(a.description, "Dual Port Adapter");
    EXPECT_FALSE(a.has_mac);
    EXPECT_FALSE(a.has_pci);
    EXPECT_EQ(a.jumper, SIM_JUMPER_NONE);
    EXPECT_EQ(a.nvram, Path("sub/n.bin")) << "relative to the machine file";
    EXPECT_EQ(a.line, 3);
    const SimAdapter &b = m.adapters[1];
    EXPECT_EQ(b.flags, 0x81);
    EXPECT_EQ(b.port, 0x30u);
    EXPECT_TRUE(b.raw_texts);
    EXPECT_TRUE(m.has_count);
    EXPECT_EQ(m.count, 0xFFFFFFFFu);
    EXPECT_STREQ(b.mac_text, "0a1b2c3d4e5f") << "served as written";
    EXPECT_EQ(b.pci[1], 0xABCD);
    EXPECT_EQ(b.jumper, SIM_JUMPER_PROTECT);
    EXPECT_EQ(b.nvram, "/abs/n.bin");
    ASSERT_EQ(m.faults.size(), 1u);
    EXPECT_EQ(m.faults[0].op, SIM_OP_ANY);
    EXPECT_EQ(m.faults[0].at, 2u);
    EXPECT_EQ(sim_machine_find_mac(m, "0A1B2C3D4E5F"), &m.adapters[1]);
    EXPECT_EQ(sim_machine_find_mac(m, "0A1B2C3D4E5"), nullptr);
    WriteNvram("sub/n.bin", DefaultSpec()); // MAC 0A1B2C3D4E5F, like adapter b's
    EXPECT_EQ(sim_machine_find_mac(m, "0a1b2c3d4e5f"), &m.adapters[0]) << "the image's MAC";

    WriteText("m.txt", "");
    ASSERT_TRUE(sim_machine_load(Path("m.txt"), m, error));
    EXPECT_EQ(m.version[0] * 10000 + m.version[1] * 100 + m.version[2], 70601u);
    EXPECT_TRUE(m.adapters.empty());
    EXPECT_FALSE(m.has_count);
}

TEST_F(SimFiles, PathsResolveAgainstTheMachineFile) {
    EXPECT_EQ(sim_resolve_path("/tmp/x/m.txt", "n.bin"), "/tmp/x/n.bin");
    EXPECT_EQ(sim_resolve_path("/tmp/x/m.txt", "/y/n.bin"), "/y/n.bin");
    EXPECT_EQ(sim_resolve_path("C:\\srv\\m.txt", "n.bin"), "C:\\srv\\n.bin");
    EXPECT_EQ(sim_resolve_path("C:\\srv\\m.txt", "D:\\n.bin"), "D:\\n.bin");
    EXPECT_EQ(sim_resolve_path("m.txt", "n.bin"), "n.bin");
}

TEST_F(SimFiles, NvramFieldsSitAtTheirFixedOffsets) {
    SimNvSpec spec = DefaultSpec();
    snprintf(spec.ump, sizeof spec.ump, "1.2.0");
    SimNvEntry clp = SimNvEntry{};
    clp.type = 1;
    sim_signature_words(SIM_IMAGE_CLP, clp.sig);
    SimNvEntry other = SimNvEntry{};
    other.type = 6;
    other.offset = 0x800;
    sim_signature_words(SIM_IMAGE_ISCSI, other.sig);
    spec.entries.push_back(clp);
    spec.entries.push_back(other);
    std::vector<uint8_t> img;
    std::string error;
    ASSERT_TRUE(sim_nvram_build(spec, img, error)) << error;
    const uint8_t *p = img.data();
    ASSERT_EQ(img.size(), 0x800u + SIM_NV_IMAGE_SIZE);
    EXPECT_EQ(sim_get_be32(p), 0x669955AAu);
    const uint8_t identity[8] = {0x12, 0x34, 0xAB, 0xCD, 0x00, 0x01, 0x56, 0x78};
    EXPECT_EQ(0, memcmp(p + 260, identity, 8)) << "vendor, device, subsystem, subsystem vendor";
    const uint8_t mac[6] = {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F};
    EXPECT_EQ(0, memcmp(p + 310, mac, 6));
    EXPECT_STREQ(reinterpret_cast<const char *>(p + 0x200), "5.0.3");
    EXPECT_STREQ(reinterpret_cast<const char *>(p + 0x220), "8.3.2");
    EXPECT_STREQ(reinterpret_cast<const char *>(p + 0x240), "1.2.0");
    const SimImageKind kinds[3] = {SIM_IMAGE_PXE, SIM_IMAGE_CLP, SIM_IMAGE_ISCSI};
    const uint32_t types[3] = {1, 1, 6};
    for (int k = 0; k < 3; ++k) {
        const uint8_t *e = p + 24 + 12 * k;
        EXPECT_EQ(sim_get_be32(e) >> 28, types[k]);
        uint32_t at = sim_get_be32(e + 4);
        uint32_t sig[3] = {sim_get_be32(p + at + 32), sim_get_be32(p + at + 36),
                           sim_get_be32(p + at + 40)};
        EXPECT_EQ(sim_classify_signature(sig), kinds[k]) << "entry " << k;
    }
    EXPECT_EQ(sim_get_be32(p + 24 + 4), 0x400u);
    EXPECT_EQ(sim_get_be32(p + 36 + 4), 0x440u);
    EXPECT_EQ(sim_get_be32(p + 24 + 12 * 3), 0u) << "unused entries are zero";
    EXPECT_TRUE(sim_nvram_check("x", img, error)) << error;
}

TEST_F(SimFiles, SignatureClassificationFollowsTheScanRules) {
    struct Case {
        uint32_t sig[3];
        SimImageKind kind;
    } cases[] = {
        {{0x49444E55, 0, 0}, SIM_IMAGE_PXE},
        {{0x49000000, 0x20544253, 0xFF202020}, SIM_IMAGE_ISCSI}, // top byte, low 24 bits
        {{0x49000000, 0x20544253, 0x00202021}, SIM_IMAGE_NONE},
        {{0x4A000000, 0x20544253, 0x00202020}, SIM_IMAGE_NONE},
        {{0x43FFFFFF, 0x4820504C, 0x01205244}, SIM_IMAGE_CLP},
        {{0x43000000, 0x4820504D, 0x00205244}, SIM_IMAGE_NONE},
        {{0, 0, 0}, SIM_IMAGE_NONE},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(sim_classify_signature(c.sig), c.kind) << std::hex << c.sig[0];
    }
}

TEST_F(SimFiles, BuildAndCheckRefuseBadImages) {
    std::vector<uint8_t> img;
    std::string error;
    SimNvSpec spec = DefaultSpec();
    spec.size = 607;
    EXPECT_FALSE(sim_nvram_build(spec, img, error));
    spec.size = 608;
    EXPECT_TRUE(sim_nvram_build(spec, img, error)) << "the image may cut off its images";
    EXPECT_EQ(img.size(), 608u);
    spec = DefaultSpec();
    spec.entries.resize(17);
    EXPECT_FALSE(sim_nvram_build(spec, img, error));
    spec = DefaultSpec();
    spec.entries[0].type = 16;
    EXPECT_FALSE(sim_nvram_build(spec, img, error));
    spec = DefaultSpec();
    memset(spec.ump, 'x', sizeof spec.ump);
    EXPECT_FALSE(sim_nvram_build(spec, img, error));

    ASSERT_TRUE(sim_nvram_build(DefaultSpec(), img, error));
    std::vector<uint8_t> bad = img;
    memset(bad.data() + 0x220, '9', 32);
    EXPECT_FALSE(sim_nvram_check("f", bad, error));
    EXPECT_EQ(error, "f: offset 0x220: version text has no NUL in 32 bytes");
    bad = img;
    bad[0] = 0xAA;
    bad[3] = 0x66;
    EXPECT_FALSE(sim_nvram_check("f", bad, error));
    EXPECT_EQ(error, "f: offset 0: magic is 0xAA995566, not 0x669955AA");
    bad.assign(SIM_NV_MAX_SIZE + 1, 0);
    EXPECT_FALSE(sim_nvram_check("f", bad, error));
}

TEST_F(SimFiles, ComponentFilesCarryKindVersionAndImage) {
    std::vector<uint8_t> file;
    std::string error;
    ASSERT_TRUE(sim_component_build("iscsistub", "1.0.0", "1234-ABCD-5678-0001", file, error));
    ASSERT_TRUE(sim_is_component(file));
    EXPECT_STREQ(reinterpret_cast<const char *>(file.data() + 16), "iscsistub");
    EXPECT_STREQ(reinterpret_cast<const char *>(file.data() + 32), "1.0.0");
    const uint8_t *body = file.data() + SIM_COMPONENT_HEADER_SIZE;
    uint32_t sig[3] = {sim_get_be32(body + 32), sim_get_be32(body + 36), sim_get_be32(body + 40)};
    EXPECT_EQ(sim_classify_signature(sig), SIM_IMAGE_ISCSI);
    EXPECT_FALSE(sim_component_build("boot", "1.0.0", "", file, error));
    EXPECT_FALSE(sim_component_build("pxe", std::string(32, '1'), "", file, error));
    EXPECT_FALSE(sim_component_build(
        "pxe", "1.0.0", std::string("1234-ABCD-5678-0001") + '\0' + std::string(200, '1'), file,
        error));
}

} // namespace
