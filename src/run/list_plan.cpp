// The plan listing of -l: per adapter, the image versions the run would
// write, for the components the adapter has or the catalogue offered.
#include "adapter/columns.h"
#include "adapter/inventory.h"
#include "output/output.h"
#include "run/reports.h"
#include "select/plan.h"

namespace {

void PrintColumnIf(bool shown, const Version &v) {
    if (shown) {
        PrintVersion(v);
    } else {
        PrintNoVersion();
    }
}

} // namespace

int list_plan() {
    for (uint32_t i = 0; i < NicCount; i++) {
        const NicFwInfo &f = NicFwTable[i];
        const UpgradePlan &p = PlanTable[i];
        PrintAdapterIdentity(i, f);
        PrintColumnIf(p.BootCodeVersion.major != 0 && (f.Flags & FW_HAS_BOOTCODE) != 0,
                      p.BootCodeVersion);
        bool clp = (f.Flags & FW_HAS_CLP) != 0 || p.ClpVersion.major != 0;
        PrintColumnIf(!clp && ((p.PxeVersion.major != 0 && (f.Flags & FW_HAS_PXE) != 0) ||
                               (p.Flags & PLAN_PXE_FOUND) != 0),
                      p.PxeVersion);
        PrintColumnIf(p.UmpVersion.major != 0 && (f.Flags & FW_HAS_UMP) != 0, p.UmpVersion);
        PrintColumnIf((f.Flags & FW_HAS_CLP) != 0 || (p.Flags & PLAN_CLP_FOUND) != 0, p.ClpVersion);
        bool iscsi = (f.Flags & FW_HAS_ISCSI) != 0 || (p.Flags & PLAN_ISCSI_FOUND) != 0;
        PrintColumnIf(iscsi, p.IscsiVersion);
        PrintColumnIf(iscsi, ISCSI_STUB_VERSION);
        Output(0, " %s \n", f.Description);
    }
    return 1;
}
