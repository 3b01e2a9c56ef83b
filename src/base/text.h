// Text comparison as Windows compares paths and file names: whole texts,
// without regard to ASCII letter case.
#pragma once

inline char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool SameTextIgnoringAsciiCase(const char *a, const char *b) {
    for (;; ++a, ++b) {
        if (AsciiLower(*a) != AsciiLower(*b)) {
            return false;
        }
        if (*a == '\0') {
            return true;
        }
    }
}
