// Fuzz target: the simulator's component image files. The whole input as a
// file: whether it is a component, and what the simulated writer tool's reader
// makes of it (a component it takes has a known kind, the version and identity
// texts of its fields, and a body of its kind). Its first three lines, whole
// (NUL bytes too), as the kind, version and PCI identity of a component to
// build: one that builds is a component and reads back as asked, by the writer
// tool too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim/common/sim_nvram.h"
#include "sim/imgwriter/imgwriter.h"

namespace {

struct Kind {
    const char *name;
    SimImageKind image; // what the body's signature says
};

const Kind kKinds[] = {{"bootcode", SIM_IMAGE_NONE}, {"pxe", SIM_IMAGE_PXE},
                       {"ump", SIM_IMAGE_NONE},      {"clp", SIM_IMAGE_CLP},
                       {"iscsi", SIM_IMAGE_ISCSI},   {"iscsistub", SIM_IMAGE_ISCSI}};

// The field at offset holds text and a NUL, and when padded only NULs after
// it up to its end (the next field).
bool FieldHolds(const std::vector<uint8_t> &file, uint32_t offset, uint32_t end,
                const std::string &text, bool padded) {
    if (text.size() >= end - offset || text.find('\0') != std::string::npos ||
        memcmp(file.data() + offset, text.data(), text.size()) != 0 ||
        file[offset + text.size()] != 0) {
        return false;
    }
    for (uint32_t i = offset + static_cast<uint32_t>(text.size()); padded && i < end; ++i) {
        if (file[i] != 0) {
            return false;
        }
    }
    return true;
}

void CheckFile(const uint8_t *data, size_t size) {
    const std::vector<uint8_t> file(data, data + size);
    if (sim_is_component(file) &&
        (size < SIM_COMPONENT_SIZE ||
         memcmp(data, SIM_COMPONENT_TAG, strlen(SIM_COMPONENT_TAG) + 1) != 0)) {
        abort();
    }
    ImgComponent c;
    std::string reason;
    if (!img_read_component(file, c, reason)) {
        if (reason.compare(0, 21, "malformed component: ") != 0) {
            abort();
        }
        return;
    }
    const Kind *known = nullptr;
    for (const Kind &k : kKinds) {
        known = c.kind == k.name ? &k : known;
    }
    uint16_t ids[4];
    if (known == nullptr || c.image != known->image || size != SIM_COMPONENT_SIZE ||
        !sim_is_component(file) || c.version.empty() ||
        !FieldHolds(file, SIM_COMPONENT_KIND_OFFSET, SIM_COMPONENT_VERSION_OFFSET, c.kind, false) ||
        !FieldHolds(file, SIM_COMPONENT_VERSION_OFFSET, SIM_COMPONENT_PCI_OFFSET, c.version,
                    false) ||
        !FieldHolds(file, SIM_COMPONENT_PCI_OFFSET, SIM_COMPONENT_HEADER_SIZE, c.pci, false) ||
        (!c.pci.empty() && !sim_parse_pci(c.pci.c_str(), ids)) ||
        c.body != file.data() + SIM_COMPONENT_HEADER_SIZE) {
        abort();
    }
    uint32_t sig[3];
    for (int i = 0; i < 3; ++i) {
        sig[i] = sim_get_be32(c.body + 32 + 4 * i);
    }
    if (c.image != SIM_IMAGE_NONE && sim_classify_signature(sig) != c.image) {
        abort();
    }
}

void CheckBuild(const uint8_t *data, size_t size) {
    std::string lines[3];
    size_t at = 0;
    for (std::string &line : lines) {
        size_t end = at;
        while (end < size && data[end] != '\n') {
            ++end;
        }
        line.assign(reinterpret_cast<const char *>(data) + at, end - at);
        at = end < size ? end + 1 : size;
    }
    const std::string &kind = lines[0], &version = lines[1], &pci = lines[2];
    std::vector<uint8_t> file;
    std::string error;
    if (!sim_component_build(kind, version, pci, file, error)) {
        if (error.empty()) {
            abort();
        }
        return;
    }
    const Kind *known = nullptr;
    for (const Kind &k : kKinds) {
        known = kind == k.name ? &k : known;
    }
    uint16_t ids[4];
    if (known == nullptr || file.size() != SIM_COMPONENT_SIZE || !sim_is_component(file) ||
        !FieldHolds(file, SIM_COMPONENT_KIND_OFFSET, SIM_COMPONENT_VERSION_OFFSET, kind, true) ||
        !FieldHolds(file, SIM_COMPONENT_VERSION_OFFSET, SIM_COMPONENT_PCI_OFFSET, version, true) ||
        !FieldHolds(file, SIM_COMPONENT_PCI_OFFSET, SIM_COMPONENT_HEADER_SIZE, pci, true) ||
        (!pci.empty() && !sim_parse_pci(pci.c_str(), ids))) {
        abort();
    }
    uint32_t sig[3];
    for (int i = 0; i < 3; ++i) {
        sig[i] = sim_get_be32(file.data() + SIM_COMPONENT_HEADER_SIZE + 32 + 4 * i);
    }
    if (sim_classify_signature(sig) != known->image) {
        abort();
    }
    // The writer tool takes it, with these texts, unless the version is empty.
    ImgComponent c;
    const int read = img_read_component(file, c, error);
    if (read != (version.empty() ? 0 : 1) ||
        (read && (c.kind != kind || c.version != version || c.pci != pci))) {
        abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    CheckFile(data, size);
    CheckBuild(data, size);
    return 0;
}
