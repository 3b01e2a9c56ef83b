// The NVRAM image format of the simulated adapters: building, checking and
// reading images, and the small parsers the machine file and simtool share.
#include "sim/common/sim_nvram.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

uint32_t sim_get_be32(const uint8_t *p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

uint16_t sim_get_be16(const uint8_t *p) {
    return static_cast<uint16_t>((static_cast<unsigned>(p[0]) << 8) | p[1]);
}

void sim_put_be32(uint8_t *p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value >> 24);
    p[1] = static_cast<uint8_t>(value >> 16);
    p[2] = static_cast<uint8_t>(value >> 8);
    p[3] = static_cast<uint8_t>(value);
}

void sim_put_be16(uint8_t *p, uint16_t value) {
    p[0] = static_cast<uint8_t>(value >> 8);
    p[1] = static_cast<uint8_t>(value);
}

void sim_signature_words(SimImageKind kind, uint32_t sig[3]) {
    sig[0] = sig[1] = sig[2] = 0;
    switch (kind) {
    case SIM_IMAGE_PXE:
        sig[0] = SIM_SIG_PXE;
        break;
    case SIM_IMAGE_CLP:
        sig[0] = SIM_SIG_CLP_0;
        sig[1] = SIM_SIG_CLP_1;
        sig[2] = SIM_SIG_CLP_2;
        break;
    case SIM_IMAGE_ISCSI:
        sig[0] = SIM_SIG_ISCSI_0;
        sig[1] = SIM_SIG_ISCSI_1;
        sig[2] = SIM_SIG_ISCSI_2;
        break;
    case SIM_IMAGE_NONE:
        break;
    }
}

SimImageKind sim_classify_signature(const uint32_t sig[3]) {
    if (sig[0] == SIM_SIG_PXE) {
        return SIM_IMAGE_PXE;
    }
    if ((sig[0] >> 24) == 0x49 && sig[1] == SIM_SIG_ISCSI_1 && (sig[2] & 0xFFFFFF) == 0x202020) {
        return SIM_IMAGE_ISCSI;
    }
    if ((sig[0] >> 24) == 0x43 && sig[1] == SIM_SIG_CLP_1 && (sig[2] & 0xFFFFFF) == 0x205244) {
        return SIM_IMAGE_CLP;
    }
    return SIM_IMAGE_NONE;
}

const char *sim_image_kind_name(SimImageKind kind) {
    switch (kind) {
    case SIM_IMAGE_PXE:
        return "pxe";
    case SIM_IMAGE_CLP:
        return "clp";
    case SIM_IMAGE_ISCSI:
        return "iscsi";
    case SIM_IMAGE_NONE:
        break;
    }
    return "none";
}

void sim_image_body(uint32_t type, const uint32_t sig[3], uint8_t body[SIM_NV_IMAGE_SIZE]) {
    // A recognisable filler, the type in the first word, the signature at +32.
    for (uint32_t i = 0; i < SIM_NV_IMAGE_SIZE; ++i) {
        body[i] = static_cast<uint8_t>(0xA0 + (i & 0x0F));
    }
    sim_put_be32(body, type);
    sim_put_be32(body + 32, sig[0]);
    sim_put_be32(body + 36, sig[1]);
    sim_put_be32(body + 40, sig[2]);
}

static int text_fits(const char *text) {
    return memchr(text, '\0', SIM_NV_TEXT_SIZE) != nullptr;
}

int sim_nvram_build(const SimNvSpec &spec, std::vector<uint8_t> &image, std::string &error) {
    if (!text_fits(spec.bootcode) || !text_fits(spec.preboot) || !text_fits(spec.ump)) {
        error = "a version text is longer than 31 characters";
        return 0;
    }
    if (spec.entries.size() > NVRAM_DIR_ENTRIES) {
        error = "more than 16 directory entries";
        return 0;
    }
    // Place the images: explicit offsets as given, the rest one after another.
    std::vector<uint32_t> offsets(spec.entries.size());
    uint32_t next = SIM_NV_IMAGES_OFFSET;
    uint32_t end = SIM_NV_IMAGES_OFFSET;
    for (size_t k = 0; k < spec.entries.size(); ++k) {
        const SimNvEntry &entry = spec.entries[k];
        if (entry.type > 15) {
            error = "a directory entry type is above 15";
            return 0;
        }
        uint32_t at = entry.offset;
        if (at == 0) {
            at = next;
            next += SIM_NV_IMAGE_SIZE;
        }
        offsets[k] = at;
        if (at < SIM_NV_MAX_SIZE && SIM_NV_MAX_SIZE - at >= SIM_NV_IMAGE_SIZE &&
            at + SIM_NV_IMAGE_SIZE > end) {
            end = at + SIM_NV_IMAGE_SIZE;
        }
    }
    if (next > end) {
        end = next;
    }
    uint32_t size = spec.size != 0 ? spec.size : end;
    if (size < SIM_NV_MIN_SIZE || size > SIM_NV_MAX_SIZE) {
        error = "the image size must lie between 608 and 1048576 bytes";
        return 0;
    }
    image.assign(size, 0);
    uint8_t *p = image.data();
    sim_put_be32(p, NVRAM_MAGIC);
    for (size_t k = 0; k < spec.entries.size(); ++k) {
        const SimNvEntry &entry = spec.entries[k];
        uint8_t *e = p + NVRAM_DIR_OFFSET + NVRAM_DIR_ENTRY_SIZE * k;
        sim_put_be32(e, entry.type << 28);
        sim_put_be32(e + 4, offsets[k]);
        sim_put_be32(e + 8, SIM_NV_IMAGE_SIZE);
        // Whatever of the image does not fit into the image size is left out.
        uint8_t body[SIM_NV_IMAGE_SIZE];
        sim_image_body(entry.type, entry.sig, body);
        for (uint32_t i = 0; i < SIM_NV_IMAGE_SIZE; ++i) {
            uint64_t at = static_cast<uint64_t>(offsets[k]) + i;
            if (at < size) {
                p[at] = body[i];
            }
        }
    }
    sim_put_be16(p + NVRAM_VENDOR_ID_OFFSET, spec.pci[0]);
    sim_put_be16(p + NVRAM_DEVICE_ID_OFFSET, spec.pci[1]);
    sim_put_be16(p + NVRAM_SUBSYSTEM_VENDOR_ID_OFFSET, spec.pci[2]);
    sim_put_be16(p + NVRAM_SUBSYSTEM_ID_OFFSET, spec.pci[3]);
    memcpy(p + NVRAM_MAC_OFFSET, spec.mac, 6);
    memcpy(p + SIM_NV_BOOTCODE_TEXT_OFFSET, spec.bootcode, SIM_NV_TEXT_SIZE);
    memcpy(p + SIM_NV_PREBOOT_TEXT_OFFSET, spec.preboot, SIM_NV_TEXT_SIZE);
    memcpy(p + SIM_NV_UMP_TEXT_OFFSET, spec.ump, SIM_NV_TEXT_SIZE);
    return 1;
}

static std::string error_text(const std::string &path, const char *what) {
    std::string text = path;
    text += ": ";
    text += what;
    return text;
}

int sim_read_file(const std::string &path, std::vector<uint8_t> &data, std::string &error) {
    data.clear();
    FILE *file = fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = error_text(path, strerror(errno));
        return 0;
    }
    uint8_t chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) {
        data.insert(data.end(), chunk, chunk + n);
        if (data.size() > SIM_NV_MAX_SIZE + 1) {
            break; // enough to know it is too large
        }
    }
    int failed = ferror(file);
    fclose(file);
    if (failed) {
        error = error_text(path, "read error");
        return 0;
    }
    return 1;
}

int sim_write_file(const std::string &path, const std::vector<uint8_t> &data, std::string &error) {
    FILE *file = fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = error_text(path, strerror(errno));
        return 0;
    }
    size_t n = data.empty() ? 0 : fwrite(data.data(), 1, data.size(), file);
    int closed = fclose(file);
    if (n != data.size() || closed != 0) {
        error = error_text(path, "write error");
        return 0;
    }
    return 1;
}

int sim_nvram_check(const std::string &path, const std::vector<uint8_t> &data, std::string &error) {
    return sim_nvram_check_texts(path, data, 1, error);
}

int sim_nvram_check_texts(const std::string &path, const std::vector<uint8_t> &data,
                          int texts_need_nul, std::string &error) {
    char what[160];
    if (data.size() < SIM_NV_MIN_SIZE) {
        snprintf(what, sizeof what, "NVRAM image is %lu bytes, shorter than its %lu-byte header",
                 static_cast<unsigned long>(data.size()),
                 static_cast<unsigned long>(SIM_NV_MIN_SIZE));
        error = error_text(path, what);
        return 0;
    }
    if (data.size() > SIM_NV_MAX_SIZE) {
        error = error_text(path, "NVRAM image is larger than 1048576 bytes");
        return 0;
    }
    uint32_t magic = sim_get_be32(data.data());
    if (magic != NVRAM_MAGIC) {
        snprintf(what, sizeof what, "offset 0: magic is 0x%08lX, not 0x669955AA",
                 static_cast<unsigned long>(magic));
        error = error_text(path, what);
        return 0;
    }
    const uint32_t texts[3] = {SIM_NV_BOOTCODE_TEXT_OFFSET, SIM_NV_PREBOOT_TEXT_OFFSET,
                               SIM_NV_UMP_TEXT_OFFSET};
    for (uint32_t at : texts) {
        if (texts_need_nul && !text_fits(reinterpret_cast<const char *>(data.data() + at))) {
            snprintf(what, sizeof what, "offset 0x%lX: version text has no NUL in 32 bytes",
                     static_cast<unsigned long>(at));
            error = error_text(path, what);
            return 0;
        }
    }
    return 1;
}

static int hex_digit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

int sim_parse_pci(const char *text, uint16_t pci[4]) {
    // Exactly four groups of four hex digits joined by hyphens.
    if (strlen(text) != 19) {
        return 0;
    }
    for (int g = 0; g < 4; ++g) {
        unsigned value = 0;
        for (int i = 0; i < 4; ++i) {
            int d = hex_digit(text[g * 5 + i]);
            if (d < 0) {
                return 0;
            }
            value = value * 16 + static_cast<unsigned>(d);
        }
        if (g < 3 && text[g * 5 + 4] != '-') {
            return 0;
        }
        pci[g] = static_cast<uint16_t>(value);
    }
    return 1;
}

int sim_parse_mac(const char *text, uint8_t mac[6]) {
    if (strlen(text) != 12) {
        return 0;
    }
    for (int i = 0; i < 6; ++i) {
        int hi = hex_digit(text[2 * i]);
        int lo = hex_digit(text[2 * i + 1]);
        if (hi < 0 || lo < 0) {
            return 0;
        }
        mac[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    return 1;
}

int sim_parse_number(const char *text, unsigned long max, unsigned long *value) {
    if (text[0] < '0' || text[0] > '9') {
        return 0; // no sign, no blanks
    }
    errno = 0;
    char *end = nullptr;
    unsigned long long v = strtoull(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || v > max) {
        return 0;
    }
    *value = static_cast<unsigned long>(v);
    return 1;
}

int sim_component_build(const std::string &kind, const std::string &version, const std::string &pci,
                        std::vector<uint8_t> &file, std::string &error) {
    static const char *const kinds[] = {"bootcode", "pxe", "ump", "clp", "iscsi", "iscsistub"};
    int known = 0;
    for (const char *k : kinds) {
        known = known || kind == k;
    }
    if (!known) {
        error = "kind must be bootcode, pxe, ump, clp, iscsi or iscsistub";
        return 0;
    }
    // The fields hold C texts: a NUL inside one would end it early (and the
    // PCI text is checked as a C text, so it would not be the length checked).
    if (version.find('\0') != std::string::npos || pci.find('\0') != std::string::npos) {
        error = "a text holds a NUL byte";
        return 0;
    }
    if (version.size() >= SIM_NV_TEXT_SIZE) {
        error = "the version text is longer than 31 characters";
        return 0;
    }
    uint16_t ids[4];
    if (!pci.empty() && !sim_parse_pci(pci.c_str(), ids)) {
        error = "pci must read VVVV-DDDD-SSSS-YYYY";
        return 0;
    }
    file.assign(SIM_COMPONENT_SIZE, 0);
    memcpy(file.data(), SIM_COMPONENT_TAG, strlen(SIM_COMPONENT_TAG));
    memcpy(file.data() + SIM_COMPONENT_KIND_OFFSET, kind.c_str(), kind.size());
    memcpy(file.data() + SIM_COMPONENT_VERSION_OFFSET, version.c_str(), version.size());
    memcpy(file.data() + SIM_COMPONENT_PCI_OFFSET, pci.c_str(), pci.size());
    SimImageKind image = SIM_IMAGE_NONE;
    if (kind == "pxe") {
        image = SIM_IMAGE_PXE;
    } else if (kind == "clp") {
        image = SIM_IMAGE_CLP;
    } else if (kind == "iscsi" || kind == "iscsistub") {
        image = SIM_IMAGE_ISCSI;
    }
    uint32_t sig[3];
    sim_signature_words(image, sig);
    sim_image_body(1, sig, file.data() + SIM_COMPONENT_HEADER_SIZE);
    return 1;
}

int sim_is_component(const std::vector<uint8_t> &data) {
    return data.size() >= SIM_COMPONENT_SIZE &&
           memcmp(data.data(), SIM_COMPONENT_TAG, strlen(SIM_COMPONENT_TAG) + 1) == 0;
}
