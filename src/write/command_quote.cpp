// One argument of the writer tool's command line, written so that the tool's
// C runtime splits it back into exactly that argument, and the test for the
// texts that are never passed to the tool at all.
#include <cstring>

#include "write/write.h"

int IsPassableArgument(const char *argument) {
    for (const char *p = argument; *p != '\0'; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"' || c < 0x20 || c == 0x7F) {
            return 0;
        }
    }
    return 1;
}

namespace {

// Appends count copies of c to out, as far as they fit; *length counts them all.
void Put(char *out, size_t size, size_t *length, char c, size_t count) {
    for (; count > 0; --count, ++*length) {
        if (*length + 1 < size) {
            out[*length] = c;
        }
    }
}

} // namespace

int QuoteCommandArgument(const char *argument, char *out, size_t size) {
    if (size == 0) {
        return 0;
    }
    size_t length = strlen(argument);
    if (length != 0 && strpbrk(argument, " \t\"") == nullptr) {
        if (length >= size) {
            out[0] = '\0';
            return 0;
        }
        memcpy(out, argument, length + 1);
        return 1;
    }
    // In quotes, backslashes are literal unless a quote follows them: a run
    // of them before a quote inside, or before the closing quote, is doubled,
    // and a quote inside is escaped by one more.
    size_t n = 0;
    Put(out, size, &n, '"', 1);
    for (const char *p = argument;; ++p) {
        size_t backslashes = 0;
        while (*p == '\\') {
            ++backslashes;
            ++p;
        }
        if (*p == '\0') {
            Put(out, size, &n, '\\', 2 * backslashes);
            break;
        }
        Put(out, size, &n, '\\', *p == '"' ? 2 * backslashes + 1 : backslashes);
        Put(out, size, &n, *p, 1);
    }
    Put(out, size, &n, '"', 1);
    if (n >= size) {
        out[0] = '\0';
        return 0;
    }
    out[n] = '\0';
    return 1;
}
