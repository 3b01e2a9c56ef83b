// Process-wide state of the simulated library, shared by its operations:
// configuration loading, fault matching, the call log and error messages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "adapter/ombri.h"
#include "sim/common/sim_machine.h"

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
    std::vector<uint8_t> diag;               // per adapter: in diagnostic mode
    std::vector<std::string> nvram_reported; // per adapter: last NVRAM message printed
};

extern SimState g_sim;

// Start of every call: loads the configuration on first use, counts the call
// and returns the status of an injected fault that fires for it, else 0.
// *seq gets the call's number. handle < 0 means the operation takes none.
OmbriStatus sim_begin(SimOp op, long long handle, unsigned long *seq);

// Appends one line to the call log (when on): "<seq> <op> <args> status=<s>"
// then " injected" for an injected fault, then the results, if any.
void sim_log_call(unsigned long seq, SimOp op, const char *args, OmbriStatus status, int injected,
                  const char *results);

// Index of the adapter with this handle, or -1.
int sim_adapter_index(uint32_t handle);

// Loads and checks adapter i's NVRAM image. On failure prints one message on
// standard error (once until the message changes) and returns 0.
int sim_load_nvram(int index, std::vector<uint8_t> &image);

// One message on standard error, prefixed "ombri-sim: ".
void sim_report(const std::string &message);
