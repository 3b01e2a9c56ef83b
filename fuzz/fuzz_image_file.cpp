// Fuzz target: the image-file reader on a real file holding the whole input.
// The loader, with an offset, length and size limit chosen by the input's last
// bytes, loads exactly the bytes asked for followed by the zero bytes it
// promises, or fails with nothing loaded. The identity reader succeeds exactly
// for files that begin with the magic and hold the MAC, takes the identity from
// its fixed offsets, and leaves the identity (the plan: all but the identity
// fields and the found bit) untouched otherwise.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "scratch.h"
#include "adapter/image_file.h"
#include "adapter/ombri.h"
#include "base/runflags.h"
#include "restore/restore.h"
#include "select/plan.h"

namespace {

const char *const kPath = "image.bin";

uint32_t BigEndian(const uint8_t *p, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value = (value << 8) | p[i];
    }
    return value;
}

// A 32-bit value from the bytes that end at end (zeros before the input).
uint32_t Raw(const uint8_t *data, size_t end) {
    uint32_t value = 0;
    for (size_t i = end >= 4 ? end - 4 : 0; i < end; ++i) {
        value = (value << 8) | data[i];
    }
    return value;
}

void CheckLoad(const uint8_t *data, size_t size) {
    const uint8_t select = size > 0 ? data[size - 1] : 0;
    const uint32_t raw1 = Raw(data, size >= 1 ? size - 1 : 0);
    const uint32_t raw2 = Raw(data, size >= 5 ? size - 5 : 0);
    const uint32_t file_size = static_cast<uint32_t>(size);
    const uint32_t offsets[] = {0, raw1 % (file_size + 2), file_size, raw1};
    const uint32_t offset = offsets[select & 3];
    const uint32_t lengths[] = {0, raw2 % (file_size + 2),
                                offset <= file_size ? file_size - offset : 1, IMAGE_IDENTITY_END};
    const uint32_t length = lengths[(select >> 2) & 3];
    const uint32_t maxima[] = {IMAGE_FILE_MAX, file_size, file_size - (file_size > 0 ? 1 : 0),
                               raw2 % (file_size + 2)};
    const uint32_t max_size = maxima[(select >> 4) & 3];

    std::vector<uint8_t> buffer(7, 0xEE); // whatever it held before goes
    uint32_t size_read = 0xFFFFFFFF;
    const int ok = UtilReadFileMemAlloc(kPath, offset, length, max_size, &size_read, buffer);
    const uint64_t to_read = length != 0 ? length : file_size;
    const bool expected = file_size <= max_size && (to_read == 0 || offset + to_read <= file_size);
    if (ok != (expected ? 1 : 0)) {
        abort();
    }
    if (!ok) {
        if (!buffer.empty()) {
            abort();
        }
        return;
    }
    if (size_read != to_read || buffer.size() != to_read + FILE_BUFFER_SLACK ||
        (to_read > 0 && memcmp(buffer.data(), data + offset, to_read) != 0)) {
        abort();
    }
    for (uint32_t i = 0; i < FILE_BUFFER_SLACK; ++i) {
        if (buffer[to_read + i] != 0) {
            abort();
        }
    }
}

void CheckIdentity(const uint8_t *data, size_t size) {
    const bool expected = size >= IMAGE_IDENTITY_END && BigEndian(data, 4) == NVRAM_MAGIC;
    ImageIdentity identity, before;
    memset(&identity, 0xA5, sizeof identity);
    memcpy(&before, &identity, sizeof identity);
    const int ok = ReadImageIdentity(kPath, identity);
    if (ok != (expected ? 1 : 0)) {
        abort();
    }
    if (!ok) {
        if (memcmp(&identity, &before, sizeof identity) != 0) {
            abort();
        }
    } else {
        char mac[13];
        const uint8_t *m = data + NVRAM_MAC_OFFSET;
        snprintf(mac, sizeof mac, "%02X%02X%02X%02X%02X%02X", unsigned{m[0]}, unsigned{m[1]},
                 unsigned{m[2]}, unsigned{m[3]}, unsigned{m[4]}, unsigned{m[5]});
        if (identity.VendorId != BigEndian(data + NVRAM_VENDOR_ID_OFFSET, 2) ||
            identity.DeviceId != BigEndian(data + NVRAM_DEVICE_ID_OFFSET, 2) ||
            identity.SubsystemId != BigEndian(data + NVRAM_SUBSYSTEM_ID_OFFSET, 2) ||
            identity.SubsystemVendorId != BigEndian(data + NVRAM_SUBSYSTEM_VENDOR_ID_OFFSET, 2) ||
            memcmp(identity.MacText, mac, sizeof mac) != 0) {
            abort();
        }
    }

    // The plan's copy: the same answer, and nothing else of the plan touched.
    UpgradePlan plan, old;
    memset(&plan, 0x5A, sizeof plan);
    memcpy(&old, &plan, sizeof plan);
    if (ReadImageIdentity(plan, kPath) != ok) {
        abort();
    }
    const size_t first = offsetof(UpgradePlan, ImageDeviceId);
    const size_t end = offsetof(UpgradePlan, ImageMacText) + sizeof plan.ImageMacText;
    const auto *now_bytes = reinterpret_cast<const uint8_t *>(&plan);
    const auto *old_bytes = reinterpret_cast<const uint8_t *>(&old);
    if (memcmp(now_bytes + sizeof plan.Flags, old_bytes + sizeof plan.Flags,
               first - sizeof plan.Flags) != 0 ||
        memcmp(now_bytes + end, old_bytes + end, sizeof plan - end) != 0) {
        abort();
    }
    if (!ok) {
        if (memcmp(&plan, &old, sizeof plan) != 0) {
            abort();
        }
        return;
    }
    if (plan.Flags != (old.Flags | PLAN_BC_FOUND) || plan.ImageVendorId != identity.VendorId ||
        plan.ImageDeviceId != identity.DeviceId || plan.ImageSubsystemId != identity.SubsystemId ||
        plan.ImageSubsystemVendorId != identity.SubsystemVendorId ||
        strcmp(plan.ImageMacText, identity.MacText) != 0) {
        abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    EnterScratchDirectory();
    RunFlags = RUN_SILENT; // the messages of a refused file go nowhere
    FILE *file = fopen(kPath, "wb");
    if (file == nullptr || (size > 0 && fwrite(data, 1, size, file) != size) || fclose(file) != 0) {
        abort();
    }
    CheckLoad(data, size);
    CheckIdentity(data, size);
    return 0;
}
