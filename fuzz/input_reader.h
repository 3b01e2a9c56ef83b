// The fuzz input read as a stream of numbers: bytes taken in order, most
// significant first, zeros once the input runs out. Shared by the targets that
// build structured values from their input.
#pragma once

#include <cstddef>
#include <cstdint>

struct Reader {
    const uint8_t *data;
    size_t size;
    size_t at;
};

inline uint32_t Take(Reader &r, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value = (value << 8) | (r.at < r.size ? r.data[r.at++] : 0u);
    }
    return value;
}
