// Parsing of the adapter library's firmware version texts into three numbers.
#include "adapter/firmware.h"

#include <cstring>

namespace {

bool IsSeparator(char c) {
    return c == ' ' || c == '.';
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Decimal value of text[begin, end) read as atoi reads: leading blanks, an
// optional sign, digits up to the first other character; 0 without digits.
// The value is kept modulo 2^32 (a negative number wraps), never overflowing.
uint32_t TokenValue(const char *text, size_t begin, size_t end) {
    size_t i = begin;
    while (i < end && IsBlank(text[i])) {
        i++;
    }
    bool negative = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        i++;
    }
    uint32_t value = 0;
    while (i < end && text[i] >= '0' && text[i] <= '9') {
        value = value * 10u + static_cast<uint32_t>(text[i] - '0');
        i++;
    }
    return negative ? 0u - value : value;
}

} // namespace

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
            parts[k] = TokenValue(text, cut, end);
            end = cut - 1;
        } else {
            parts[k] = TokenValue(text, 0, end);
        }
    }
    return Version{parts[0], parts[1], parts[2]};
}
