// NVRAM image files on disk: the general file loader, and the reader of the
// identity that a saved image carries (PCI identity and MAC address).
#pragma once

#include <cstdint>
#include <vector>

// The largest image file read: 1 MiB.
constexpr uint32_t IMAGE_FILE_MAX = 1048576;
// An image holds its identity in its first 316 bytes (the MAC ends there).
constexpr uint32_t IMAGE_IDENTITY_END = 316;
// Zero bytes kept after the data of every loaded file.
constexpr uint32_t FILE_BUFFER_SLACK = 16;

// Loads length bytes (0: the whole file) from offset of the file at path into
// buffer, followed by FILE_BUFFER_SLACK zero bytes. A file larger than max_size
// is refused, whatever offset and length. Returns 1 with *size_read set to the
// length read; returns 0 on any failure, after printing its message (buffer is
// then empty).
int UtilReadFileMemAlloc(const char *path, uint32_t offset, uint32_t length, uint32_t max_size,
                         uint32_t *size_read, std::vector<uint8_t> &buffer);

// What a saved image says about the adapter it came from, as the image holds it.
struct ImageIdentity {
    uint16_t VendorId;
    uint16_t DeviceId;
    uint16_t SubsystemId;
    uint16_t SubsystemVendorId;
    char MacText[13]; // 12 upper-case hex digits and the NUL
};

// Reads the image file at path and fills identity from it. Returns 1, or 0
// (identity untouched) when the file cannot be read, does not begin with
// NVRAM_MAGIC, or ends before the MAC address; the reason is printed.
int ReadImageIdentity(const char *path, ImageIdentity &identity);
