// imgwriter: the simulated writer tool. Run as
//   imgwriter [-debug] MAC VERB... IMAGE BACKUP
// it finds the adapter by its MAC in the simulated server's machine file,
// saves the adapter's NVRAM image at BACKUP (never replacing a file there),
// then writes IMAGE into the NVRAM image file, atomically. One journal line
// per run, faults on demand; see docs/simulator.md.
#include "sim/common/sim_files.h"
#include "sim/common/sim_machine.h"
#include "sim/common/sim_nvram.h"
#include "sim/imgwriter/imgwriter.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <time.h>
#include <unistd.h>
#endif

namespace {

// Faults asked for through IMGWRITER_FAULT, those that apply to this run.
struct Faults {
    int exit_code; // 0: none
    int crash_before;
    int crash_after;
    int refuse;
    int nobackup;
    unsigned long delay_ms;
};

// The run's journal: its path (empty when off) and the arguments as received.
struct Journal {
    std::string path;
    std::string args;
    int debug;
};

Journal g_journal;

// Appends the run's line to the journal and returns code.
int finish(int code, const std::string &outcome) {
    std::string line = g_journal.args + " => " + outcome;
    if (!g_journal.path.empty()) {
        FILE *file = fopen(g_journal.path.c_str(), "ab");
        if (file != nullptr) {
            fprintf(file, "%s\n", line.c_str());
            fclose(file);
        }
    }
    if (code != IMG_EXIT_DONE || g_journal.debug) {
        fprintf(stderr, "imgwriter: %s\n", line.c_str());
    }
    return code;
}

// Ends the process abnormally, as a crash would, after the journal line.
[[noreturn]] void crash(const char *outcome) {
    finish(IMG_EXIT_DONE, outcome);
    fflush(nullptr);
#ifdef _WIN32
    TerminateProcess(GetCurrentProcess(), IMG_EXIT_CRASH_WIN);
#else
    kill(getpid(), SIGKILL);
#endif
    abort();
}

void sleep_ms(unsigned long ms) {
#ifdef _WIN32
    Sleep(static_cast<DWORD>(ms));
#else
    timespec left = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0) {
    }
#endif
}

// Lines in the journal so far: this run is number lines + 1.
unsigned long journal_lines() {
    FILE *file = fopen(g_journal.path.c_str(), "rb");
    if (file == nullptr) {
        return 0;
    }
    unsigned long lines = 0;
    int c;
    while ((c = fgetc(file)) != EOF) {
        lines += c == '\n';
    }
    fclose(file);
    return lines;
}

// The fault actions: a name, and whether it takes "=N" (with its largest value).
enum FaultAction {
    FAULT_EXIT,
    FAULT_CRASH_BEFORE,
    FAULT_CRASH_AFTER,
    FAULT_REFUSE,
    FAULT_DELAY,
    FAULT_NOBACKUP
};
const struct {
    const char *name;
    FaultAction action;
    unsigned long max; // 0: no value
} FAULT_NAMES[] = {
    {"exit", FAULT_EXIT, 255},
    {"crash=before", FAULT_CRASH_BEFORE, 0},
    {"crash=after", FAULT_CRASH_AFTER, 0},
    {"refuse", FAULT_REFUSE, 0},
    {"delay", FAULT_DELAY, 600000},
    {"nobackup", FAULT_NOBACKUP, 0},
};

// One fault: "ACTION[=N] [at=K]". Applies it to faults when it concerns run
// number run (0: unknown, without a journal). Returns 0 on a malformed text.
int parse_fault(const std::string &text, unsigned long run, int have_journal, Faults &faults,
                std::string &error) {
    std::vector<std::string> words;
    size_t at = 0;
    while ((at = text.find_first_not_of(" \t", at)) != std::string::npos) {
        size_t end = text.find_first_of(" \t", at);
        words.push_back(text.substr(at, end == std::string::npos ? end : end - at));
        at = end;
    }
    if (words.empty() || words.size() > 2) {
        error = "expected ACTION [at=N]";
        return 0;
    }
    unsigned long only = 0;
    if (words.size() == 2) {
        if (words[1].compare(0, 3, "at=") != 0 ||
            !sim_parse_number(words[1].c_str() + 3, 0xFFFFFFFFul, &only) || only == 0) {
            error = "bad at=";
            return 0;
        }
        if (!have_journal) {
            error = "at= needs IMGWRITER_JOURNAL";
            return 0;
        }
    }
    const std::string &word = words[0];
    for (const auto &f : FAULT_NAMES) {
        std::string name = f.name;
        unsigned long value = 0;
        if (f.max == 0 ? word != name
                       : word.compare(0, name.size() + 1, name + "=") != 0 ||
                             !sim_parse_number(word.c_str() + name.size() + 1, f.max, &value) ||
                             value == 0) {
            continue;
        }
        if (only != 0 && only != run) {
            return 1;
        }
        switch (f.action) {
        case FAULT_EXIT:
            faults.exit_code = static_cast<int>(value);
            break;
        case FAULT_CRASH_BEFORE:
            faults.crash_before = 1;
            break;
        case FAULT_CRASH_AFTER:
            faults.crash_after = 1;
            break;
        case FAULT_REFUSE:
            faults.refuse = 1;
            break;
        case FAULT_DELAY:
            faults.delay_ms = value;
            break;
        case FAULT_NOBACKUP:
            faults.nobackup = 1;
            break;
        }
        return 1;
    }
    error = "unknown fault '" + word + "'";
    return 0;
}

// IMGWRITER_FAULT: faults separated by ';'.
int read_faults(Faults &faults, std::string &error) {
    faults = Faults{};
    const char *text = getenv("IMGWRITER_FAULT");
    if (text == nullptr) {
        return 1;
    }
    int have_journal = !g_journal.path.empty();
    unsigned long run = have_journal ? journal_lines() + 1 : 0;
    std::string list = text;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(';', start);
        end = end == std::string::npos ? list.size() : end;
        std::string part = list.substr(start, end - start);
        if (part.find_first_not_of(" \t") != std::string::npos &&
            !parse_fault(part, run, have_journal, faults, error)) {
            error = "IMGWRITER_FAULT: " + error;
            return 0;
        }
        start = end + 1;
    }
    return 1;
}

// The adapter as the library serves it: the machine file's mac= and pci=
// where given, else its NVRAM image's.
ImgIdentity adapter_identity(const SimAdapter &adapter, const std::vector<uint8_t> &nvram) {
    ImgIdentity id;
    memcpy(id.pci, nvram.data() + NVRAM_VENDOR_ID_OFFSET, sizeof id.pci);
    memcpy(id.mac, nvram.data() + NVRAM_MAC_OFFSET, sizeof id.mac);
    if (adapter.has_mac) {
        sim_parse_mac(adapter.mac_text, id.mac);
    }
    if (adapter.has_pci) {
        sim_put_be16(id.pci + 0, adapter.pci[0]); // vendor
        sim_put_be16(id.pci + 2, adapter.pci[1]); // device
        sim_put_be16(id.pci + 4, adapter.pci[3]); // subsystem
        sim_put_be16(id.pci + 6, adapter.pci[2]); // subsystem vendor
    }
    return id;
}

// Saves the NVRAM image at backup unless a file is there; a file there must be
// a usable image of this adapter. Returns 1, or 0 with a reason.
int save_backup(const std::string &backup, const std::vector<uint8_t> &nvram,
                const ImgIdentity &adapter, std::string &reason) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!sim_file_exists(backup)) {
            std::string error;
            int saved = sim_save_new_file(backup, nvram, error);
            if (saved > 0) {
                return 1;
            }
            if (saved == 0) {
                reason = "cannot save the backup: " + error;
                return 0;
            }
            // Another file took the name meanwhile: judge that one.
        }
        std::vector<uint8_t> kept;
        std::string error;
        if (!sim_read_file(backup, kept, error)) {
            reason = "existing file cannot be read";
            return 0;
        }
        if (!sim_nvram_check("existing file", kept, reason)) {
            return 0;
        }
        if (!img_same_adapter(kept, adapter)) {
            reason = "existing file is of another adapter";
            return 0;
        }
        return 1;
    }
    reason = "cannot save the backup";
    return 0;
}

int run(int argc, char **argv) {
    ImgArgs args;
    std::string outcome;
    const int parsed =
        img_parse_args(std::vector<std::string>(argv + 1, argv + argc), args, outcome);
    g_journal.debug = args.debug;
    if (!parsed) {
        return finish(IMG_EXIT_USAGE, outcome);
    }
    const std::string &mac = args.mac;
    const std::string &image_path = args.image;
    const std::string &backup = args.backup;
    const ImgVerb verb = args.verb;

    Faults faults;
    std::string error;
    if (!read_faults(faults, error)) {
        return finish(IMG_EXIT_CONFIG, "config: " + error);
    }
    const char *machine_path = getenv("OMBRI_SIM_MACHINE");
    if (machine_path == nullptr || machine_path[0] == '\0') {
        return finish(IMG_EXIT_CONFIG, "config: OMBRI_SIM_MACHINE is not set");
    }
    SimMachine machine;
    if (!sim_machine_load(machine_path, machine, error)) {
        if (g_journal.debug) {
            fprintf(stderr, "imgwriter: %s\n", error.c_str());
        }
        return finish(IMG_EXIT_CONFIG, "config: machine file unusable");
    }
    const SimAdapter *adapter = sim_machine_find_mac(machine, mac.c_str());
    if (adapter == nullptr) {
        return finish(IMG_EXIT_UNKNOWN, "unknown: no adapter with MAC " + mac);
    }
    std::vector<uint8_t> nvram;
    if (adapter->nvram.empty()) {
        return finish(IMG_EXIT_NVRAM, "nvram: the adapter has no NVRAM file");
    }
    if (!sim_read_file(adapter->nvram, nvram, error)) {
        return finish(IMG_EXIT_NVRAM, "nvram: cannot be read");
    }
    if (!sim_nvram_check("nvram", nvram, error)) {
        return finish(IMG_EXIT_NVRAM, error);
    }
    ImgIdentity identity = adapter_identity(*adapter, nvram);

    // No write without a saved backup.
    if (faults.nobackup) {
        return finish(IMG_EXIT_BACKUP, "backup: cannot save the backup (injected)");
    }
    if (!save_backup(backup, nvram, identity, error)) {
        return finish(IMG_EXIT_BACKUP, "backup: " + error);
    }

    std::vector<uint8_t> image, result;
    if (!sim_read_file(image_path, image, error)) {
        return finish(IMG_EXIT_REFUSED, "refused: cannot read the image");
    }
    if (!img_apply(verb, nvram, image, identity, result, error)) {
        return finish(IMG_EXIT_REFUSED, "refused: " + error);
    }
    if (faults.refuse) {
        return finish(IMG_EXIT_REFUSED, "refused: injected");
    }
    if (faults.delay_ms != 0) {
        sleep_ms(faults.delay_ms);
    }
    if (faults.crash_before) {
        crash("crashed before write");
    }
    // The write-protect jumper makes the write have no effect.
    const char *done = "protected";
    if (adapter->jumper != SIM_JUMPER_PROTECT) {
        if (!sim_replace_file(adapter->nvram, result, error)) {
            return finish(IMG_EXIT_FAILED, "failed: " + error);
        }
        done = "written";
    }
    if (faults.crash_after) {
        crash("crashed after write");
    }
    if (faults.exit_code != 0) {
        return finish(faults.exit_code,
                      std::string(done) + ", exit " + std::to_string(faults.exit_code));
    }
    return finish(IMG_EXIT_DONE, done);
}

} // namespace

int main(int argc, char **argv) {
    const char *journal = getenv("IMGWRITER_JOURNAL");
    g_journal.path = journal != nullptr ? journal : "";
    for (int i = 1; i < argc; ++i) {
        g_journal.args += (i > 1 ? " " : "") + std::string(argv[i]);
    }
    return run(argc, argv);
}
