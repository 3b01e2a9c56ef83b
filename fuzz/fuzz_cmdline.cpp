// Fuzz target: the command line. The input is the argument vector, one
// argument per line (a last line without its line end counts too), behind the
// program name. Checked on every parse: the mode and exit code are possible
// ones, the bits are option bits, the argument texts point into the vector
// given, each mode holds only with the options it allows, a second parse gives
// the same result, and so does the vector with every letter's case and every
// leading '-' or '/' swapped, since both forms of an option are the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "run/runflags.h"

namespace {

constexpr uint32_t kOptionBits = RUN_DEBUG | RUN_REPORT_INSTALLED | RUN_REPORT_IMAGE | RUN_SILENT |
                                 RUN_FORCE | RUN_RESTORE | RUN_LIST | RUN_RESTORE_FILE |
                                 RUN_LIST_BACKUPS | RUN_ADVISE_ONLY | RUN_ONLY_MASK;

struct Parse {
    int mode;
    int exit_code;
    uint32_t flags;
    int image; // index of the argument each text points to, -1 for none
    int mac;
    int restore;
};

// Index of the argument that text is, -1 for null; aborts when text is set
// but is not one of the arguments after the program name.
int ArgumentIndex(const char *text, const std::vector<char *> &argv) {
    if (text == nullptr) {
        return -1;
    }
    for (size_t k = 1; k < argv.size(); ++k) {
        if (argv[k] == text) {
            return static_cast<int>(k);
        }
    }
    abort();
}

Parse ParseFresh(std::vector<std::string> &args) {
    std::vector<char *> argv;
    for (std::string &arg : args) {
        argv.push_back(arg.data());
    }
    RunFlags = 0;
    ImageFileArg = nullptr;
    MacFilterArg = nullptr;
    RestoreFileArg = nullptr;
    CurrentNic = 0;
    Parse p{};
    p.exit_code = -1;
    p.mode = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &p.exit_code);
    p.flags = RunFlags;
    p.image = ArgumentIndex(ImageFileArg, argv);
    p.mac = ArgumentIndex(MacFilterArg, argv);
    p.restore = ArgumentIndex(RestoreFileArg, argv);
    return p;
}

bool Same(const Parse &a, const Parse &b) {
    return a.mode == b.mode && a.exit_code == b.exit_code && a.flags == b.flags &&
           a.image == b.image && a.mac == b.mac && a.restore == b.restore;
}

bool Has(uint32_t flags, uint32_t bits) {
    return (flags & bits) != 0;
}

// "-x" or "/x" in either case, for a lower-case letter x.
bool IsForm(const std::string &arg, char letter) {
    return arg.size() == 2 && (arg[0] == '-' || arg[0] == '/') &&
           (arg[1] == letter || arg[1] == letter - 'a' + 'A');
}

// Every ASCII letter's case swapped, and a leading '-' made '/' and back.
std::string OtherForm(std::string arg) {
    for (char &c : arg) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    if (!arg.empty() && (arg[0] == '-' || arg[0] == '/')) {
        arg[0] = arg[0] == '-' ? '/' : '-';
    }
    return arg;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<std::string> args{"lanrefit"};
    std::string text(reinterpret_cast<const char *>(data), size);
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        // An argument ends at its first NUL, as it would in a real argv.
        std::string arg = text.substr(start, end - start);
        args.push_back(arg.substr(0, arg.find('\0')));
        start = end + 1;
    }
    const int argc = static_cast<int>(args.size());

    const Parse p = ParseFresh(args);
    const uint32_t f = p.flags;
    if ((f & ~kOptionBits) != 0 || p.exit_code < 0 || p.exit_code > 1) {
        abort();
    }
    if (p.mode != MODE_USAGE && p.exit_code != 0) {
        abort();
    }
    if (argc > 1 && IsForm(args[1], 'h') && (p.mode != MODE_USAGE || p.exit_code != 1)) {
        abort(); // "-H" first ends the parse with exit code 1
    }
    if (p.exit_code == 1) {
        bool help = false;
        for (const std::string &arg : args) {
            help = help || IsForm(arg, 'h');
        }
        if (!help) {
            abort();
        }
    }
    // The texts: the file of -I comes with its bit, the MAC and the file of -e
    // are the last argument, and no argument serves twice.
    if ((p.image >= 0) != Has(f, RUN_REPORT_IMAGE)) {
        abort();
    }
    if ((p.mac >= 0 && p.mac != argc - 1) || (p.restore >= 0 && p.restore != argc - 1) ||
        (p.mac >= 0 && p.restore >= 0) || (p.image >= 0 && p.image == p.mac) ||
        (p.image >= 0 && p.image == p.restore)) {
        abort();
    }
    switch (p.mode) {
    case MODE_USAGE:
        break;
    case MODE_REPORT_INSTALLED:
        if (!Has(f, RUN_REPORT_INSTALLED) ||
            Has(f, RUN_LIST | RUN_RESTORE | RUN_FORCE | RUN_SILENT | RUN_REPORT_IMAGE)) {
            abort();
        }
        break;
    case MODE_REPORT_IMAGE:
        if (!Has(f, RUN_REPORT_IMAGE) ||
            Has(f, RUN_LIST | RUN_RESTORE | RUN_FORCE | RUN_SILENT | RUN_REPORT_INSTALLED)) {
            abort();
        }
        break;
    case MODE_UPGRADE:
        if (Has(f, RUN_REPORT_INSTALLED | RUN_REPORT_IMAGE) ||
            (Has(f, RUN_FORCE) && !Has(f, RUN_SILENT)) ||
            (Has(f, RUN_RESTORE) && Has(f, RUN_SILENT | RUN_FORCE))) {
            abort();
        }
        break;
    default:
        abort();
    }
    if (p.mode != MODE_USAGE) {
        if ((Has(f, RUN_ONLY_MASK) && p.mac < 0) || (Has(f, RUN_RESTORE_FILE) && p.restore < 0)) {
            abort(); // a per-component option or -e without its text
        }
        // Whatever is not a text (or the file of an earlier -I, which a later
        // one replaced) was taken as an option, and every form of an option
        // begins with '-' or '/'.
        for (int k = 1; k < argc; ++k) {
            const char first = args[k].empty() ? '\0' : args[k][0];
            if (k != p.image && k != p.mac && k != p.restore && !IsForm(args[k - 1], 'i') &&
                first != '-' && first != '/') {
                abort();
            }
        }
    }

    if (!Same(ParseFresh(args), p)) {
        abort(); // state left over from the first parse
    }
    std::vector<std::string> other{args[0]};
    for (int k = 1; k < argc; ++k) {
        other.push_back(OtherForm(args[k]));
    }
    if (!Same(ParseFresh(other), p)) {
        abort();
    }
    return 0;
}
