// Fuzz target: the simulated adapters' NVRAM images. An input whose first byte
// is even (an image's magic begins 0x66) is an image: the check accepts exactly
// the images its contract describes, and the signature words of every entry
// the directory points to classify the same whatever the bits the rules leave
// out. An odd first byte is followed by what simtool can ask for: an image
// built from it passes the check and reads back as asked.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim/common/sim_nvram.h"

#include "input_reader.h"

namespace {

const char *const kPath = "fuzz.nvram";

void ReadSignature(const uint8_t *image, uint32_t sig[3]) {
    for (int i = 0; i < 3; ++i) {
        sig[i] = sim_get_be32(image + 32 + 4 * i);
    }
}

// The rules compare all of the PXE word, but only the top byte of the first
// word and the low 24 bits of the third for CLP and iSCSI.
void CheckClassify(const uint32_t sig[3]) {
    const SimImageKind kind = sim_classify_signature(sig);
    uint32_t other[3] = {sig[0], sig[1] ^ 0x5A5A5A5Au, sig[2] ^ 0xA5000000u};
    switch (kind) {
    case SIM_IMAGE_PXE:
        if (sim_classify_signature(other) != SIM_IMAGE_PXE) {
            abort();
        }
        break;
    case SIM_IMAGE_CLP:
    case SIM_IMAGE_ISCSI:
        other[0] = sig[0] ^ 0x00C3C3C3u;
        other[1] = sig[1];
        if (other[0] != SIM_SIG_PXE && sim_classify_signature(other) != kind) {
            abort();
        }
        break;
    case SIM_IMAGE_NONE:
        break;
    default:
        abort();
    }
}

void CheckImage(const uint8_t *data, size_t size) {
    const std::vector<uint8_t> image(data, data + size);
    std::string error;
    const int ok = sim_nvram_check(kPath, image, error);
    bool valid =
        size >= SIM_NV_MIN_SIZE && size <= SIM_NV_MAX_SIZE && sim_get_be32(data) == NVRAM_MAGIC;
    for (uint32_t at :
         {SIM_NV_BOOTCODE_TEXT_OFFSET, SIM_NV_PREBOOT_TEXT_OFFSET, SIM_NV_UMP_TEXT_OFFSET}) {
        valid = valid && memchr(data + at, '\0', SIM_NV_TEXT_SIZE) != nullptr;
    }
    if ((ok == 1) != valid ||
        (ok == 0 && error.compare(0, strlen(kPath) + 2, std::string(kPath) + ": ") != 0)) {
        abort();
    }
    if (size < NVRAM_DIR_OFFSET + NVRAM_DIR_ENTRIES * NVRAM_DIR_ENTRY_SIZE) {
        return;
    }
    for (uint32_t k = 0; k < NVRAM_DIR_ENTRIES; ++k) {
        const uint32_t offset =
            sim_get_be32(data + NVRAM_DIR_OFFSET + NVRAM_DIR_ENTRY_SIZE * k + 4);
        if (offset <= size - 44) {
            uint32_t sig[3];
            ReadSignature(data + offset, sig);
            CheckClassify(sig);
        }
    }
}

void CheckBuild(Reader r) {
    SimNvSpec spec{};
    for (uint16_t &id : spec.pci) {
        id = static_cast<uint16_t>(Take(r, 2));
    }
    for (uint8_t &byte : spec.mac) {
        byte = static_cast<uint8_t>(Take(r, 1));
    }
    // A length of 32 or 33 leaves no room for the NUL: the build must refuse.
    for (char *text : {spec.bootcode, spec.preboot, spec.ump}) {
        const uint32_t length = Take(r, 1) % (SIM_NV_TEXT_SIZE + 2);
        for (uint32_t i = 0; i < length && i < SIM_NV_TEXT_SIZE; ++i) {
            text[i] = static_cast<char>(Take(r, 1));
        }
    }
    const uint32_t count = Take(r, 1) % (NVRAM_DIR_ENTRIES + 2);
    for (uint32_t k = 0; k < count; ++k) {
        SimNvEntry entry{};
        entry.type = Take(r, 1) % 17;
        const uint32_t place = Take(r, 2);
        entry.offset = place == 0 ? 0 : SIM_NV_IMAGES_OFFSET + place;
        const uint32_t kind = Take(r, 1) % 5;
        if (kind < 4) {
            sim_signature_words(static_cast<SimImageKind>(kind), entry.sig);
        } else {
            for (uint32_t &word : entry.sig) {
                word = Take(r, 4);
            }
        }
        spec.entries.push_back(entry);
    }
    spec.size = Take(r, 2) * 32;

    std::vector<uint8_t> image;
    std::string error;
    if (!sim_nvram_build(spec, image, error)) {
        if (error.empty()) {
            abort();
        }
        return;
    }
    if (!sim_nvram_check(kPath, image, error)) {
        abort();
    }
    const uint8_t *p = image.data();
    if (sim_get_be16(p + NVRAM_VENDOR_ID_OFFSET) != spec.pci[0] ||
        sim_get_be16(p + NVRAM_DEVICE_ID_OFFSET) != spec.pci[1] ||
        sim_get_be16(p + NVRAM_SUBSYSTEM_VENDOR_ID_OFFSET) != spec.pci[2] ||
        sim_get_be16(p + NVRAM_SUBSYSTEM_ID_OFFSET) != spec.pci[3] ||
        memcmp(p + NVRAM_MAC_OFFSET, spec.mac, 6) != 0 ||
        memcmp(p + SIM_NV_BOOTCODE_TEXT_OFFSET, spec.bootcode, SIM_NV_TEXT_SIZE) != 0 ||
        memcmp(p + SIM_NV_PREBOOT_TEXT_OFFSET, spec.preboot, SIM_NV_TEXT_SIZE) != 0 ||
        memcmp(p + SIM_NV_UMP_TEXT_OFFSET, spec.ump, SIM_NV_TEXT_SIZE) != 0) {
        abort();
    }
    // Each entry's directory slot, and its image where it lies wholly inside
    // and no later image overlaps it.
    std::vector<uint32_t> offsets;
    for (size_t k = 0; k < spec.entries.size(); ++k) {
        const SimNvEntry &entry = spec.entries[k];
        const uint8_t *slot = p + NVRAM_DIR_OFFSET + NVRAM_DIR_ENTRY_SIZE * k;
        const uint32_t offset = sim_get_be32(slot + 4);
        if (sim_get_be32(slot) != entry.type << 28 || sim_get_be32(slot + 8) != SIM_NV_IMAGE_SIZE ||
            offset < SIM_NV_IMAGES_OFFSET || (entry.offset != 0 && offset != entry.offset)) {
            abort();
        }
        offsets.push_back(offset);
    }
    for (size_t k = 0; k < offsets.size(); ++k) {
        bool whole =
            image.size() >= SIM_NV_IMAGE_SIZE && offsets[k] <= image.size() - SIM_NV_IMAGE_SIZE;
        for (size_t j = k + 1; j < offsets.size(); ++j) {
            whole = whole && (offsets[j] >= offsets[k] + SIM_NV_IMAGE_SIZE ||
                              offsets[k] >= offsets[j] + SIM_NV_IMAGE_SIZE);
        }
        if (!whole) {
            continue;
        }
        uint32_t sig[3];
        ReadSignature(p + offsets[k], sig);
        if (sim_get_be32(p + offsets[k]) != spec.entries[k].type ||
            sim_classify_signature(sig) != sim_classify_signature(spec.entries[k].sig)) {
            abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) {
        return 0;
    }
    if ((data[0] & 1) == 0) {
        CheckImage(data, size);
    } else {
        CheckBuild(Reader{data, size, 1});
    }
    return 0;
}
