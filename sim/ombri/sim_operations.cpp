// The eleven operations of the simulated adapter library. Each one begins with
// sim_begin (configuration, call count, injected fault), checks its contract
// strictly, and changes nothing when it fails: no block is written, no state
// changes. Every call is logged with its arguments and status.
#include "sim/ombri/sim_library.h"

#include "sim/common/sim_nvram.h"
#include "sim/ombri/sim_runtime.h"

#include <cstdio>
#include <cstring>

// Filler for the block bytes the interface does not name, so that a caller who
// reads them sees something other than its own zeros.
constexpr uint8_t SIM_FILLER_INFO = 0xA5;
constexpr uint8_t SIM_FILLER_AUX = 0x5A;
constexpr uint8_t SIM_FILLER_TERN = 0xC3;

// Common checks of the per-adapter operations, after the fault check: the
// handle is a listed one (OmbriGetNicInfo, OmbriGetNicAuxInfo) or a port
// handle (the per-port operations).
static OmbriStatus check_adapter(uint32_t handle, int listed, int *index) {
    if (!g_sim.config_ok) {
        return SIM_ERR_CONFIG;
    }
    if (!g_sim.initialized) {
        return SIM_ERR_NOT_INITIALIZED;
    }
    *index = listed ? sim_adapter_index(handle) : sim_port_index(handle);
    return *index < 0 ? SIM_ERR_UNKNOWN_HANDLE : 0;
}

// The caller zero-fills a block before the call, InfoVersion apart: "block"
// when it did not, else null.
static const char *unprepared(const void *block, size_t size) {
    const uint8_t *bytes = static_cast<const uint8_t *>(block);
    for (size_t i = 4; i < size; ++i) {
        if (bytes[i] != 0) {
            return "block";
        }
    }
    return nullptr;
}

static OmbriStatus check_library() {
    if (!g_sim.config_ok) {
        return SIM_ERR_CONFIG;
    }
    return g_sim.initialized ? 0 : SIM_ERR_NOT_INITIALIZED;
}

OmbriStatus SimGetVersion(uint32_t *major, uint32_t *minor, uint32_t *build) {
    unsigned long seq;
    OmbriStatus injected = sim_begin(SIM_OP_GET_VERSION, -1, &seq);
    OmbriStatus status = injected;
    char results[64] = "";
    if (status == 0 && !g_sim.config_ok) {
        status = SIM_ERR_CONFIG;
    }
    if (status == 0 && (major == nullptr || minor == nullptr || build == nullptr)) {
        status = SIM_ERR_BAD_ARGUMENT;
    }
    if (status == 0) {
        *major = g_sim.machine.version[0];
        *minor = g_sim.machine.version[1];
        *build = g_sim.machine.version[2];
        snprintf(results, sizeof results, "version=%lu.%lu.%lu", static_cast<unsigned long>(*major),
                 static_cast<unsigned long>(*minor), static_cast<unsigned long>(*build));
    }
    sim_log_call(seq, SIM_OP_GET_VERSION, "", status, injected != 0, results);
    return status;
}

OmbriStatus SimInitializeEx(uint32_t flags) {
    unsigned long seq;
    OmbriStatus injected = sim_begin(SIM_OP_INITIALIZE_EX, -1, &seq);
    OmbriStatus status = injected;
    if (status == 0 && !g_sim.config_ok) {
        status = SIM_ERR_CONFIG;
    }
    if (status == 0 && g_sim.initialized) {
        status = SIM_ERR_ALREADY_INITIALIZED;
    }
    if (status == 0 && flags != 0) {
        status = SIM_ERR_BAD_ARGUMENT;
    }
    if (status == 0) {
        g_sim.initialized = 1;
        g_sim.diag.assign(g_sim.machine.adapters.size(), 0);
    }
    char args[32];
    snprintf(args, sizeof args, "flags=%lu", static_cast<unsigned long>(flags));
    sim_log_call(seq, SIM_OP_INITIALIZE_EX, args, status, injected != 0, "");
    return status;
}

OmbriStatus SimUninitialize() {
    unsigned long seq;
    OmbriStatus injected = sim_begin(SIM_OP_UNINITIALIZE, -1, &seq);
    OmbriStatus status = injected != 0 ? injected : check_library();
    if (status == 0) {
        g_sim.initialized = 0;
        g_sim.diag.assign(g_sim.machine.adapters.size(), 0);
    }
    sim_log_call(seq, SIM_OP_UNINITIALIZE, "", status, injected != 0, "");
    return status;
}

OmbriStatus SimGetNumPhyNicEx(uint32_t *count) {
    unsigned long seq;
    OmbriStatus injected = sim_begin(SIM_OP_GET_NUM_PHY_NIC_EX, -1, &seq);
    OmbriStatus status = injected != 0 ? injected : check_library();
    char results[32] = "";
    if (status == 0 && count == nullptr) {
        status = SIM_ERR_BAD_ARGUMENT;
    }
    if (status == 0) {
        *count = g_sim.machine.has_count ? g_sim.machine.count
                                         : static_cast<uint32_t>(g_sim.machine.adapters.size());
        snprintf(results, sizeof results, "count=%lu", static_cast<unsigned long>(*count));
    }
    sim_log_call(seq, SIM_OP_GET_NUM_PHY_NIC_EX, "", status, injected != 0, results);
    return status;
}

OmbriStatus SimGetAllPhyNicHandles(uint32_t *handles, uint32_t count) {
    unsigned long seq;
    OmbriStatus injected = sim_begin(SIM_OP_GET_ALL_PHY_NIC_HANDLES, -1, &seq);
    OmbriStatus status = injected != 0 ? injected : check_library();
    const std::vector<SimAdapter> &adapters = g_sim.machine.adapters;
    if (status == 0 && handles == nullptr) {
        status = SIM_ERR_BAD_ARGUMENT;
    }
    if (status == 0 && count < adapters.size()) {
        status = SIM_ERR_BUFFER_TOO_SMALL;
    }
    std::string results;
    if (status == 0) {
        results = "handles=";
        for (size_t i = 0; i < adapters.size(); ++i) {
            handles[i] = adapters[i].handle;
            char one[16];
            snprintf(one, sizeof one, "%s%lu", i ? "," : "",
                     static_cast<unsigned long>(adapters[i].handle));
            results += one;
        }
    }
    char args[32];
    snprintf(args, sizeof args, "length=%lu", static_cast<unsigned long>(count));
    sim_log_call(seq, SIM_OP_GET_ALL_PHY_NIC_HANDLES, args, status, injected != 0, results.c_str());
    return status;
}

OmbriStatus SimGetNicInfo(uint32_t handle, NicInfo *info) {
    unsigned long seq;
    OmbriStatus injected = sim_begin(SIM_OP_GET_NIC_INFO, handle, &seq);
    int index = -1;
    OmbriStatus status = injected != 0 ? injected : check_adapter(handle, 1, &index);
    if (status == 0 && info == nullptr) {
        status = SIM_ERR_BAD_ARGUMENT;
    }
    if (status == 0 && info->InfoVersion != NIC_INFO_VERSION) {
        status = SIM_ERR_BAD_INFO_VERSION;
    }
    SimAdapter adapter;
    if (status == 0) {
        adapter = g_sim.machine.adapters[static_cast<size_t>(index)];
        if (!adapter.has_mac || !adapter.has_pci) {
            // The identity the machine file leaves out is the NVRAM's.
            const std::vector<uint8_t> *image = sim_nvram_image(index);
            if (image == nullptr) {
                status = SIM_ERR_NVRAM_FILE;
            } else {
                const uint8_t *p = image->data();
                if (!adapter.has_mac) {
                    const uint8_t *m = p + NVRAM_MAC_OFFSET;
                    snprintf(adapter.mac_text, sizeof adapter.mac_text, "%02X%02X%02X%02X%02X%02X",
                             m[0], m[1], m[2], m[3], m[4], m[5]);
                }
                if (!adapter.has_pci) {
                    adapter.pci[0] = sim_get_be16(p + NVRAM_VENDOR_ID_OFFSET);
                    adapter.pci[1] = sim_get_be16(p + NVRAM_DEVICE_ID_OFFSET);
                    adapter.pci[2] = sim_get_be16(p + NVRAM_SUBSYSTEM_VENDOR_ID_OFFSET);
                    adapter.pci[3] = sim_get_be16(p + NVRAM_SUBSYSTEM_ID_OFFSET);
                }
            }
        }
    }
    char args[48];
    snprintf(args, sizeof args, "handle=%lu version=%lu", static_cast<unsigned long>(handle),
             static_cast<unsigned long>(info != nullptr ? info->InfoVersion : 0));
    const char *misuse = nullptr;
    if (status == 0) {
        misuse = unprepared(info, sizeof *info);
        memset(reinterpret_cast<uint8_t *>(info) + 4, SIM_FILLER_INFO, sizeof(NicInfo) - 4);
        info->InfoFlags = adapter.flags;
        info->AdapterType = adapter.type;
        info->Handle = adapter.port;
        memset(info->Description, 0, sizeof info->Description);
        memcpy(info->Description, adapter.description.c_str(), adapter.description.size());
        memcpy(info->MacText, adapter.mac_text, sizeof info->MacText);
        info->VendorId = adapter.pci[0];
        info->DeviceId = adapter.pci[1];
        info->SubsystemVendorId = adapter.pci[2];
        info->SubsystemId = adapter.pci[3];
    }
    sim_log_call(seq, SIM_OP_GET_NIC_INFO, args, status, injected != 0, "", misuse);
    return status;
}

OmbriStatus SimGetNicAuxInfo(uint32_t handle, NicAuxInfo *aux) {
    unsigned long seq;
    OmbriStatus injected = sim_begin(SIM_OP_GET_NIC_AUX_INFO, handle, &seq);
    int index = -1;
    OmbriStatus status = injected != 0 ? injected : check_adapter(handle, 1, &index);
    if (status == 0 && aux == nullptr) {
        status = SIM_ERR_BAD_ARGUMENT;
    }
    if (status == 0 && aux->InfoVersion != NIC_AUX_INFO_VERSION) {
        status = SIM_ERR_BAD_INFO_VERSION;
    }
    char args[48];
    snprintf(args, sizeof args, "handle=%lu version=%lu", static_cast<unsigned long>(handle),
             static_cast<unsigned long>(aux != nullptr ? aux->InfoVersion : 0));
    const char *misuse = nullptr;
    if (status == 0) {
        // The listed handle leads the block, so blocks that change places show.
        misuse = unprepared(aux, sizeof *aux);
        memset(aux->Reserved4, SIM_FILLER_AUX, sizeof aux->Reserved4);
        for (int i = 0; i < 4; ++i) {
            aux->Reserved4[i] = static_cast<uint8_t>(handle >> (8 * i));
        }
    }
    sim_log_call(seq, SIM_OP_GET_NIC_AUX_INFO, args, status, injected != 0, "", misuse);
    return status;
}

OmbriStatus SimInitDiag(uint32_t handle) {
    unsigned long seq;
    OmbriStatus injected = sim_begin(SIM_OP_INIT_DIAG, handle, &seq);
    int index = -1;
    OmbriStatus status = injected != 0 ? injected : check_adapter(handle, 0, &index);
    if (status == 0 && g_sim.diag[static_cast<size_t>(index)]) {
        status = SIM_ERR_ALREADY_IN_DIAG;
    }
    if (status == 0) {
        g_sim.diag[static_cast<size_t>(index)] = 1;
    }
    char args[32];
    snprintf(args, sizeof args, "handle=%lu", static_cast<unsigned long>(handle));
    sim_log_call(seq, SIM_OP_INIT_DIAG, args, status, injected != 0, "");
    return status;
}

OmbriStatus SimUnInitDiag(uint32_t handle) {
    unsigned long seq;
    OmbriStatus injected = sim_begin(SIM_OP_UNINIT_DIAG, handle, &seq);
    int index = -1;
    OmbriStatus status = injected != 0 ? injected : check_adapter(handle, 0, &index);
    if (status == 0 && !g_sim.diag[static_cast<size_t>(index)]) {
        status = SIM_ERR_NOT_IN_DIAG;
    }
    if (status == 0) {
        g_sim.diag[static_cast<size_t>(index)] = 0;
    }
    char args[32];
    snprintf(args, sizeof args, "handle=%lu", static_cast<unsigned long>(handle));
    sim_log_call(seq, SIM_OP_UNINIT_DIAG, args, status, injected != 0, "");
    return status;
}

OmbriStatus SimReadFirmware(uint32_t handle, uint32_t offset, void *buffer, uint32_t words,
                            const char *access_id) {
    unsigned long seq;
    OmbriStatus injected = sim_begin(SIM_OP_READ_FIRMWARE, handle, &seq);
    int index = -1;
    OmbriStatus status = injected != 0 ? injected : check_adapter(handle, 0, &index);
    // The identifier is compared over its 38 characters and the NUL; strncmp
    // never reads past a shorter text's NUL.
    const char *access = access_id == nullptr                           ? "null"
                         : strncmp(access_id, OMBRI_ACCESS_ID, 39) == 0 ? "ok"
                                                                        : "bad";
    if (status == 0 && buffer == nullptr) {
        status = SIM_ERR_BAD_ARGUMENT;
    }
    if (status == 0 && access[0] != 'o') {
        status = SIM_ERR_BAD_ACCESS_ID;
    }
    if (status == 0 && words != 1) {
        status = SIM_ERR_BAD_WORD_COUNT;
    }
    if (status == 0 && !g_sim.diag[static_cast<size_t>(index)]) {
        status = SIM_ERR_NOT_IN_DIAG;
    }
    if (status == 0 && offset % 4 != 0) {
        status = SIM_ERR_UNALIGNED;
    }
    const std::vector<uint8_t> *image = nullptr;
    if (status == 0 && (image = sim_nvram_image(index)) == nullptr) {
        status = SIM_ERR_NVRAM_FILE;
    }
    if (status == 0 && (offset >= image->size() || image->size() - offset < 4)) {
        status = SIM_ERR_OUT_OF_RANGE;
    }
    char results[32] = "";
    if (status == 0) {
        memcpy(buffer, image->data() + offset, 4);
        snprintf(results, sizeof results, "data=0x%08lX",
                 static_cast<unsigned long>(sim_get_be32(image->data() + offset)));
    }
    char args[96];
    snprintf(args, sizeof args, "handle=%lu offset=0x%lX words=%lu access=%s",
             static_cast<unsigned long>(handle), static_cast<unsigned long>(offset),
             static_cast<unsigned long>(words), access);
    sim_log_call(seq, SIM_OP_READ_FIRMWARE, args, status, injected != 0, results);
    return status;
}

OmbriStatus SimGetTernFwInfo(uint32_t handle, TernFwInfo *info) {
    unsigned long seq;
    OmbriStatus injected = sim_begin(SIM_OP_GET_TERN_FW_INFO, handle, &seq);
    int index = -1;
    OmbriStatus status = injected != 0 ? injected : check_adapter(handle, 0, &index);
    if (status == 0 && info == nullptr) {
        status = SIM_ERR_BAD_ARGUMENT;
    }
    if (status == 0 && info->InfoVersion != TERN_FW_INFO_VERSION) {
        status = SIM_ERR_BAD_INFO_VERSION;
    }
    const std::vector<uint8_t> *image = nullptr;
    if (status == 0 && (image = sim_nvram_image(index)) == nullptr) {
        status = SIM_ERR_NVRAM_FILE;
    }
    char args[48];
    snprintf(args, sizeof args, "handle=%lu version=%lu", static_cast<unsigned long>(handle),
             static_cast<unsigned long>(info != nullptr ? info->InfoVersion : 0));
    const char *misuse = nullptr;
    if (status == 0) {
        // Served outside diagnostic mode too, but the callers ask inside it.
        misuse = unprepared(info, sizeof *info);
        if (misuse == nullptr && !g_sim.diag[static_cast<size_t>(index)]) {
            misuse = "diag";
        }
        static_assert(sizeof info->BootCodeVersionText == SIM_NV_TEXT_SIZE, "text size");
        memcpy(info->BootCodeVersionText, image->data() + SIM_NV_BOOTCODE_TEXT_OFFSET,
               SIM_NV_TEXT_SIZE);
        memcpy(info->PreBootVersionText, image->data() + SIM_NV_PREBOOT_TEXT_OFFSET,
               SIM_NV_TEXT_SIZE);
        memcpy(info->UmpVersionText, image->data() + SIM_NV_UMP_TEXT_OFFSET, SIM_NV_TEXT_SIZE);
        memset(info->Reserved100, SIM_FILLER_TERN, sizeof info->Reserved100);
    }
    sim_log_call(seq, SIM_OP_GET_TERN_FW_INFO, args, status, injected != 0, "", misuse);
    return status;
}
