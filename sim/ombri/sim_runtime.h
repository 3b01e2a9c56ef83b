// Process-wide state of the simulated library, shared by its operations:
// configuration loading, fault matching, the call log and error messages.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "adapter/ombri.h"
#include "sim/common/sim_files.h"
#include "sim/common/sim_machine.h"

// One adapter's NVRAM image as last read, with the stamp of the file it came
// from; read again when the file's stamp changes or was not settled.
struct SimNvramCache {
    int valid;
    SimFileStamp stamp;
    std::vector<uint8_t> image;
};

struct SimState {
    int loaded;    // environment and machine file read
    int config_ok; // both usable
    SimMachine machine;
    std::vector<SimFault> faults;           // OMBRI_SIM_FAULTS first, then the machine file's
    std::vector<unsigned long> fault_calls; // calls each fault has matched so far
    std::string call_log;                   // path, empty when off
    int call_log_reported;
    unsigned long calls; // library calls so far, of any kind
    int initialized;
    std::vector<uint8_t> diag;                      // per adapter: in diagnostic mode
    std::vector<std::string> nvram_reported;        // per adapter: last NVRAM message printed
    std::vector<SimNvramCache> nvram_cache;         // per adapter
    std::unordered_map<uint32_t, int> handle_index; // listed handle -> adapter index
    std::unordered_map<uint32_t, int> port_index;   // port handle -> adapter index
};

extern SimState g_sim;

// Start of every call: loads the configuration on first use, counts the call
// and returns the status of an injected fault that fires for it, else 0.
// *seq gets the call's number. handle < 0 means the operation takes none.
OmbriStatus sim_begin(SimOp op, long long handle, unsigned long *seq);

// Appends one line to the call log (when on): "<seq> <op> <args> status=<s>"
// then " injected" for an injected fault, then the results, if any, then
// " misuse=<what>" for a call that broke the calling protocol: refused with
// one of the statuses 101 to 110, or served although it broke it (served_misuse
// names how; null otherwise). Injected calls are not judged.
void sim_log_call(unsigned long seq, SimOp op, const char *args, OmbriStatus status, int injected,
                  const char *results, const char *served_misuse = nullptr);

// Index of the adapter with this listed handle (OmbriGetNicInfo,
// OmbriGetNicAuxInfo), or -1.
int sim_adapter_index(uint32_t handle);
// Index of the adapter with this port handle (the per-port operations), or -1.
int sim_port_index(uint32_t port);

// Adapter i's NVRAM image, checked; read from its file only when the file
// changed since the last read. On failure prints one message on standard
// error (once until the message changes) and returns null.
const std::vector<uint8_t> *sim_nvram_image(int index);

// One message on standard error, prefixed "ombri-sim: ".
void sim_report(const std::string &message);
