// The backup listing of -a: one line per saved image that matches an adapter,
// with the saved image's versions and its path.
#include <initializer_list>

#include "adapter/columns.h"
#include "base/runflags.h"
#include "output/output.h"
#include "restore/restore.h"

void ListBackupImage() {
    const NicFwInfo &fw = NicFwTable[CurrentNic];
    const UpgradePlan &plan = PlanTable[CurrentNic];
    PrintAdapterIdentity(CurrentNic, fw);
    PrintVersion(plan.BootCodeVersion);
    for (const Version *v :
         {&plan.PxeVersion, &plan.UmpVersion, &plan.ClpVersion, &plan.IscsiVersion}) {
        PrintVersionColumn(*v);
    }
    Output(0, " %s \n", plan.BootCodePath);
}
