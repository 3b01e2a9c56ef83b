// The image-file reader: UtilReadFileMemAlloc loads a file (or part of one)
// into a new zero-padded buffer; ReadImageIdentity checks a loaded NVRAM image
// and takes its PCI identity and MAC address (big-endian, at fixed offsets).
#include "adapter/image_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>

#include "adapter/ombri.h"
#include "base/table.h"
#include "output/output.h"
#include "platform/platform.h"

static_assert(NVRAM_MAC_OFFSET + 6 == IMAGE_IDENTITY_END, "the MAC ends the identity");
static_assert(NVRAM_VENDOR_ID_OFFSET + 8 <= NVRAM_MAC_OFFSET, "the PCI identity precedes the MAC");

namespace {

// Seeks to offset from the start: in steps that fit the C runtime's long,
// which is 32 bits on Windows.
bool SeekFromStart(FILE *file, uint32_t offset) {
    if (fseek(file, 0, SEEK_SET) != 0) {
        return false;
    }
    while (offset > 0) {
        const uint32_t step =
            offset > static_cast<uint32_t>(LONG_MAX) ? static_cast<uint32_t>(LONG_MAX) : offset;
        if (fseek(file, static_cast<long>(step), SEEK_CUR) != 0) {
            return false;
        }
        offset -= step;
    }
    return true;
}

// A big-endian value of count bytes at offset; 0 where the buffer ends first.
uint32_t BigEndian(const std::vector<uint8_t> &image, uint32_t offset, uint32_t count) {
    if (static_cast<size_t>(offset) + count > image.size()) {
        return 0;
    }
    uint32_t value = 0;
    for (uint32_t i = 0; i < count; i++) {
        value = (value << 8) | image[offset + i];
    }
    return value;
}

} // namespace

int UtilReadFileMemAlloc(const char *path, uint32_t offset, uint32_t length, uint32_t max_size,
                         uint32_t *size_read, std::vector<uint8_t> &buffer) {
    std::vector<uint8_t>().swap(buffer);
    FILE *file = plat_fopen(path, "rb");
    if (file == nullptr) {
        debug_print("UtilReadFileMemAlloc() open() %s failed %lu\r\n", path,
                    static_cast<unsigned long>(errno));
        return 0;
    }
    unsigned long long file_size = 0;
    if (!plat_file_size(file, &file_size)) {
        const int error = errno;
        fclose(file);
        debug_print("UtilReadFileMemAlloc() fstat() %s failed %lu\r\n", path,
                    static_cast<unsigned long>(error));
        return 0;
    }
    if (file_size > max_size) {
        fclose(file);
        Output(ATTR_ERROR, "File size %lu is too big, max is %lu!\r\n",
               static_cast<unsigned long>(file_size), static_cast<unsigned long>(max_size));
        return 0;
    }
    const uint32_t to_read = length != 0 ? length : static_cast<uint32_t>(file_size);
    if (!TableCreate(buffer, static_cast<size_t>(to_read) + FILE_BUFFER_SLACK)) {
        fclose(file);
        Output(ATTR_ERROR, "Cannot allocate memory for size %lu\r\n",
               static_cast<unsigned long>(to_read));
        return 0;
    }
    if (!SeekFromStart(file, offset)) {
        const int error = errno;
        fclose(file);
        std::vector<uint8_t>().swap(buffer);
        debug_print("UtilReadFileMemAlloc() lseek() %s failed %lu\r\n", path,
                    static_cast<unsigned long>(error));
        return 0;
    }
    const size_t got = fread(buffer.data(), 1, to_read, file);
    if (ferror(file) != 0) {
        const int error = errno;
        fclose(file);
        std::vector<uint8_t>().swap(buffer);
        debug_print("UtilReadFileMemAlloc() read() %s failed %lu\r\n", path,
                    static_cast<unsigned long>(error));
        return 0;
    }
    fclose(file);
    if (got < to_read) {
        std::vector<uint8_t>().swap(buffer);
        debug_print("UtilReadFileMemAlloc() read() %s expected %lu bytes, read only %d\r\n", path,
                    static_cast<unsigned long>(to_read), static_cast<int>(got));
        return 0;
    }
    *size_read = to_read;
    return 1;
}

int ReadImageIdentity(const char *path, ImageIdentity &identity) {
    std::vector<uint8_t> image;
    uint32_t size = 0;
    if (!UtilReadFileMemAlloc(path, 0, 0, IMAGE_FILE_MAX, &size, image)) {
        Output(0, "Failed to read file (%s) into memory!\r\n", path);
        return 0;
    }
    if (BigEndian(image, 0, 4) != NVRAM_MAGIC) {
        debug_print("Image file did not match magic value.\r\n");
        return 0;
    }
    if (size < IMAGE_IDENTITY_END) {
        debug_print("Image file is too short.\r\n");
        return 0;
    }
    identity.VendorId = static_cast<uint16_t>(BigEndian(image, NVRAM_VENDOR_ID_OFFSET, 2));
    identity.DeviceId = static_cast<uint16_t>(BigEndian(image, NVRAM_DEVICE_ID_OFFSET, 2));
    identity.SubsystemId = static_cast<uint16_t>(BigEndian(image, NVRAM_SUBSYSTEM_ID_OFFSET, 2));
    identity.SubsystemVendorId =
        static_cast<uint16_t>(BigEndian(image, NVRAM_SUBSYSTEM_VENDOR_ID_OFFSET, 2));
    const uint8_t *mac = image.data() + NVRAM_MAC_OFFSET;
    snprintf(identity.MacText, sizeof identity.MacText, "%02X%02X%02X%02X%02X%02X",
             unsigned{mac[0]}, unsigned{mac[1]}, unsigned{mac[2]}, unsigned{mac[3]},
             unsigned{mac[4]}, unsigned{mac[5]});
    return 1;
}
