// The simulated writer tool's command line: [-debug] MAC VERB... IMAGE BACKUP,
// the verb being every word between the MAC and the two paths.
#include "sim/imgwriter/imgwriter.h"

int img_parse_args(const std::vector<std::string> &words, ImgArgs &args, std::string &outcome) {
    args = ImgArgs{};
    std::vector<std::string> rest = words;
    if (!rest.empty() && rest[0] == "-debug") {
        args.debug = 1;
        rest.erase(rest.begin());
    }
    if (rest.size() < 4) {
        outcome = "usage: expected [-debug] MAC VERB... IMAGE BACKUP";
        return 0;
    }
    std::string verb;
    for (size_t i = 1; i + 2 < rest.size(); ++i) {
        verb += (i > 1 ? " " : "") + rest[i];
    }
    uint8_t mac[6];
    if (!sim_parse_mac(rest[0].c_str(), mac)) {
        outcome = "usage: MAC must be 12 hexadecimal digits";
        return 0;
    }
    if (!img_parse_verb(verb, &args.verb)) {
        outcome = "usage: unknown verb '" + verb + "'";
        return 0;
    }
    args.mac = rest[0];
    args.image = rest[rest.size() - 2];
    args.backup = rest[rest.size() - 1];
    return 1;
}
