// Process-wide state of the simulated library: reads OMBRI_SIM_MACHINE,
// OMBRI_SIM_FAULTS and OMBRI_SIM_CALL_LOG on the first call, matches injected
// faults, writes the call log, keeps each adapter's NVRAM image until its file
// changes, and reports broken files on standard error.
#include "sim/ombri/sim_runtime.h"

#include "sim/common/sim_nvram.h"
#include "sim/ombri/sim_library.h"

#include <cstdio>
#include <cstdlib>

SimState g_sim;

void sim_report(const std::string &message) {
    fprintf(stderr, "ombri-sim: %s\n", message.c_str());
    fflush(stderr);
}

static void sim_load() {
    g_sim.loaded = 1;
    g_sim.config_ok = 0;
    const char *log = getenv("OMBRI_SIM_CALL_LOG");
    g_sim.call_log = log != nullptr ? log : "";

    std::string error;
    const char *faults = getenv("OMBRI_SIM_FAULTS");
    if (faults != nullptr && !sim_fault_parse_list(faults, g_sim.faults, error)) {
        sim_report("OMBRI_SIM_FAULTS: " + error);
        g_sim.faults.clear();
        return;
    }
    const char *machine = getenv("OMBRI_SIM_MACHINE");
    if (machine == nullptr || machine[0] == '\0') {
        sim_report("OMBRI_SIM_MACHINE is not set; it must name the machine file");
        return;
    }
    if (!sim_machine_load(machine, g_sim.machine, error)) {
        sim_report(error);
        return;
    }
    g_sim.faults.insert(g_sim.faults.end(), g_sim.machine.faults.begin(),
                        g_sim.machine.faults.end());
    g_sim.fault_calls.assign(g_sim.faults.size(), 0);
    g_sim.diag.assign(g_sim.machine.adapters.size(), 0);
    g_sim.nvram_reported.assign(g_sim.machine.adapters.size(), std::string());
    g_sim.nvram_cache.assign(g_sim.machine.adapters.size(), SimNvramCache{});
    g_sim.handle_index.clear();
    g_sim.port_index.clear();
    for (size_t i = 0; i < g_sim.machine.adapters.size(); ++i) {
        g_sim.handle_index[g_sim.machine.adapters[i].handle] = static_cast<int>(i);
        g_sim.port_index[g_sim.machine.adapters[i].port] = static_cast<int>(i);
    }
    g_sim.config_ok = 1;
}

OmbriStatus sim_begin(SimOp op, long long handle, unsigned long *seq) {
    if (!g_sim.loaded) {
        sim_load();
    }
    *seq = ++g_sim.calls;
    OmbriStatus status = 0;
    for (size_t i = 0; i < g_sim.faults.size(); ++i) {
        const SimFault &fault = g_sim.faults[i];
        if (fault.op != SIM_OP_ANY && fault.op != op) {
            continue;
        }
        if (fault.has_adapter && (handle < 0 || static_cast<uint32_t>(handle) != fault.adapter)) {
            continue;
        }
        unsigned long n = ++g_sim.fault_calls[i];
        int fires = fault.at != 0 ? n == fault.at : n >= fault.from;
        if (fires && fault.exit_code != 0) {
            char results[32];
            snprintf(results, sizeof results, "exit=%lu",
                     static_cast<unsigned long>(fault.exit_code));
            sim_log_call(*seq, op, "", 0, 1, results);
            std::exit(static_cast<int>(fault.exit_code)); // flushes the caller's streams too
        }
        if (fires && status == 0) {
            status = fault.status; // the first fault listed wins; all are counted
        }
    }
    return status;
}

// How a call refused with this status broke the calling protocol, or null.
static const char *misuse_of(OmbriStatus status) {
    static const char *const words[] = {"uninitialised", "initialised", "argument", "buffer",
                                        "infoversion",   "handle",      "diag",     "diag",
                                        "words",         "access"};
    return status >= SIM_ERR_NOT_INITIALIZED && status <= SIM_ERR_BAD_ACCESS_ID
               ? words[status - SIM_ERR_NOT_INITIALIZED]
               : nullptr;
}

void sim_log_call(unsigned long seq, SimOp op, const char *args, OmbriStatus status, int injected,
                  const char *results, const char *served_misuse) {
    if (g_sim.call_log.empty()) {
        return;
    }
    const char *misuse = injected ? nullptr : status != 0 ? misuse_of(status) : served_misuse;
    FILE *file = fopen(g_sim.call_log.c_str(), "a");
    if (file == nullptr) {
        if (!g_sim.call_log_reported) {
            g_sim.call_log_reported = 1;
            sim_report(g_sim.call_log + ": cannot open the call log");
        }
        return;
    }
    fprintf(file, "%lu %s%s%s status=%lu%s%s%s%s%s\n", seq, sim_op_name(op), args[0] ? " " : "",
            args, static_cast<unsigned long>(status), injected ? " injected" : "",
            results[0] ? " " : "", results, misuse != nullptr ? " misuse=" : "",
            misuse != nullptr ? misuse : "");
    fclose(file);
}

int sim_adapter_index(uint32_t handle) {
    auto found = g_sim.handle_index.find(handle);
    return found == g_sim.handle_index.end() ? -1 : found->second;
}

int sim_port_index(uint32_t port) {
    auto found = g_sim.port_index.find(port);
    return found == g_sim.port_index.end() ? -1 : found->second;
}

const std::vector<uint8_t> *sim_nvram_image(int index) {
    const SimAdapter &adapter = g_sim.machine.adapters[static_cast<size_t>(index)];
    SimNvramCache &cache = g_sim.nvram_cache[static_cast<size_t>(index)];
    std::string error;
    if (adapter.nvram.empty()) {
        char text[160];
        snprintf(text, sizeof text, "%s:%d: adapter %lu has no nvram= file",
                 g_sim.machine.path.c_str(), adapter.line,
                 static_cast<unsigned long>(adapter.handle));
        error = text;
    } else {
        // The copy is trusted only when its stamp was settled when taken,
        // before its read: a change after that carries another stamp.
        SimFileStamp stamp;
        int stamped = sim_file_stamp(adapter.nvram, stamp);
        if (stamped && cache.valid && cache.stamp.settled && sim_stamp_same(stamp, cache.stamp)) {
            return &cache.image;
        }
        cache.valid = 0;
        if (sim_read_file(adapter.nvram, cache.image, error) &&
            sim_nvram_check_texts(adapter.nvram, cache.image, !adapter.raw_texts, error)) {
            cache.valid = stamped;
            cache.stamp = stamp;
            g_sim.nvram_reported[static_cast<size_t>(index)].clear();
            return &cache.image;
        }
        cache.image.clear();
    }
    std::string &last = g_sim.nvram_reported[static_cast<size_t>(index)];
    if (last != error) {
        last = error;
        sim_report(error);
    }
    return nullptr;
}

void SimResetForTests() {
    g_sim = SimState{};
}

void SimSetEnvForTests(const char *name, const char *value) {
#ifdef _WIN32
    _putenv_s(name, value != nullptr ? value : ""); // an empty value removes it
#else
    if (value != nullptr) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
#endif
}
