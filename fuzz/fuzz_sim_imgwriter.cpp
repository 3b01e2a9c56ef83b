// Fuzz target: the simulated writer tool's command line. The input is the
// argument vector after the program name, one argument per NUL-separated part.
// A refusal is a usage outcome; an accepted line has a MAC of 12 hexadecimal
// digits first and IMAGE and BACKUP last, and leaves nothing of an earlier
// parse behind. A leading -debug changes nothing but the debug mark, and a
// verb spelt as one argument ("upgrade -bc") reads as when spelt as several.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/common/sim_nvram.h"
#include "sim/imgwriter/imgwriter.h"

namespace {

struct Parse {
    int ok;
    ImgArgs args;
    std::string outcome;
};

Parse Run(const std::vector<std::string> &words) {
    Parse p;
    p.args.debug = 7;
    p.args.mac = "stale";
    p.args.verb = IMG_VERB_RESTORE;
    p.args.image = "stale";
    p.args.backup = "stale";
    p.outcome = "stale";
    p.ok = img_parse_args(words, p.args, p.outcome);
    return p;
}

bool Same(const Parse &a, const Parse &b) {
    return a.ok == b.ok &&
           (a.ok ? a.args.mac == b.args.mac && a.args.verb == b.args.verb &&
                       a.args.image == b.args.image && a.args.backup == b.args.backup
                 : a.outcome == b.outcome);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<std::string> words;
    if (size > 0) {
        words.emplace_back();
        for (size_t i = 0; i < size; ++i) {
            if (data[i] == 0) {
                words.emplace_back();
            } else {
                words.back() += static_cast<char>(data[i]);
            }
        }
    }
    const Parse p = Run(words);
    const bool debug = !words.empty() && words[0] == "-debug";
    if (p.args.debug != (debug ? 1 : 0)) {
        abort();
    }
    if (!p.ok) {
        if (p.outcome.compare(0, 7, "usage: ") != 0) {
            abort();
        }
    } else {
        const size_t first = debug ? 1 : 0;
        uint8_t mac[6];
        if (words.size() < first + 4 || p.args.mac != words[first] ||
            !sim_parse_mac(p.args.mac.c_str(), mac) || p.args.image != words[words.size() - 2] ||
            p.args.backup != words.back() || p.args.verb < IMG_VERB_BOOTCODE ||
            p.args.verb > IMG_VERB_RESTORE) {
            abort();
        }
    }
    // (A second -debug would itself be read as one then.)
    if (debug && (words.size() < 2 || words[1] != "-debug")) {
        const Parse rest = Run(std::vector<std::string>(words.begin() + 1, words.end()));
        if (!Same(p, rest)) {
            abort();
        }
    }
    // The verb's words as one argument, when there are several.
    const size_t first = debug ? 1 : 0;
    if (words.size() >= first + 5) {
        std::vector<std::string> joined(words.begin(), words.begin() + first + 2);
        for (size_t i = first + 2; i + 2 < words.size(); ++i) {
            joined.back() += " " + words[i];
        }
        joined.insert(joined.end(), words.end() - 2, words.end());
        if (!Same(p, Run(joined))) {
            abort();
        }
    }
    return 0;
}
