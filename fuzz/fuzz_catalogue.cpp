// Fuzz target: arbitrary bytes as every catalogue file, scanned for one adapter
// by the six selection routines under a run mode chosen by the first byte. The
// plan must stay consistent and every path text terminated within its field.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "scratch.h"
#include "adapter/firmware.h"
#include "adapter/inventory.h"
#include "output/output.h"
#include "run/runflags.h"
#include "select/plan.h"
#include "select/select.h"

namespace {

const char *const kCatalogues[] = {"NIC_FW/Boot_Code/BC.config", "NIC_FW/PXE/MFPXE.config",
                                   "NIC_FW/UMP/UMP.config",      "NIC_FW/CLP/CLP.config",
                                   "NIC_FW/iSCSI/iSCSI.config",  "NIC_FW/iSCSI/iSCSI_stub.config"};

const uint32_t kModes[] = {
    RUN_SILENT, RUN_SILENT | RUN_FORCE,           RUN_ADVISE_ONLY,
    RUN_LIST,   RUN_SILENT | RUN_ONLY_ISCSI_STUB, RUN_SILENT | RUN_FORCE | RUN_ONLY_ISCSI_STUB};

void Setup() {
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    EnterScratchDirectory();
    for (const char *sub : {"Boot_Code", "PXE", "UMP", "CLP", "iSCSI"}) {
        std::filesystem::create_directories(std::string("NIC_FW/") + sub);
    }
    if (freopen("/dev/null", "w", stdout) == nullptr) {
        abort();
    }
}

bool Terminated(const char *text, size_t size) {
    return memchr(text, '\0', size) != nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Setup();
    if (size < 2) {
        return 0;
    }
    for (const char *path : kCatalogues) {
        FILE *f = fopen(path, "wb");
        fwrite(data + 2, 1, size - 2, f);
        fclose(f);
    }
    RunFlags = kModes[data[0] % (sizeof kModes / sizeof kModes[0])];
    NicEntry nic{};
    snprintf(nic.Info.Description, sizeof nic.Info.Description, "%s", "Fuzzed Adapter");
    snprintf(nic.Info.MacText, sizeof nic.Info.MacText, "%s", "0A1B2C3D4E5F");
    NicFwInfo fw{};
    fw.Flags = data[1] & (FW_HAS_PXE | FW_HAS_BOOTCODE | FW_HAS_UMP | FW_HAS_CLP | FW_HAS_ISCSI);
    fw.VendorId = 0x1234;
    fw.DeviceId = 0xABCD;
    fw.SubsystemVendorId = 0x5678;
    fw.SubsystemId = 0x0001;
    fw.BootCodeVersion = Version{5, 0, 3};
    fw.UmpVersion = Version8{2, 0, 1};
    NicTable.assign(1, nic);
    NicFwTable.assign(1, fw);
    PlanTable.assign(1, UpgradePlan{});
    NicCount = 1;
    CurrentNic = 0;

    SelectBootCode();
    SelectCLP();
    SelectPXE();
    SelectUMP();
    SelectiSCSI();
    SelectiSCSIstub();

    const UpgradePlan &plan = PlanTable[0];
    const uint32_t pairs[][2] = {{PLAN_BC_FOUND, PLAN_BC_CONFIRMED},
                                 {PLAN_PXE_FOUND, PLAN_PXE_CONFIRMED},
                                 {PLAN_UMP_FOUND, PLAN_UMP_CONFIRMED},
                                 {PLAN_CLP_FOUND, PLAN_CLP_CONFIRMED},
                                 {PLAN_ISCSI_FOUND, PLAN_ISCSI_CONFIRMED},
                                 {PLAN_ISCSI_STUB_FOUND, PLAN_ISCSI_STUB_CONFIRMED}};
    for (const auto &pair : pairs) {
        if ((plan.Flags & pair[1]) != 0 && (plan.Flags & pair[0]) == 0) {
            abort(); // confirmed without found
        }
    }
    if ((plan.Flags & PLAN_CLP_CONFIRMED) != 0 && (plan.Flags & PLAN_PXE_FOUND) != 0) {
        abort(); // PXE is not selected once CLP is confirmed
    }
    if ((RunFlags & (RUN_LIST | RUN_ADVISE_ONLY)) != 0 &&
        (plan.Flags & (PLAN_BC_CONFIRMED | PLAN_PXE_CONFIRMED | PLAN_UMP_CONFIRMED |
                       PLAN_CLP_CONFIRMED | PLAN_ISCSI_CONFIRMED | PLAN_ISCSI_STUB_CONFIRMED)) !=
            0) {
        abort(); // list and advise-only runs confirm nothing
    }
    if (!Terminated(plan.BootCodePath, sizeof plan.BootCodePath) ||
        !Terminated(plan.PxePath, sizeof plan.PxePath) ||
        !Terminated(plan.UmpPath, sizeof plan.UmpPath) ||
        !Terminated(plan.ClpPath, sizeof plan.ClpPath) ||
        !Terminated(plan.IscsiPath, sizeof plan.IscsiPath) ||
        !Terminated(plan.IscsiStubPath, sizeof plan.IscsiStubPath)) {
        abort();
    }
    return 0;
}
