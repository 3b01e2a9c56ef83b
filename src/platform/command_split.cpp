// The Windows rules for splitting a command line into arguments (see
// command_split.h), for the POSIX layer that starts child processes.
#include "platform/command_split.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

std::vector<std::string> plat_split_command_line(const char *command_line) {
    std::vector<std::string> words;
    const char *p = command_line;

    // The program name: up to the first blank or tab outside double quotes.
    std::string word;
    bool quoted = false;
    for (; *p != '\0' && (quoted || !IsBlank(*p)); ++p) {
        if (*p == '"') {
            quoted = !quoted;
        } else {
            word += *p;
        }
    }
    words.push_back(word);

    for (;;) {
        while (IsBlank(*p)) {
            ++p;
        }
        if (*p == '\0') {
            return words;
        }
        word.clear();
        quoted = false;
        while (*p != '\0' && (quoted || !IsBlank(*p))) {
            size_t backslashes = 0;
            while (*p == '\\') {
                ++backslashes;
                ++p;
            }
            if (*p != '"') {
                word.append(backslashes, '\\');
                if (*p != '\0' && (quoted || !IsBlank(*p))) {
                    word += *p++;
                }
                continue;
            }
            word.append(backslashes / 2, '\\');
            if (backslashes % 2 == 1) {
                word += '"'; // an escaped quote
            } else if (quoted && p[1] == '"') {
                word += '"'; // "" inside a quoted part
                ++p;
            } else {
                quoted = !quoted;
            }
            ++p;
        }
        words.push_back(word);
    }
}
