// Fuzz target: the simulated server's machine file, read from a file holding
// the input, and the input up to its first NUL as the environment's fault
// list. No file with a NUL byte loads. A machine that loads holds only
// adapters and faults the reader promises; written out again in the file's own
// syntax it loads the same. A fault list that parses does so again fault by
// fault.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "scratch.h"
#include "sim/common/sim_machine.h"
#include "sim/common/sim_nvram.h"

namespace {

const char *const kJumpers[] = {"none", "enable", "protect"};

bool ValidFault(const SimFault &fault) {
    return fault.op >= SIM_OP_ANY && fault.op < SIM_OP_COUNT && fault.status != 0 &&
           (fault.from == 0) != (fault.at == 0);
}

bool SameFault(const SimFault &a, const SimFault &b) {
    return a.op == b.op && a.status == b.status && a.has_adapter == b.has_adapter &&
           (!a.has_adapter || a.adapter == b.adapter) && a.from == b.from && a.at == b.at;
}

std::string FaultText(const SimFault &fault) {
    std::string text = sim_op_name(fault.op);
    text += " status=" + std::to_string(fault.status);
    if (fault.has_adapter) {
        text += " adapter=" + std::to_string(fault.adapter);
    }
    text +=
        fault.at != 0 ? " at=" + std::to_string(fault.at) : " from=" + std::to_string(fault.from);
    return text;
}

bool SameAdapter(const SimAdapter &a, const SimAdapter &b) {
    return a.handle == b.handle && a.type == b.type && a.flags == b.flags &&
           a.description == b.description && a.has_mac == b.has_mac &&
           (!a.has_mac || strcmp(a.mac_text, b.mac_text) == 0) && a.has_pci == b.has_pci &&
           (!a.has_pci || memcmp(a.pci, b.pci, sizeof a.pci) == 0) && a.jumper == b.jumper &&
           a.nvram == b.nvram;
}

// One adapter line; values that a quoted word cannot hold never load.
std::string AdapterLine(const SimAdapter &adapter) {
    std::string line = "adapter handle=" + std::to_string(adapter.handle) +
                       " type=" + std::to_string(adapter.type) +
                       " flags=" + std::to_string(adapter.flags) + " desc=\"" +
                       adapter.description + "\" jumper=" + kJumpers[adapter.jumper];
    if (adapter.has_mac) {
        line += std::string(" mac=") + adapter.mac_text;
    }
    if (adapter.has_pci) {
        char pci[32];
        snprintf(pci, sizeof pci, " pci=%04X-%04X-%04X-%04X", adapter.pci[0], adapter.pci[1],
                 adapter.pci[2], adapter.pci[3]);
        line += pci;
    }
    if (!adapter.nvram.empty()) {
        line += " nvram=\"" + adapter.nvram + "\"";
    }
    return line;
}

void WriteFile(const std::string &path, const void *data, size_t size) {
    FILE *f = fopen(path.c_str(), "wb");
    if (f == nullptr || (size > 0 && fwrite(data, 1, size, f) != size) || fclose(f) != 0) {
        abort();
    }
}

void CheckMachine(const std::string &path, const uint8_t *data, size_t size) {
    WriteFile(path, data, size);
    SimMachine machine;
    std::string error;
    if (!sim_machine_load(path, machine, error)) {
        if (error.compare(0, path.size(), path) != 0 || !machine.adapters.empty() ||
            !machine.faults.empty()) {
            abort(); // one message naming the file, nothing half loaded
        }
        return;
    }
    if (memchr(data, '\0', size) != nullptr) {
        abort(); // a NUL byte anywhere makes its line, and so the file, unusable
    }
    std::vector<std::string> lines;
    char version[64];
    snprintf(version, sizeof version, "version %lu.%lu.%lu",
             static_cast<unsigned long>(machine.version[0]),
             static_cast<unsigned long>(machine.version[1]),
             static_cast<unsigned long>(machine.version[2]));
    lines.push_back(version);
    int last_line = 0;
    for (size_t i = 0; i < machine.adapters.size(); ++i) {
        const SimAdapter &adapter = machine.adapters[i];
        uint8_t mac[6];
        // A description may fill the library's field of 168 bytes, leaving no NUL.
        if (adapter.handle == 0 || adapter.line <= last_line || adapter.description.size() > 168 ||
            adapter.jumper < SIM_JUMPER_NONE || adapter.jumper > SIM_JUMPER_PROTECT ||
            (adapter.has_mac && !sim_parse_mac(adapter.mac_text, mac)) ||
            (adapter.nvram.empty() && (!adapter.has_mac || !adapter.has_pci))) {
            abort();
        }
        for (size_t j = 0; j < i; ++j) {
            if (machine.adapters[j].handle == adapter.handle) {
                abort();
            }
        }
        last_line = adapter.line;
        lines.push_back(AdapterLine(adapter));
    }
    for (const SimFault &fault : machine.faults) {
        if (!ValidFault(fault)) {
            abort();
        }
        lines.push_back("fault " + FaultText(fault));
    }

    // Written out again it reads the same, unless a line grew past the
    // limit (every key is written, defaults too).
    std::string text;
    for (const std::string &line : lines) {
        if (line.size() > 1022) {
            return;
        }
        text += line + "\n";
    }
    const std::string again_path = "again.txt";
    WriteFile(again_path, text.data(), text.size());
    SimMachine again;
    if (!sim_machine_load(again_path, again, error) ||
        memcmp(again.version, machine.version, sizeof machine.version) != 0 ||
        again.adapters.size() != machine.adapters.size() ||
        again.faults.size() != machine.faults.size()) {
        abort();
    }
    for (size_t i = 0; i < machine.adapters.size(); ++i) {
        if (!SameAdapter(again.adapters[i], machine.adapters[i])) {
            abort();
        }
    }
    for (size_t i = 0; i < machine.faults.size(); ++i) {
        if (!SameFault(again.faults[i], machine.faults[i])) {
            abort();
        }
    }
}

void CheckFaultList(const std::string &text) {
    std::vector<SimFault> faults;
    std::string error;
    if (!sim_fault_parse_list(text, faults, error)) {
        if (error.empty()) {
            abort();
        }
        return;
    }
    size_t parts = 1;
    for (char c : text) {
        parts += c == ';' ? 1 : 0;
    }
    if (faults.size() > parts) {
        abort();
    }
    for (const SimFault &fault : faults) {
        SimFault again;
        if (!ValidFault(fault) || !sim_fault_parse(FaultText(fault), again, error) ||
            !SameFault(again, fault)) {
            abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    EnterScratchDirectory();
    CheckMachine("machine.txt", data, size);
    const char *text = reinterpret_cast<const char *>(data);
    CheckFaultList(std::string(text, strnlen(text, size)));
    return 0;
}
