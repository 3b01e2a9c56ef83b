// The command line: option table, the parse with its trailing MAC and file
// arguments, and the mode decision.
#include "run/runflags.h"

#include <cstddef>

#include "base/text.h"

namespace {

// How an option uses the arguments that follow it.
constexpr int ARG_NONE = 0;
constexpr int ARG_NEXT = 1; // -I: the next argument, whatever it is
constexpr int ARG_HELP = 2; // -H: usage text, exit code 1

struct OptionForm {
    const char *dash;
    const char *slash;
    uint32_t bit;
    int argument;
};

// Compared as whole texts without regard to ASCII case; the first match decides.
constexpr OptionForm kOptions[] = {
    {"-debug", "/debug", RUN_DEBUG, ARG_NONE},
    {"-c", "/c", RUN_REPORT_INSTALLED, ARG_NONE},
    {"-S", "/s", RUN_SILENT, ARG_NONE},
    {"-F", "/F", RUN_FORCE, ARG_NONE},
    {"-p", "/p", RUN_RESTORE, ARG_NONE},
    {"-l", "/l", RUN_LIST, ARG_NONE},
    {"-a", "/a", RUN_LIST_BACKUPS, ARG_NONE},
    {"-e", "/e", RUN_RESTORE_FILE, ARG_NONE},
    {"-o", "/o", RUN_ONLY_BC, ARG_NONE},
    {"-x", "/x", RUN_ONLY_PXE, ARG_NONE},
    {"-m", "/m", 0, ARG_NONE},
    {"-u", "/u", RUN_ONLY_UMP, ARG_NONE},
    {"-b", "/b", RUN_ONLY_CLP, ARG_NONE},
    {"-d", "/d", RUN_ONLY_ISCSI, ARG_NONE},
    {"-g", "/g", RUN_ONLY_ISCSI_STUB, ARG_NONE},
    {"-N", "/N", RUN_ADVISE_ONLY, ARG_NONE},
    {"-H", "/H", 0, ARG_HELP},
    {"-I", "/I", RUN_REPORT_IMAGE, ARG_NEXT},
};

const OptionForm *FindOption(const char *arg) {
    for (const OptionForm &form : kOptions) {
        if (SameTextIgnoringAsciiCase(arg, form.dash) ||
            SameTextIgnoringAsciiCase(arg, form.slash)) {
            return &form;
        }
    }
    return nullptr;
}

int UsageExit(int code, int *exit_code) {
    *exit_code = code;
    return MODE_USAGE;
}

} // namespace

int ParseCommandLine(int argc, char **argv, int *exit_code) {
    *exit_code = 0;
    for (int i = 1; i < argc; ++i) {
        const OptionForm *form = FindOption(argv[i]);
        if (form == nullptr) {
            return UsageExit(0, exit_code);
        }
        if (form->argument == ARG_HELP) {
            return UsageExit(1, exit_code);
        }
        if (form->argument == ARG_NEXT) {
            if (i + 1 >= argc) {
                return UsageExit(0, exit_code);
            }
            ++i;
            ImageFileArg = argv[i];
        }
        RunFlags |= form->bit;
        // The MAC of a per-component option, then the file of -e: each is the
        // last argument, taken when exactly one argument follows position i.
        if ((RunFlags & RUN_ONLY_MASK) != 0 && i + 2 == argc) {
            ++i;
            MacFilterArg = argv[i];
        }
        if ((RunFlags & RUN_RESTORE_FILE) != 0 && i + 2 == argc) {
            ++i;
            RestoreFileArg = argv[i];
        }
    }

    if ((RunFlags & RUN_RESTORE_FILE) != 0 && RestoreFileArg == nullptr) {
        return UsageExit(0, exit_code);
    }
    if ((RunFlags & RUN_ONLY_MASK) != 0 && MacFilterArg == nullptr) {
        return UsageExit(0, exit_code);
    }
    if ((RunFlags & RUN_REPORT_INSTALLED) != 0) {
        if ((RunFlags & 0x000101D0) != 0) {
            return UsageExit(0, exit_code);
        }
        return MODE_REPORT_INSTALLED;
    }
    if ((RunFlags & RUN_REPORT_IMAGE) != 0) {
        if ((RunFlags & 0x000101C8) != 0) {
            return UsageExit(0, exit_code);
        }
        return MODE_REPORT_IMAGE;
    }
    if ((RunFlags & RUN_RESTORE) != 0 && (RunFlags & (RUN_SILENT | RUN_FORCE)) != 0) {
        return UsageExit(0, exit_code);
    }
    if ((RunFlags & RUN_FORCE) != 0 && (RunFlags & RUN_SILENT) == 0) {
        return UsageExit(0, exit_code);
    }
    return MODE_UPGRADE;
}
