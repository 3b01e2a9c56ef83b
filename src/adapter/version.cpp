// Parsing of the adapter library's firmware version texts into three numbers.
#include "adapter/firmware.h"

#include <cstdint>
#include <cstring>

namespace {

bool IsSeparator(char c) {
    return c == ' ' || c == '.';
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

// atoi as the Windows C library reads: leading blanks, an optional sign,
// digits up to the first other character, 0 without digits; a value out of
// range stops at INT_MAX or INT_MIN. Stored as unsigned 32-bit ("-1" is
// 4294967295). Reads at most length characters.
uint32_t AtoiValue(const char *text, size_t length) {
    size_t i = 0;
    while (i < length && IsBlank(text[i])) {
        i++;
    }
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        i++;
    }
    constexpr int64_t kLimit = int64_t{INT32_MAX} + 1; // the magnitude of INT_MIN
    int64_t value = 0;
    while (i < length && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + (text[i] - '0');
        if (value > kLimit) {
            value = kLimit;
        }
        i++;
    }
    if (negative) {
        value = -value;
    } else if (value > INT32_MAX) {
        value = INT32_MAX;
    }
    return static_cast<uint32_t>(static_cast<int32_t>(value));
}

// Right to left: build, minor, major. Full stops count as spaces. Each number
// is the token after the last separator of what is left, which is then cut
// there; once no separator is left the remainder stays whole, so missing
// leading numbers repeat the leftmost one ("2.0" gives 2, 2, 0; "5" 5, 5, 5).
// The text is not copied: the cuts only move the end of the remainder.
Version ParseVersionText(const char *text) {
    uint32_t parts[3] = {0, 0, 0};
    size_t end = std::strlen(text);
    for (int k = 2; k >= 0; k--) {
        size_t cut = end;
        while (cut > 0 && !IsSeparator(text[cut - 1])) {
            cut--;
        }
        if (cut > 0) {
            // text[cut - 1] is the last separator of the remainder.
            parts[k] = AtoiValue(text + cut, end - cut);
            end = cut - 1;
        } else {
            parts[k] = AtoiValue(text, end);
        }
    }
    return Version{parts[0], parts[1], parts[2]};
}
