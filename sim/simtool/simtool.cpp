// simtool: writes and shows the files of a simulated server (machine files,
// NVRAM images, component image files). Usage in docs/simulator.md and in
// "simtool help". Exit code 0 on success, 1 on any error (with one message on
// standard error), 2 on a usage error.
#include "sim/common/sim_machine.h"
#include "sim/common/sim_nvram.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

static const char USAGE[] =
    "usage:\n"
    "  simtool nvram FILE [--pci VVVV-DDDD-SSSS-YYYY] [--mac HEX12] [--bootcode TEXT]\n"
    "                [--preboot TEXT] [--ump TEXT] [--entry TYPE:KIND[@OFFSET]]... [--size N]\n"
    "      KIND: pxe, clp, iscsi, none, or sig=W0,W1,W2 (three signature words)\n"
    "  simtool edit FILE [--pci ...] [--mac ...] [--bootcode ...] [--preboot ...] [--ump ...]\n"
    "  simtool show FILE\n"
    "  simtool machine FILE [--version X.Y.Z] [--adapter SPEC]... [--fault SPEC]...\n"
    "  simtool check FILE\n"
    "  simtool component FILE --kind KIND --version TEXT [--pci VVVV-DDDD-SSSS-YYYY]\n"
    "      KIND: bootcode, pxe, ump, clp, iscsi, iscsistub\n";

static int usage(const char *message) {
    fprintf(stderr, "simtool: %s\n%s", message, USAGE);
    return 2;
}

static int fail(const std::string &message) {
    fprintf(stderr, "simtool: %s\n", message.c_str());
    return 1;
}

static int set_text(char text[SIM_NV_TEXT_SIZE], const char *value) {
    if (strlen(value) >= SIM_NV_TEXT_SIZE) {
        return 0;
    }
    memset(text, 0, SIM_NV_TEXT_SIZE);
    memcpy(text, value, strlen(value));
    return 1;
}

// "TYPE:KIND[@OFFSET]".
static int parse_entry(const char *text, SimNvEntry &entry) {
    entry = SimNvEntry{};
    std::string spec(text);
    size_t colon = spec.find(':');
    if (colon == std::string::npos) {
        return 0;
    }
    unsigned long value = 0;
    if (!sim_parse_number(spec.substr(0, colon).c_str(), 15, &value)) {
        return 0;
    }
    entry.type = static_cast<uint32_t>(value);
    std::string kind = spec.substr(colon + 1);
    size_t at = kind.find('@');
    if (at != std::string::npos) {
        if (!sim_parse_number(kind.substr(at + 1).c_str(), 0xFFFFFFFFul, &value) || value == 0) {
            return 0;
        }
        entry.offset = static_cast<uint32_t>(value);
        kind.erase(at);
    }
    if (kind == "pxe") {
        sim_signature_words(SIM_IMAGE_PXE, entry.sig);
    } else if (kind == "clp") {
        sim_signature_words(SIM_IMAGE_CLP, entry.sig);
    } else if (kind == "iscsi") {
        sim_signature_words(SIM_IMAGE_ISCSI, entry.sig);
    } else if (kind == "none") {
        sim_signature_words(SIM_IMAGE_NONE, entry.sig);
    } else if (kind.compare(0, 4, "sig=") == 0) {
        std::string words = kind.substr(4) + ",";
        size_t start = 0;
        for (int i = 0; i < 3; ++i) {
            size_t comma = words.find(',', start);
            if (comma == std::string::npos ||
                !sim_parse_number(words.substr(start, comma - start).c_str(), 0xFFFFFFFFul,
                                  &value)) {
                return 0;
            }
            entry.sig[i] = static_cast<uint32_t>(value);
            start = comma + 1;
        }
        if (start != words.size()) {
            return 0;
        }
    } else {
        return 0;
    }
    return 1;
}

// The identity and text options that nvram and edit share. Returns 1 when the
// option at argv[*i] was one of them (and consumed its value), 0 when it is
// another option, -1 on a bad value (message printed).
static int identity_option(int argc, char **argv, int *i, SimNvSpec &spec, unsigned *given) {
    const char *option = argv[*i];
    static const char *const names[] = {"--pci", "--mac", "--bootcode", "--preboot", "--ump"};
    int which = -1;
    for (int k = 0; k < 5; ++k) {
        if (strcmp(option, names[k]) == 0) {
            which = k;
        }
    }
    if (which < 0) {
        return 0;
    }
    if (*i + 1 >= argc) {
        usage((std::string(option) + " needs a value").c_str());
        return -1;
    }
    const char *value = argv[++*i];
    int ok = 0;
    switch (which) {
    case 0:
        ok = sim_parse_pci(value, spec.pci);
        break;
    case 1:
        ok = sim_parse_mac(value, spec.mac);
        break;
    case 2:
        ok = set_text(spec.bootcode, value);
        break;
    case 3:
        ok = set_text(spec.preboot, value);
        break;
    case 4:
        ok = set_text(spec.ump, value);
        break;
    }
    if (!ok) {
        fail(std::string("bad value for ") + option + ": '" + value + "'");
        return -1;
    }
    *given |= 1u << which;
    return 1;
}

static int cmd_nvram(int argc, char **argv) {
    if (argc < 3) {
        return usage("nvram needs a file");
    }
    SimNvSpec spec = SimNvSpec{};
    unsigned given = 0;
    for (int i = 3; i < argc; ++i) {
        int r = identity_option(argc, argv, &i, spec, &given);
        if (r < 0) {
            return 1;
        }
        if (r == 1) {
            continue;
        }
        if (strcmp(argv[i], "--entry") == 0 && i + 1 < argc) {
            SimNvEntry entry;
            if (!parse_entry(argv[++i], entry)) {
                return fail(std::string("bad --entry '") + argv[i] + "'");
            }
            spec.entries.push_back(entry);
        } else if (strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
            unsigned long size = 0;
            if (!sim_parse_number(argv[++i], SIM_NV_MAX_SIZE, &size)) {
                return fail(std::string("bad --size '") + argv[i] + "'");
            }
            spec.size = static_cast<uint32_t>(size);
        } else {
            return usage((std::string("unknown option or missing value: ") + argv[i]).c_str());
        }
    }
    std::vector<uint8_t> image;
    std::string error;
    if (!sim_nvram_build(spec, image, error) || !sim_write_file(argv[2], image, error)) {
        return fail(error);
    }
    return 0;
}

static int cmd_edit(int argc, char **argv) {
    if (argc < 3) {
        return usage("edit needs a file");
    }
    std::vector<uint8_t> image;
    std::string error;
    if (!sim_read_file(argv[2], image, error) || !sim_nvram_check(argv[2], image, error)) {
        return fail(error);
    }
    SimNvSpec spec = SimNvSpec{};
    unsigned given = 0;
    for (int i = 3; i < argc; ++i) {
        int r = identity_option(argc, argv, &i, spec, &given);
        if (r < 0) {
            return 1;
        }
        if (r == 0) {
            return usage((std::string("edit does not take ") + argv[i]).c_str());
        }
    }
    uint8_t *p = image.data();
    if (given & 1u) {
        sim_put_be16(p + NVRAM_VENDOR_ID_OFFSET, spec.pci[0]);
        sim_put_be16(p + NVRAM_DEVICE_ID_OFFSET, spec.pci[1]);
        sim_put_be16(p + NVRAM_SUBSYSTEM_VENDOR_ID_OFFSET, spec.pci[2]);
        sim_put_be16(p + NVRAM_SUBSYSTEM_ID_OFFSET, spec.pci[3]);
    }
    if (given & 2u) {
        memcpy(p + NVRAM_MAC_OFFSET, spec.mac, 6);
    }
    if (given & 4u) {
        memcpy(p + SIM_NV_BOOTCODE_TEXT_OFFSET, spec.bootcode, SIM_NV_TEXT_SIZE);
    }
    if (given & 8u) {
        memcpy(p + SIM_NV_PREBOOT_TEXT_OFFSET, spec.preboot, SIM_NV_TEXT_SIZE);
    }
    if (given & 16u) {
        memcpy(p + SIM_NV_UMP_TEXT_OFFSET, spec.ump, SIM_NV_TEXT_SIZE);
    }
    if (!sim_write_file(argv[2], image, error)) {
        return fail(error);
    }
    return 0;
}

static void show_text(const char *name, const uint8_t *p) {
    printf("%s \"%.32s\"\n", name, reinterpret_cast<const char *>(p));
}

static int show_component(const std::vector<uint8_t> &data) {
    const uint8_t *p = data.data();
    printf("component\n");
    printf("kind %.15s\n", reinterpret_cast<const char *>(p + SIM_COMPONENT_KIND_OFFSET));
    show_text("version", p + SIM_COMPONENT_VERSION_OFFSET);
    printf("pci %.19s\n", reinterpret_cast<const char *>(p + SIM_COMPONENT_PCI_OFFSET));
    uint32_t sig[3];
    const uint8_t *body = p + SIM_COMPONENT_HEADER_SIZE;
    for (int i = 0; i < 3; ++i) {
        sig[i] = sim_get_be32(body + 32 + 4 * i);
    }
    printf("image %s\n", sim_image_kind_name(sim_classify_signature(sig)));
    return 0;
}

static int cmd_show(int argc, char **argv) {
    if (argc != 3) {
        return usage("show takes one file");
    }
    std::vector<uint8_t> data;
    std::string error;
    if (!sim_read_file(argv[2], data, error)) {
        return fail(error);
    }
    if (sim_is_component(data)) {
        return show_component(data);
    }
    if (data.size() < SIM_NV_MIN_SIZE) {
        sim_nvram_check(argv[2], data, error);
        return fail(error);
    }
    const uint8_t *p = data.data();
    printf("nvram\n");
    printf("size %lu\n", static_cast<unsigned long>(data.size()));
    printf("magic 0x%08lX\n", static_cast<unsigned long>(sim_get_be32(p)));
    printf("pci %04X-%04X-%04X-%04X\n", sim_get_be16(p + NVRAM_VENDOR_ID_OFFSET),
           sim_get_be16(p + NVRAM_DEVICE_ID_OFFSET),
           sim_get_be16(p + NVRAM_SUBSYSTEM_VENDOR_ID_OFFSET),
           sim_get_be16(p + NVRAM_SUBSYSTEM_ID_OFFSET));
    const uint8_t *m = p + NVRAM_MAC_OFFSET;
    printf("mac %02X%02X%02X%02X%02X%02X\n", m[0], m[1], m[2], m[3], m[4], m[5]);
    show_text("bootcode", p + SIM_NV_BOOTCODE_TEXT_OFFSET);
    show_text("preboot", p + SIM_NV_PREBOOT_TEXT_OFFSET);
    show_text("ump", p + SIM_NV_UMP_TEXT_OFFSET);
    for (uint32_t k = 0; k < NVRAM_DIR_ENTRIES; ++k) {
        const uint8_t *e = p + NVRAM_DIR_OFFSET + NVRAM_DIR_ENTRY_SIZE * k;
        uint32_t word0 = sim_get_be32(e);
        uint32_t offset = sim_get_be32(e + 4);
        if (word0 == 0 && offset == 0) {
            continue;
        }
        printf("entry %lu type %lu offset 0x%lX", static_cast<unsigned long>(k),
               static_cast<unsigned long>(word0 >> 28), static_cast<unsigned long>(offset));
        if (offset < data.size() && data.size() - offset >= 44) {
            uint32_t sig[3];
            for (int i = 0; i < 3; ++i) {
                sig[i] = sim_get_be32(p + offset + 32 + 4 * i);
            }
            printf(" sig 0x%08lX 0x%08lX 0x%08lX %s\n", static_cast<unsigned long>(sig[0]),
                   static_cast<unsigned long>(sig[1]), static_cast<unsigned long>(sig[2]),
                   sim_image_kind_name(sim_classify_signature(sig)));
        } else {
            printf(" beyond-end\n");
        }
    }
    if (!sim_nvram_check(argv[2], data, error)) {
        return fail(error);
    }
    return 0;
}

static int cmd_machine(int argc, char **argv) {
    if (argc < 3) {
        return usage("machine needs a file");
    }
    std::string text = "# Simulated server, written by simtool.\n";
    for (int i = 3; i < argc; ++i) {
        if (i + 1 >= argc) {
            return usage((std::string(argv[i]) + " needs a value").c_str());
        }
        if (strcmp(argv[i], "--version") == 0) {
            text += std::string("version ") + argv[++i] + "\n";
        } else if (strcmp(argv[i], "--adapter") == 0) {
            text += std::string("adapter ") + argv[++i] + "\n";
        } else if (strcmp(argv[i], "--fault") == 0) {
            text += std::string("fault ") + argv[++i] + "\n";
        } else {
            return usage((std::string("unknown option ") + argv[i]).c_str());
        }
    }
    std::string error;
    std::vector<uint8_t> bytes(text.begin(), text.end());
    if (!sim_write_file(argv[2], bytes, error)) {
        return fail(error);
    }
    // Read it back as the library will, so a bad spec is reported now.
    SimMachine machine;
    if (!sim_machine_load(argv[2], machine, error)) {
        remove(argv[2]);
        return fail(error);
    }
    return 0;
}

static int cmd_check(int argc, char **argv) {
    if (argc != 3) {
        return usage("check takes one file");
    }
    SimMachine machine;
    std::string error;
    if (!sim_machine_load(argv[2], machine, error)) {
        return fail(error);
    }
    static const char *const jumpers[] = {"none", "enable", "protect"};
    printf("version %lu.%lu.%lu\n", static_cast<unsigned long>(machine.version[0]),
           static_cast<unsigned long>(machine.version[1]),
           static_cast<unsigned long>(machine.version[2]));
    int status = 0;
    for (const SimAdapter &a : machine.adapters) {
        // The identity as the library serves it: the machine file's, else the image's.
        char mac[14] = "?";
        char pci[20] = "?";
        if (a.has_mac) {
            snprintf(mac, sizeof mac, "%s", a.mac_text);
        }
        if (a.has_pci) {
            snprintf(pci, sizeof pci, "%04X-%04X-%04X-%04X", a.pci[0], a.pci[1], a.pci[2],
                     a.pci[3]);
        }
        if (!a.nvram.empty()) {
            std::vector<uint8_t> image;
            if (!sim_read_file(a.nvram, image, error) ||
                !sim_nvram_check_texts(a.nvram, image, !a.raw_texts, error)) {
                fprintf(stderr, "simtool: %s\n", error.c_str());
                status = 1;
            } else {
                const uint8_t *p = image.data();
                const uint8_t *m = p + NVRAM_MAC_OFFSET;
                if (!a.has_mac) {
                    snprintf(mac, sizeof mac, "%02X%02X%02X%02X%02X%02X", m[0], m[1], m[2], m[3],
                             m[4], m[5]);
                }
                if (!a.has_pci) {
                    snprintf(pci, sizeof pci, "%04X-%04X-%04X-%04X",
                             sim_get_be16(p + NVRAM_VENDOR_ID_OFFSET),
                             sim_get_be16(p + NVRAM_DEVICE_ID_OFFSET),
                             sim_get_be16(p + NVRAM_SUBSYSTEM_VENDOR_ID_OFFSET),
                             sim_get_be16(p + NVRAM_SUBSYSTEM_ID_OFFSET));
                }
            }
        }
        char port[24] = "";
        if (a.port != a.handle) {
            snprintf(port, sizeof port, " port=%lu", static_cast<unsigned long>(a.port));
        }
        printf("adapter handle=%lu%s type=%lu flags=%lu desc=\"%s\" mac=%s pci=%s jumper=%s "
               "nvram=%s\n",
               static_cast<unsigned long>(a.handle), port, static_cast<unsigned long>(a.type),
               static_cast<unsigned long>(a.flags), a.description.c_str(), mac, pci,
               jumpers[a.jumper], a.nvram.empty() ? "-" : a.nvram.c_str());
    }
    printf("faults %lu\n", static_cast<unsigned long>(machine.faults.size()));
    return status;
}

static int cmd_component(int argc, char **argv) {
    if (argc < 3) {
        return usage("component needs a file");
    }
    std::string kind, version, pci;
    int has_version = 0;
    for (int i = 3; i < argc; ++i) {
        if (i + 1 >= argc) {
            return usage((std::string(argv[i]) + " needs a value").c_str());
        }
        if (strcmp(argv[i], "--kind") == 0) {
            kind = argv[++i];
        } else if (strcmp(argv[i], "--version") == 0) {
            version = argv[++i];
            has_version = 1;
        } else if (strcmp(argv[i], "--pci") == 0) {
            pci = argv[++i];
        } else {
            return usage((std::string("unknown option ") + argv[i]).c_str());
        }
    }
    if (kind.empty() || !has_version) {
        return usage("component needs --kind and --version");
    }
    std::vector<uint8_t> file;
    std::string error;
    if (!sim_component_build(kind, version, pci, file, error) ||
        !sim_write_file(argv[2], file, error)) {
        return fail(error);
    }
    return 0;
}

int main(int argc, char **argv) {
    if (argc < 2 || strcmp(argv[1], "help") == 0 || strcmp(argv[1], "--help") == 0) {
        fputs(USAGE, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    const char *command = argv[1];
    if (strcmp(command, "nvram") == 0) {
        return cmd_nvram(argc, argv);
    }
    if (strcmp(command, "edit") == 0) {
        return cmd_edit(argc, argv);
    }
    if (strcmp(command, "show") == 0) {
        return cmd_show(argc, argv);
    }
    if (strcmp(command, "machine") == 0) {
        return cmd_machine(argc, argv);
    }
    if (strcmp(command, "check") == 0) {
        return cmd_check(argc, argv);
    }
    if (strcmp(command, "component") == 0) {
        return cmd_component(argc, argv);
    }
    return usage((std::string("unknown command ") + command).c_str());
}
