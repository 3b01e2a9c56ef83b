// The re-read after the writes of a jumper adapter: a write-protect jumper
// (J1) in the protected position lets the tool end without changing the
// NVRAM, so the versions are read back and compared with the plan.
#include "adapter/inventory.h"
#include "base/runflags.h"
#include "output/output.h"
#include "select/plan.h"
#include "write/write.h"

namespace {

bool MajorMinorDiffer(const Version &installed, const Version &planned) {
    return installed.major != planned.major || installed.minor != planned.minor;
}

bool AnyDiffer(const Version &installed, const Version &planned) {
    return MajorMinorDiffer(installed, planned) || installed.build != planned.build;
}

void ForgetInstalledFirmware(NicFwInfo &fw) {
    fw.Flags &= ~(FW_HAS_BOOTCODE | FW_HAS_PXE | FW_HAS_CLP | FW_HAS_UMP | FW_HAS_ISCSI);
    fw.BootCodeVersion = Version{};
    fw.PxeVersion = Version{};
    fw.UmpVersion = {};
    fw.ClpVersion = {};
    fw.IscsiVersion = {};
}

void ReportFailed(const char *jumper_line) {
    Output(0, "*** ERROR *** Firmware upgrade failed!\r\n");
    Output(0, "%s", jumper_line);
    RunFlags |= RUN_HAD_ERRORS;
}

} // namespace

void VerifyUpgrade() {
    NicEntry &nic = NicTable[CurrentNic];
    NicFwInfo &fw = NicFwTable[CurrentNic];
    const UpgradePlan &plan = PlanTable[CurrentNic];
    if (!EnterDiagnosticMode(nic)) {
        return;
    }
    const bool restored = (plan.Flags & PLAN_RESTORE_CONFIRMED) != 0;
    if (restored) {
        // A restored image may lack a component that was installed before:
        // the re-read starts from nothing, so what it finds is what is there.
        ForgetInstalledFirmware(fw);
    }
    ReadInstalledFirmware(fw);
    LeaveDiagnosticMode(nic);

    if ((plan.Flags & PLAN_BC_CONFIRMED) != 0 &&
        MajorMinorDiffer(fw.BootCodeVersion, plan.BootCodeVersion)) {
        ReportFailed("Verify adapter jumper (J1) is in the write enable position\r\n");
        return;
    }
    if ((plan.Flags & PLAN_PXE_CONFIRMED) != 0 && AnyDiffer(fw.PxeVersion, plan.PxeVersion)) {
        ReportFailed("Verify adapter jumper (J1) is in the Write Enable position\r\n");
        return;
    }
    // A restored image's versions are known from its file name only; a renamed
    // one is not compared.
    if (restored && (plan.Flags & PLAN_VERSIONS_KNOWN) != 0 &&
        (MajorMinorDiffer(fw.BootCodeVersion, plan.BootCodeVersion) ||
         AnyDiffer(fw.PxeVersion, plan.PxeVersion))) {
        ReportFailed("Verify adapter jumper (J1) is in the Write Enable position\r\n");
        return;
    }
    Output(0, "** WARNING ** Replace the adapter jumper (J1) to the Write Protect position\r\n");
}
