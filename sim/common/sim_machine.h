// The machine file of the simulated server: library version, the physical
// adapters in handle order, and injected faults. Read by the simulated library,
// simtool and the simulated writer tool; the format is described in
// docs/simulator.md.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Position of the write-protect jumper (J1): none when the adapter has none.
enum SimJumper { SIM_JUMPER_NONE = 0, SIM_JUMPER_ENABLE, SIM_JUMPER_PROTECT };

struct SimAdapter {
    uint32_t handle; // what OmbriGetAllPhyNicHandles lists
    uint32_t port;   // NicInfo's Handle, taken by the per-port operations
    uint32_t type;   // AdapterType
    uint8_t flags;   // InfoFlags (bit 0: not taken)
    std::string description;
    int has_mac;       // else the MAC comes from the NVRAM image
    char mac_text[14]; // up to 13 characters (mactext=): 13 leave MacText without a NUL
    int raw_texts;     // the NVRAM's version texts may fill their 32 bytes without a NUL
    int has_pci;       // else the identity comes from the NVRAM image
    uint16_t pci[4];   // vendor, device, subsystem vendor, subsystem
    SimJumper jumper;
    std::string nvram; // resolved path; empty when the adapter has no NVRAM file
    int line;          // line of the machine file
};

// The operations, numbered for fault matching and the call log.
enum SimOp {
    SIM_OP_ANY = 0,
    SIM_OP_GET_VERSION,
    SIM_OP_INITIALIZE_EX,
    SIM_OP_UNINITIALIZE,
    SIM_OP_GET_NUM_PHY_NIC_EX,
    SIM_OP_GET_ALL_PHY_NIC_HANDLES,
    SIM_OP_GET_NIC_INFO,
    SIM_OP_GET_NIC_AUX_INFO,
    SIM_OP_INIT_DIAG,
    SIM_OP_UNINIT_DIAG,
    SIM_OP_READ_FIRMWARE,
    SIM_OP_GET_TERN_FW_INFO,
    SIM_OP_COUNT
};

// One injected fault: calls of op (or of any operation) on one adapter (or on
// all) fail with status: every call (from 1), from the from-th call on, or
// only the at-th call; or, with exit=N, such a call ends the whole process at
// once with exit code N, as a library that brings its caller down. Calls are
// counted per fault, over the calls it matches.
struct SimFault {
    SimOp op;
    uint32_t status;
    int has_adapter;
    uint32_t adapter;
    unsigned long from; // 0 when at is used
    unsigned long at;   // 0 when from is used
    uint32_t exit_code; // exit=N: the call ends the process with N instead (0: not used)
};

struct SimMachine {
    std::string path;
    uint32_t version[3];
    int has_count; // OmbriGetNumPhyNicEx reports count, not the number of adapters
    uint32_t count;
    std::vector<SimAdapter> adapters;
    std::vector<SimFault> faults;
};

const char *sim_op_name(SimOp op);

// Reads a machine file. Returns 1, or 0 with one message naming the file and
// line in error.
int sim_machine_load(const std::string &path, SimMachine &machine, std::string &error);

// Parses one fault ("OmbriReadFirmware status=7 adapter=2 from=4").
int sim_fault_parse(const std::string &text, SimFault &fault, std::string &error);
// Parses faults separated by ';' (the environment form); empty parts are skipped.
int sim_fault_parse_list(const std::string &text, std::vector<SimFault> &faults,
                         std::string &error);

// A path from the machine file: absolute as given, else relative to the
// directory of the machine file.
std::string sim_resolve_path(const std::string &machine_path, const std::string &path);

// The first adapter whose MAC (the machine file's, else its NVRAM image's) is
// this text of 12 hexadecimal digits, compared without regard to case; or null.
const SimAdapter *sim_machine_find_mac(const SimMachine &machine, const char *mac_text);
