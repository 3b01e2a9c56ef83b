// Machine file reader and fault parser of the simulated server.
#include "sim/common/sim_machine.h"

#include "sim/common/sim_nvram.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

static const char *const OP_NAMES[SIM_OP_COUNT] = {
    "any",
    "OmbriGetVersion",
    "OmbriInitializeEx",
    "OmbriUninitialize",
    "OmbriGetNumPhyNicEx",
    "OmbriGetAllPhyNicHandles",
    "OmbriGetNicInfo",
    "OmbriGetNicAuxInfo",
    "OmbriInitDiag",
    "OmbriUnInitDiag",
    "OmbriReadFirmware",
    "OmbriGetTernFwInfo",
};

const char *sim_op_name(SimOp op) {
    return op >= SIM_OP_ANY && op < SIM_OP_COUNT ? OP_NAMES[op] : "?";
}

// Splits a line into words at blanks; a double-quoted part (also inside a
// word, as in desc="Two words") keeps its blanks and loses its quotes.
static int split_words(const char *line, std::vector<std::string> &words, std::string &error) {
    words.clear();
    const char *p = line;
    for (;;) {
        while (*p == ' ' || *p == '\t') {
            ++p;
        }
        if (*p == '\0') {
            return 1;
        }
        std::string word;
        while (*p != '\0' && *p != ' ' && *p != '\t') {
            if (*p == '"') {
                const char *close = strchr(p + 1, '"');
                if (close == nullptr) {
                    error = "unterminated quote";
                    return 0;
                }
                word.append(p + 1, close);
                p = close + 1;
            } else {
                word.push_back(*p++);
            }
        }
        words.push_back(word);
    }
}

// Splits "key=value"; returns 0 when there is no '='.
static int split_key(const std::string &word, std::string &key, std::string &value) {
    size_t eq = word.find('=');
    if (eq == std::string::npos || eq == 0) {
        return 0;
    }
    key = word.substr(0, eq);
    value = word.substr(eq + 1);
    return 1;
}

static int parse_u32(const std::string &text, uint32_t *value) {
    unsigned long v = 0;
    if (!sim_parse_number(text.c_str(), 0xFFFFFFFFul, &v)) {
        return 0;
    }
    *value = static_cast<uint32_t>(v);
    return 1;
}

static int parse_fault_words(const std::vector<std::string> &words, size_t first, SimFault &fault,
                             std::string &error) {
    fault = SimFault{};
    if (first >= words.size()) {
        error = "fault without an operation";
        return 0;
    }
    int op = -1;
    for (int i = 0; i < SIM_OP_COUNT; ++i) {
        if (words[first] == OP_NAMES[i]) {
            op = i;
        }
    }
    if (op < 0) {
        error = "unknown operation '" + words[first] + "'";
        return 0;
    }
    fault.op = static_cast<SimOp>(op);
    int has_status = 0;
    for (size_t i = first + 1; i < words.size(); ++i) {
        std::string key, value;
        if (!split_key(words[i], key, value)) {
            error = "expected key=value, found '" + words[i] + "'";
            return 0;
        }
        uint32_t number = 0;
        if (!parse_u32(value, &number)) {
            error = "bad number in '" + words[i] + "'";
            return 0;
        }
        if (key == "status") {
            if (number == 0) {
                error = "a fault status must not be 0";
                return 0;
            }
            fault.status = number;
            has_status = 1;
        } else if (key == "exit") {
            if (number == 0 || number > 255) {
                error = "an exit code is 1 to 255 in '" + words[i] + "'";
                return 0;
            }
            fault.exit_code = number;
            has_status = 1;
        } else if (key == "adapter") {
            fault.has_adapter = 1;
            fault.adapter = number;
        } else if (key == "from" || key == "at") {
            if (number == 0) {
                error = "calls are counted from 1 in '" + words[i] + "'";
                return 0;
            }
            if (fault.from != 0 || fault.at != 0) {
                error = "a fault takes one of from= and at=";
                return 0;
            }
            (key == "from" ? fault.from : fault.at) = number;
        } else {
            error = "unknown fault key '" + key + "'";
            return 0;
        }
    }
    if (!has_status) {
        error = "fault without status= or exit=";
        return 0;
    }
    if (fault.from == 0 && fault.at == 0) {
        fault.from = 1;
    }
    return 1;
}

int sim_fault_parse(const std::string &text, SimFault &fault, std::string &error) {
    std::vector<std::string> words;
    if (!split_words(text.c_str(), words, error)) {
        return 0;
    }
    return parse_fault_words(words, 0, fault, error);
}

int sim_fault_parse_list(const std::string &text, std::vector<SimFault> &faults,
                         std::string &error) {
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string part = text.substr(start, end - start);
        if (part.find_first_not_of(" \t") != std::string::npos) {
            SimFault fault;
            if (!sim_fault_parse(part, fault, error)) {
                error = "'" + part + "': " + error;
                return 0;
            }
            faults.push_back(fault);
        }
        start = end + 1;
    }
    return 1;
}

static int is_absolute(const std::string &path) {
    if (!path.empty() && (path[0] == '/' || path[0] == '\\')) {
        return 1;
    }
    return path.size() >= 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

std::string sim_resolve_path(const std::string &machine_path, const std::string &path) {
    if (is_absolute(path)) {
        return path;
    }
    size_t slash = machine_path.find_last_of("/\\");
    if (slash == std::string::npos) {
        return path;
    }
    return machine_path.substr(0, slash + 1) + path;
}

static int parse_adapter(const SimMachine &machine, const std::vector<std::string> &words,
                         SimAdapter &adapter, std::string &error) {
    adapter = SimAdapter{};
    adapter.type = 4;
    int has_handle = 0;
    for (size_t i = 1; i < words.size(); ++i) {
        std::string key, value;
        if (!split_key(words[i], key, value)) {
            error = "expected key=value, found '" + words[i] + "'";
            return 0;
        }
        uint32_t number = 0;
        if (key == "handle" || key == "port" || key == "type" || key == "flags") {
            if (!parse_u32(value, &number) || (key == "flags" && number > 0xFF)) {
                error = "bad number in '" + words[i] + "'";
                return 0;
            }
        }
        if ((key == "handle" || key == "port") && number == 0) {
            error = key + " 0 is not a valid handle";
            return 0;
        }
        if (key == "handle") {
            for (const SimAdapter &other : machine.adapters) {
                if (other.handle == number) {
                    error = "handle " + value + " is used twice";
                    return 0;
                }
            }
            adapter.handle = number;
            has_handle = 1;
        } else if (key == "port") {
            adapter.port = number;
        } else if (key == "type") {
            adapter.type = number;
        } else if (key == "flags") {
            adapter.flags = static_cast<uint8_t>(number);
        } else if (key == "desc") {
            if (value.size() > 168) {
                error = "desc is longer than 168 characters";
                return 0;
            }
            adapter.description = value;
        } else if (key == "mac") {
            uint8_t mac[6];
            if (!sim_parse_mac(value.c_str(), mac)) {
                error = "mac must be 12 hexadecimal digits, found '" + value + "'";
                return 0;
            }
            snprintf(adapter.mac_text, sizeof adapter.mac_text, "%s", value.c_str());
            adapter.has_mac = 1;
        } else if (key == "mactext") {
            if (value.size() > 13) {
                error = "mactext is longer than 13 characters";
                return 0;
            }
            snprintf(adapter.mac_text, sizeof adapter.mac_text, "%s", value.c_str());
            adapter.has_mac = 1;
        } else if (key == "texts") {
            if (value != "strict" && value != "raw") {
                error = "texts must be strict or raw, found '" + value + "'";
                return 0;
            }
            adapter.raw_texts = value == "raw";
        } else if (key == "pci") {
            if (!sim_parse_pci(value.c_str(), adapter.pci)) {
                error = "pci must read VVVV-DDDD-SSSS-YYYY, found '" + value + "'";
                return 0;
            }
            adapter.has_pci = 1;
        } else if (key == "jumper") {
            if (value == "none") {
                adapter.jumper = SIM_JUMPER_NONE;
            } else if (value == "enable") {
                adapter.jumper = SIM_JUMPER_ENABLE;
            } else if (value == "protect") {
                adapter.jumper = SIM_JUMPER_PROTECT;
            } else {
                error = "jumper must be none, enable or protect, found '" + value + "'";
                return 0;
            }
        } else if (key == "nvram") {
            if (value.empty()) {
                error = "nvram= needs a path";
                return 0;
            }
            adapter.nvram = sim_resolve_path(machine.path, value);
        } else {
            error = "unknown adapter key '" + key + "'";
            return 0;
        }
    }
    if (!has_handle) {
        error = "adapter without handle=";
        return 0;
    }
    if (adapter.port == 0) {
        adapter.port = adapter.handle;
    }
    for (const SimAdapter &other : machine.adapters) {
        if (other.port == adapter.port) {
            error = "port handle " + std::to_string(adapter.port) + " is used twice";
            return 0;
        }
    }
    if (adapter.nvram.empty() && (!adapter.has_mac || !adapter.has_pci)) {
        error = "an adapter without nvram= needs mac= and pci=";
        return 0;
    }
    return 1;
}

static int parse_version(const std::string &text, uint32_t version[3]) {
    unsigned long v[3];
    char rest = 0;
    if (text.find_first_not_of("0123456789.") != std::string::npos ||
        sscanf(text.c_str(), "%lu.%lu.%lu%c", &v[0], &v[1], &v[2], &rest) != 3) {
        return 0;
    }
    for (int i = 0; i < 3; ++i) {
        if (v[i] > 0xFFFFFFFFul) {
            return 0;
        }
        version[i] = static_cast<uint32_t>(v[i]);
    }
    return 1;
}

static int parse_line(SimMachine &machine, const char *line, int *has_version, std::string &error) {
    std::vector<std::string> words;
    if (!split_words(line, words, error)) {
        return 0;
    }
    if (words.empty() || words[0][0] == '#') {
        return 1;
    }
    if (words[0] == "version") {
        if (*has_version) {
            error = "second version line";
            return 0;
        }
        if (words.size() != 2 || !parse_version(words[1], machine.version)) {
            error = "expected version MAJOR.MINOR.BUILD";
            return 0;
        }
        *has_version = 1;
        return 1;
    }
    if (words[0] == "count") {
        if (machine.has_count) {
            error = "second count line";
            return 0;
        }
        if (words.size() != 2 || !parse_u32(words[1], &machine.count)) {
            error = "expected count N";
            return 0;
        }
        machine.has_count = 1;
        return 1;
    }
    if (words[0] == "adapter") {
        SimAdapter adapter;
        if (!parse_adapter(machine, words, adapter, error)) {
            return 0;
        }
        machine.adapters.push_back(adapter);
        return 1;
    }
    if (words[0] == "fault") {
        SimFault fault;
        if (!parse_fault_words(words, 1, fault, error)) {
            return 0;
        }
        machine.faults.push_back(fault);
        return 1;
    }
    error = "unknown keyword '" + words[0] + "'";
    return 0;
}

int sim_machine_load(const std::string &path, SimMachine &machine, std::string &error) {
    machine = SimMachine{};
    machine.path = path;
    machine.version[0] = 7;
    machine.version[1] = 6;
    machine.version[2] = 1;
    FILE *file = fopen(path.c_str(), "r");
    if (file == nullptr) {
        error = path + ": " + strerror(errno);
        return 0;
    }
    std::string line;
    int number = 0;
    int has_version = 0;
    int ok = 1;
    int c;
    while (ok && (c = getc(file)) != EOF) {
        // One line with its real length (NUL bytes included), at most 1022
        // characters before its '\n'.
        ++number;
        line.clear();
        while (c != EOF && c != '\n') {
            if (line.size() == 1022) {
                error = "line longer than 1022 characters";
                ok = 0;
                break;
            }
            line.push_back(static_cast<char>(c));
            c = getc(file);
        }
        if (!ok || (c == EOF && ferror(file))) {
            break;
        }
        while (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.find('\0') != std::string::npos) {
            error = "NUL byte in line";
            ok = 0;
            break;
        }
        ok = parse_line(machine, line.c_str(), &has_version, error);
        if (ok && !machine.adapters.empty() && machine.adapters.back().line == 0) {
            machine.adapters.back().line = number;
        }
    }
    if (ok && ferror(file)) {
        error = "read error";
        ok = 0;
        number = 0;
    }
    fclose(file);
    if (!ok) {
        char where[32];
        snprintf(where, sizeof where, ":%d: ", number);
        error = path + (number > 0 ? where : ": ") + error;
        machine.adapters.clear();
        machine.faults.clear();
    }
    return ok;
}

const SimAdapter *sim_machine_find_mac(const SimMachine &machine, const char *mac_text) {
    uint8_t wanted[6];
    if (!sim_parse_mac(mac_text, wanted)) {
        return nullptr;
    }
    for (const SimAdapter &adapter : machine.adapters) {
        uint8_t mac[6];
        int known = 0;
        if (adapter.has_mac) {
            known = sim_parse_mac(adapter.mac_text, mac);
        } else {
            // The MAC the library serves for this adapter is the image's.
            std::vector<uint8_t> image;
            std::string error;
            if (sim_read_file(adapter.nvram, image, error) &&
                sim_nvram_check(adapter.nvram, image, error)) {
                memcpy(mac, image.data() + NVRAM_MAC_OFFSET, 6);
                known = 1;
            }
        }
        if (known && memcmp(mac, wanted, 6) == 0) {
            return &adapter;
        }
    }
    return nullptr;
}
