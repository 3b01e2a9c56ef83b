// Fuzz target: version texts. Both parsers take any text; for texts of one to
// three dot-separated numbers that fit a version field, the library's and the
// catalogue's reading agree.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "adapter/firmware.h"
#include "select/select.h"

namespace {

bool DottedNumbers(const std::string &text) {
    int numbers = 0;
    bool in_number = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            if (!in_number) {
                ++numbers;
            }
            in_number = true;
        } else if (c == '.' && in_number) {
            in_number = false;
        } else {
            return false;
        }
    }
    return in_number && numbers <= 3;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    text = text.substr(0, text.find('\0'));
    const Version a = ParseVersionText(text.c_str());
    const Version b = ParseCatalogueVersion(text.c_str());
    // The catalogue's version tokens are at most 63 characters (longer records
    // are skipped), the library's texts at most 31.
    if (text.size() <= 63 && DottedNumbers(text) &&
        (a.major != b.major || a.minor != b.minor || a.build != b.build)) {
        abort();
    }
    return 0;
}
