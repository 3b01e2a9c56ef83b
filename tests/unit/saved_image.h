// Saved NVRAM image files for the unit tests: the magic, the PCI identity in
// the image's own order and the MAC address at their offsets, zeros elsewhere.
#pragma once

#include <cstdint>
#include <string>

namespace saved_image {

struct Identity {
    uint16_t vendor, device, subsystem_vendor, subsystem;
    const char *mac; // 12 hex digits
};

// The adapter of the select fixture (library MAC text).
constexpr Identity kAdapter = {0x1234, 0xABCD, 0x5678, 0x0001, "00105A0B0C0D"};

inline void Put(std::string &image, size_t offset, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; i++) {
        const size_t at = offset + static_cast<size_t>(i);
        if (at < image.size()) {
            image[at] = static_cast<char>((value >> (8 * (bytes - 1 - i))) & 0xFF);
        }
    }
}

// An image of size bytes (cut wherever it ends), magic big-endian unless swapped.
inline std::string Image(const Identity &id, size_t size = 1024, bool swapped = false) {
    std::string image(size, '\0');
    Put(image, 0, swapped ? 0xAA559966u : 0x669955AAu, 4);
    Put(image, 260, id.vendor, 2);
    Put(image, 262, id.device, 2);
    Put(image, 264, id.subsystem, 2); // subsystem ID before subsystem vendor ID
    Put(image, 266, id.subsystem_vendor, 2);
    for (int i = 0; i < 6; i++) {
        Put(image, 310 + static_cast<size_t>(i),
            std::stoul(std::string(id.mac + 2 * i, 2), nullptr, 16), 1);
    }
    return image;
}

} // namespace saved_image
