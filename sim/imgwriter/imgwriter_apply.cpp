// The simulated writer tool's edits of an NVRAM image: checking a component
// file against the verb and the adapter, and putting its version text and
// pre-boot image into place; restore checks a whole saved image.
#include "sim/imgwriter/imgwriter.h"

#include <cstdio>
#include <cstring>

namespace {

// The verbs: their command-line words, the component kinds they take (blank
// separated, each also followed by a blank) and the version text they set.
struct VerbRow {
    const char *words;
    ImgVerb verb;
    const char *kinds;
    uint32_t text_offset;
};

const VerbRow VERBS[] = {
    {"upgrade -bc", IMG_VERB_BOOTCODE, "bootcode ", SIM_NV_BOOTCODE_TEXT_OFFSET},
    {"upgrade -ump", IMG_VERB_UMP, "ump ", SIM_NV_UMP_TEXT_OFFSET},
    {"upgrade -mba", IMG_VERB_MBA, "pxe clp iscsi ", SIM_NV_PREBOOT_TEXT_OFFSET},
    {"upgrade -F -mba", IMG_VERB_FORCE_MBA, "pxe clp iscsi iscsistub ", SIM_NV_PREBOOT_TEXT_OFFSET},
    {"restore", IMG_VERB_RESTORE, "", 0},
};

const VerbRow &verb_row(ImgVerb verb) {
    for (const VerbRow &row : VERBS) {
        if (row.verb == verb) {
            return row;
        }
    }
    return VERBS[0];
}

// A text field of size bytes at p: 1 when it holds a NUL.
int field_text(const uint8_t *p, size_t size, std::string &text) {
    const void *nul = memchr(p, '\0', size);
    if (nul == nullptr) {
        return 0;
    }
    text.assign(reinterpret_cast<const char *>(p));
    return 1;
}

} // namespace

int img_read_component(const std::vector<uint8_t> &file, ImgComponent &c, std::string &reason) {
    if (file.size() != SIM_COMPONENT_SIZE) {
        reason = "malformed component: not 192 bytes";
        return 0;
    }
    if (!sim_is_component(file)) {
        reason = "malformed component: no SIM-COMPONENT tag";
        return 0;
    }
    const uint8_t *p = file.data();
    static const struct {
        const char *kind;
        SimImageKind image;
    } kinds[] = {{"bootcode", SIM_IMAGE_NONE}, {"ump", SIM_IMAGE_NONE},
                 {"pxe", SIM_IMAGE_PXE},       {"clp", SIM_IMAGE_CLP},
                 {"iscsi", SIM_IMAGE_ISCSI},   {"iscsistub", SIM_IMAGE_ISCSI}};
    int known = 0;
    if (field_text(p + SIM_COMPONENT_KIND_OFFSET, 16, c.kind)) {
        for (const auto &k : kinds) {
            if (c.kind == k.kind) {
                known = 1;
                c.image = k.image;
            }
        }
    }
    if (!known) {
        reason = "malformed component: unknown kind";
        return 0;
    }
    if (!field_text(p + SIM_COMPONENT_VERSION_OFFSET, SIM_NV_TEXT_SIZE, c.version)) {
        reason = "malformed component: version text without NUL";
        return 0;
    }
    if (c.version.empty()) {
        reason = "malformed component: empty version text";
        return 0;
    }
    uint16_t ids[4];
    if (!field_text(p + SIM_COMPONENT_PCI_OFFSET, 20, c.pci) ||
        (!c.pci.empty() && !sim_parse_pci(c.pci.c_str(), ids))) {
        reason = "malformed component: bad PCI identity text";
        return 0;
    }
    c.body = p + SIM_COMPONENT_HEADER_SIZE;
    if (c.image != SIM_IMAGE_NONE) {
        const uint32_t sig[3] = {sim_get_be32(c.body + 32), sim_get_be32(c.body + 36),
                                 sim_get_be32(c.body + 40)};
        if (sim_classify_signature(sig) != c.image) {
            reason = "malformed component: body signature is not " + c.kind;
            return 0;
        }
    }
    return 1;
}

namespace {

std::string identity_text(const uint8_t pci[8]) {
    // NVRAM order: vendor, device, subsystem, subsystem vendor; text order
    // puts the subsystem vendor before the subsystem.
    char text[24];
    snprintf(text, sizeof text, "%04X-%04X-%04X-%04X", sim_get_be16(pci), sim_get_be16(pci + 2),
             sim_get_be16(pci + 6), sim_get_be16(pci + 4));
    return text;
}

uint32_t entry_at(uint32_t k) {
    return NVRAM_DIR_OFFSET + NVRAM_DIR_ENTRY_SIZE * k;
}

// The pre-boot kind of directory entry k: a type-1 entry whose signature lies
// inside the image; SIM_IMAGE_NONE otherwise.
SimImageKind entry_kind(const std::vector<uint8_t> &nv, uint32_t k) {
    const uint8_t *e = nv.data() + entry_at(k);
    uint64_t offset = sim_get_be32(e + 4);
    if (sim_get_be32(e) >> 28 != 1 || offset + 44 > nv.size()) {
        return SIM_IMAGE_NONE;
    }
    const uint8_t *image = nv.data() + offset;
    const uint32_t sig[3] = {sim_get_be32(image + 32), sim_get_be32(image + 36),
                             sim_get_be32(image + 40)};
    return sim_classify_signature(sig);
}

// Puts the 64-byte body at offset, growing the image as needed (within 1 MiB).
int put_body(std::vector<uint8_t> &nv, uint64_t offset, const uint8_t *body, std::string &reason) {
    if (offset + SIM_NV_IMAGE_SIZE > SIM_NV_MAX_SIZE) {
        reason = "image does not fit in 1 MiB";
        return 0;
    }
    if (nv.size() < offset + SIM_NV_IMAGE_SIZE) {
        nv.resize(offset + SIM_NV_IMAGE_SIZE, 0);
    }
    memcpy(nv.data() + offset, body, SIM_NV_IMAGE_SIZE);
    return 1;
}

// upgrade -mba: replaces the first installed image of the component's kind.
int replace_same_kind(std::vector<uint8_t> &nv, const ImgComponent &c, std::string &reason) {
    SimImageKind installed = SIM_IMAGE_NONE;
    for (uint32_t k = 0; k < NVRAM_DIR_ENTRIES; ++k) {
        SimImageKind kind = entry_kind(nv, k);
        if (kind == c.image) {
            return put_body(nv, sim_get_be32(nv.data() + entry_at(k) + 4), c.body, reason);
        }
        if (installed == SIM_IMAGE_NONE) {
            installed = kind;
        }
    }
    if (installed == SIM_IMAGE_NONE) {
        reason = "no pre-boot image installed";
    } else {
        reason = std::string("installed pre-boot image is ") + sim_image_kind_name(installed) +
                 ", not " + sim_image_kind_name(c.image);
    }
    return 0;
}

// upgrade -F -mba: replaces the first installed pre-boot image of any kind,
// else adds a type-1 entry in the first free slot, its image after the others.
int install_any_kind(std::vector<uint8_t> &nv, const ImgComponent &c, std::string &reason) {
    for (uint32_t k = 0; k < NVRAM_DIR_ENTRIES; ++k) {
        if (entry_kind(nv, k) != SIM_IMAGE_NONE) {
            return put_body(nv, sim_get_be32(nv.data() + entry_at(k) + 4), c.body, reason);
        }
    }
    int free_slot = -1;
    uint64_t next = SIM_NV_IMAGES_OFFSET;
    for (uint32_t k = 0; k < NVRAM_DIR_ENTRIES; ++k) {
        const uint8_t *e = nv.data() + entry_at(k);
        uint64_t offset = sim_get_be32(e + 4);
        uint64_t length = sim_get_be32(e + 8);
        if (sim_get_be32(e) == 0 && offset == 0) {
            free_slot = free_slot < 0 ? static_cast<int>(k) : free_slot;
        } else if (offset < nv.size()) {
            uint64_t end = offset + (length > SIM_NV_IMAGE_SIZE ? length : SIM_NV_IMAGE_SIZE);
            next = end > next ? end : next;
        }
    }
    if (free_slot < 0) {
        reason = "no free directory entry";
        return 0;
    }
    next = (next + 3) & ~static_cast<uint64_t>(3);
    if (!put_body(nv, next, c.body, reason)) {
        return 0;
    }
    uint8_t *e = nv.data() + entry_at(static_cast<uint32_t>(free_slot));
    sim_put_be32(e, 1u << 28);
    sim_put_be32(e + 4, static_cast<uint32_t>(next));
    sim_put_be32(e + 8, SIM_NV_IMAGE_SIZE);
    return 1;
}

} // namespace

int img_parse_verb(const std::string &words, ImgVerb *verb) {
    for (const VerbRow &row : VERBS) {
        if (words == row.words) {
            *verb = row.verb;
            return 1;
        }
    }
    return 0;
}

int img_same_adapter(const std::vector<uint8_t> &image, const ImgIdentity &adapter) {
    return image.size() >= NVRAM_MAC_OFFSET + 6 &&
           memcmp(image.data() + NVRAM_VENDOR_ID_OFFSET, adapter.pci, 8) == 0 &&
           memcmp(image.data() + NVRAM_MAC_OFFSET, adapter.mac, 6) == 0;
}

int img_apply(ImgVerb verb, const std::vector<uint8_t> &current, const std::vector<uint8_t> &image,
              const ImgIdentity &adapter, std::vector<uint8_t> &result, std::string &reason) {
    const VerbRow &row = verb_row(verb);
    if (verb == IMG_VERB_RESTORE) {
        if (!sim_nvram_check("restore image", image, reason)) {
            return 0;
        }
        if (!img_same_adapter(image, adapter)) {
            reason = "restore image is of another adapter";
            return 0;
        }
        result = image;
        return 1;
    }
    ImgComponent c = ImgComponent{};
    if (!img_read_component(image, c, reason)) {
        return 0;
    }
    if ((std::string(" ") + row.kinds).find(" " + c.kind + " ") == std::string::npos) {
        reason = "kind " + c.kind + " does not fit " + row.words;
        return 0;
    }
    std::string own = identity_text(adapter.pci);
    uint16_t ids[4] = {0, 0, 0, 0};
    char theirs[24] = "";
    if (!c.pci.empty() && sim_parse_pci(c.pci.c_str(), ids)) {
        snprintf(theirs, sizeof theirs, "%04X-%04X-%04X-%04X", ids[0], ids[1], ids[2], ids[3]);
    }
    if (!c.pci.empty() && own != theirs) {
        reason = "image is for " + c.pci + ", adapter is " + own;
        return 0;
    }
    result = current;
    if (verb == IMG_VERB_MBA && !replace_same_kind(result, c, reason)) {
        return 0;
    }
    if (verb == IMG_VERB_FORCE_MBA && !install_any_kind(result, c, reason)) {
        return 0;
    }
    memset(result.data() + row.text_offset, 0, SIM_NV_TEXT_SIZE);
    memcpy(result.data() + row.text_offset, c.version.c_str(), c.version.size());
    return 1;
}
