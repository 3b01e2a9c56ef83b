// The inventory of supported adapter ports: asks the library for every
// physical adapter, drops the unsupported ones and fills NicTable.
#include "adapter/inventory.h"

#include <cstring>

#include "adapter/binding.h"
#include "output/output.h"
#include "base/table.h"

void ReportAdapterTablesNoMemory() {
    Output(ATTR_ERROR, "Not enough memory for the adapter tables.\r\n");
}

namespace {

bool IsSupportedKind(const NicInfo &info) {
    return (info.InfoFlags & 0x1) == 0 && info.AdapterType == ADAPTER_TYPE_SUPPORTED;
}

} // namespace

// Two passes over the adapters the library lists. The first queries each one
// and marks a dropped adapter by InfoVersion 0; the second copies the kept
// ones, in handle order, into NicTable. The temporary arrays are sized from
// the library's count and released on return; when they (or NicTable) cannot
// be had, the result is ADAPTER_OUT_OF_MEMORY with NicCount 0.
int EnumerateAdapters() {
    NicCount = 0;
    std::vector<NicEntry>().swap(NicTable);

    uint32_t count = 0;
    OmbriStatus status = OmbriGetNumPhyNicEx(&count);
    if (status != 0) {
        debug_print("OmbriGetNumPhyNicEx() failed %lu\r\n", static_cast<unsigned long>(status));
        return 0;
    }
    if (count == 0) {
        return 0;
    }

    // The largest array first, so that an absurd count fails at once.
    std::vector<NicInfo> infos;
    std::vector<NicAuxInfo> auxes;
    std::vector<uint32_t> handles;
    if (!TableCreate(infos, count) || !TableCreate(auxes, count) || !TableCreate(handles, count)) {
        ReportAdapterTablesNoMemory();
        return ADAPTER_OUT_OF_MEMORY;
    }

    status = OmbriGetAllPhyNicHandles(handles.data(), count);
    if (status != 0) {
        debug_print("OmbriGetAllPhyNicHandles() failed %lu\r\n",
                    static_cast<unsigned long>(status));
        return 0;
    }

    uint32_t kept = 0;
    for (uint32_t i = 0; i < count; i++) {
        infos[i].InfoVersion = NIC_INFO_VERSION;
        if (OmbriGetNicInfo(handles[i], &infos[i]) != 0) {
            infos[i].InfoVersion = 0;
            continue;
        }
        if (!IsSupportedKind(infos[i])) {
            continue;
        }
        auxes[i].InfoVersion = NIC_AUX_INFO_VERSION;
        if (OmbriGetNicAuxInfo(handles[i], &auxes[i]) != 0) {
            infos[i].InfoVersion = 0;
            continue;
        }
        kept++;
    }
    if (kept == 0) {
        return 0;
    }

    if (!TableCreate(NicTable, kept)) {
        ReportAdapterTablesNoMemory();
        return ADAPTER_OUT_OF_MEMORY;
    }
    uint32_t filled = 0;
    for (uint32_t i = 0; i < count && filled < kept; i++) {
        if (infos[i].InfoVersion == 0 || !IsSupportedKind(infos[i])) {
            continue;
        }
        NicEntry &entry = NicTable[filled];
        std::memcpy(&entry.Info, &infos[i], sizeof entry.Info);
        std::memcpy(&entry.Aux, &auxes[i], sizeof entry.Aux);
        // Whatever the library left in them, the two texts end inside their
        // fields: they are printed with "%s" later on.
        entry.Info.Description[sizeof entry.Info.Description - 1] = '\0';
        entry.Info.MacText[sizeof entry.Info.MacText - 1] = '\0';
        filled++;
    }
    // A block that the library marked 0 itself was counted but not copied:
    // the table holds exactly the filled entries.
    NicTable.resize(filled);
    if (filled == 0) {
        return 0;
    }
    NicCount = filled;
    return 1;
}
