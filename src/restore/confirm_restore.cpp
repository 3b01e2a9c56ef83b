// The restore question: the description of the change, the verdict of the
// saved image's versions against the installed ones, and the warning and
// default that follow from it.
#include <cstdio>

#include "output/output.h"
#include "restore/restore.h"
#include "select/prompt.h"
#include "select/select.h"

namespace {

int Num(uint32_t value) {
    return static_cast<int>(value);
}

} // namespace

void RestoreChangeText(const NicFwInfo &fw, const UpgradePlan &plan, char *text, size_t size) {
    if ((plan.Flags & PLAN_BC_FOUND) == 0) {
        return; // every form names the boot code
    }
    const Version &ib = fw.BootCodeVersion;
    const Version &sb = plan.BootCodeVersion;
    if ((plan.Flags & PLAN_PXE_FOUND) != 0) {
        const Version &ip = fw.PxeVersion;
        const Version &sp = plan.PxeVersion;
        snprintf(text, size, "Boot Code %d.%d to %d.%d and PXE %d.%d.%d to %d.%d.%d", Num(ib.major),
                 Num(ib.minor), Num(sb.major), Num(sb.minor), Num(ip.major), Num(ip.minor),
                 Num(ip.build), Num(sp.major), Num(sp.minor), Num(sp.build));
    } else if ((plan.Flags & PLAN_UMP_FOUND) != 0) {
        const Version8 &iu = fw.UmpVersion;
        const Version &su = plan.UmpVersion;
        snprintf(text, size, "Boot Code %d.%d to %d.%d and UMP %d.%d to %d.%d", Num(ib.major),
                 Num(ib.minor), Num(sb.major), Num(sb.minor), Num(iu.major), Num(iu.minor),
                 Num(su.major), Num(su.minor));
    } else if ((plan.Flags & PLAN_CLP_FOUND) != 0) {
        const Version8 &ic = fw.ClpVersion;
        const Version &sc = plan.ClpVersion;
        snprintf(text, size, "Boot Code %d.%d.%d to %d.%d.%d and CLP %d.%d.%d to %d.%d.%d",
                 Num(ib.major), Num(ib.minor), Num(ib.build), Num(sb.major), Num(sb.minor),
                 Num(sb.build), Num(ic.major), Num(ic.minor), Num(ic.build), Num(sc.major),
                 Num(sc.minor), Num(sc.build));
    } else {
        snprintf(text, size, "Boot Code %d.%d.%d to %d.%d.%d", Num(ib.major), Num(ib.minor),
                 Num(ib.build), Num(sb.major), Num(sb.minor), Num(sb.build));
    }
}

int ConfirmRestore(const NicFwInfo &fw, const UpgradePlan &plan) {
    char change[RESTORE_CHANGE_TEXT_SIZE] = "";
    RestoreChangeText(fw, plan, change, sizeof change);
    char question[RESTORE_PROMPT_SIZE];
    // A change text too long for the question is cut with it (see RESTORE_PROMPT_SIZE).
    const int length = snprintf(question, sizeof question, "%s %s - ", "Restore", change);
    static_cast<void>(length >= static_cast<int>(sizeof question));

    // Boot code without its found bit is neither older nor the same.
    bool bc_older = false;
    bool bc_same = false;
    if ((plan.Flags & PLAN_BC_FOUND) != 0) {
        const int v = VersionVerdict(fw.BootCodeVersion, plan.BootCodeVersion, true);
        bc_older = v == VERDICT_NEWER;
        bc_same = v == VERDICT_SAME;
    }
    // The other components; one without its found bit counts as the same.
    struct Compared {
        uint32_t found_bit;
        Version installed;
        Version saved;
        bool major_minor_only;
    };
    const Compared others[] = {
        {PLAN_PXE_FOUND, fw.PxeVersion, plan.PxeVersion, false},
        {PLAN_UMP_FOUND, Widen(fw.UmpVersion), plan.UmpVersion, true},
        {PLAN_CLP_FOUND, Widen(fw.ClpVersion), plan.ClpVersion, true},
        {PLAN_ISCSI_FOUND, Widen(fw.IscsiVersion), plan.IscsiVersion, true},
    };
    bool other_older = false;
    bool other_same = false;
    for (const Compared &c : others) {
        const int v = (plan.Flags & c.found_bit) != 0
                          ? VersionVerdict(c.installed, c.saved, c.major_minor_only)
                          : VERDICT_SAME;
        other_older = other_older || v == VERDICT_NEWER;
        other_same = other_same || v == VERDICT_SAME;
    }

    if (bc_older || (bc_same && other_older)) {
        return PromptYesNoQuit(question, ANSWER_YES, ANSWER_YES, ANSWER_YES, "y");
    }
    if (bc_same && other_same) {
        Output(0,
               "** WARNING ** - Installed firmware is the same version as selected firmware.\r\n");
    } else {
        Output(0, "** WARNING ** - Installed firmware is more recent than selected firmware.\r\n");
    }
    return PromptYesNoQuit(question, ANSWER_NO, ANSWER_YES, ANSWER_NO, "n");
}
