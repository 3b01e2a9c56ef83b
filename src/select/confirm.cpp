// The selection rule of each component: the version verdict, the warnings, and
// the question to the operator (or the decision of a silent or advise-only run).
#include <cstdio>

#include "output/output.h"
#include "base/runflags.h"
#include "select/plan.h"
#include "select/prompt.h"
#include "select/select.h"

namespace {

// "Update" plus the widest version text, with room to spare.
constexpr size_t VERSION_TEXT_SIZE = 128;
constexpr size_t QUESTION_SIZE = 160;

void FormatVersionText(int component, const Version &i, const Version &s, char *buf, size_t size) {
    const int im = static_cast<int>(i.major), in = static_cast<int>(i.minor),
              ib = static_cast<int>(i.build);
    const int sm = static_cast<int>(s.major), sn = static_cast<int>(s.minor),
              sb = static_cast<int>(s.build);
    switch (component) {
    case COMPONENT_BOOTCODE:
        snprintf(buf, size, "Boot Code %d.%d.%d to %d.%d.%d", im, in, ib, sm, sn, sb);
        break;
    case COMPONENT_PXE:
        snprintf(buf, size, "PXE %d.%d.%d to %d.%d.%d", im, in, ib, sm, sn, sb);
        break;
    case COMPONENT_UMP:
        snprintf(buf, size, "UMP %d.%d.%d to %d.%d.%d", im, in, ib, sm, sn, sb);
        break;
    case COMPONENT_CLP:
        snprintf(buf, size, "CLP %d.%d.%d to %d.%d.%d", im, in, ib, sm, sn, sb);
        break;
    default: // iSCSI and the iSCSI stub share the iSCSI text
        snprintf(buf, size, "iSCSI %d.%d.%d to %d.%d.%d", im, in, ib, sm, sn, sb);
        break;
    }
}

void PrintSameWarning(int component) {
    switch (component) {
    case COMPONENT_BOOTCODE:
        Output(0, "** WARNING ** - Installed Boot Code is the same version as selected Boot "
                  "Code.\r\n");
        break;
    case COMPONENT_PXE:
        Output(0, "** WARNING ** - Installed PXE is the same version as selected PXE.\r\n");
        break;
    case COMPONENT_UMP:
        Output(0, "** WARNING ** - Installed UMP is the same version as selected UMP.\r\n");
        break;
    case COMPONENT_CLP:
        Output(0, "** WARNING ** - Installed CLP is the same version as selected CLP.\r\n");
        break;
    case COMPONENT_ISCSI:
        Output(0, "** WARNING ** - Installed iSCSI is the same version as selected iSCSI.\r\n");
        break;
    default:
        Output(0, "** WARNING ** - Installed iSCSI stub is the same version as selected iSCSI "
                  "stub.\r\n");
        break;
    }
}

void PrintOlderWarning(int component) {
    switch (component) {
    case COMPONENT_BOOTCODE:
        Output(0, "** WARNING ** - Installed Boot Code is more recent than selected Boot "
                  "Code.\r\n");
        break;
    case COMPONENT_PXE:
        Output(0, "** WARNING ** - Installed PXE is more recent than selected PXE.\r\n");
        break;
    case COMPONENT_CLP:
        Output(0, "** WARNING ** - Installed CLP is more recent than selected CLP.\r\n");
        break;
    case COMPONENT_ISCSI:
        Output(0, "** WARNING ** - Installed iSCSI is more recent than selected iSCSI.\r\n");
        break;
    default: // the iSCSI stub; UMP has its own rule
        Output(0, "** WARNING ** - Installed iSCSI is more recent than selected iSCSI stub.\r\n");
        break;
    }
}

// An older UMP image is never written. The warnings go to the log only, and a
// forced run that would have taken it ends with errors.
int RefuseOlderUmp(const char *question) {
    const uint32_t was_silent = RunFlags & RUN_SILENT;
    RunFlags |= RUN_SILENT;
    Output(0, "** WARNING ** - Installed UMP is more recent than selected UMP.\r\n");
    Output(0, "** WARNING ** - Installation of an older UMP version is not allowed.\r\n");
    if (PromptYesNoQuit(question, ANSWER_NO, ANSWER_YES, ANSWER_NO, "n") == ANSWER_YES) {
        RunFlags |= RUN_HAD_ERRORS;
    }
    RunFlags = (RunFlags & ~RUN_SILENT) | was_silent;
    return ANSWER_NO;
}

int ConfirmComponent(int component, const Version &installed, const Version &selected) {
    char version_text[VERSION_TEXT_SIZE];
    FormatVersionText(component, installed, selected, version_text, sizeof version_text);
    char question[QUESTION_SIZE];
    snprintf(question, sizeof question, "%s %s - ", "Update", version_text);

    const int verdict = VersionVerdict(installed, selected, component == COMPONENT_CLP);
    if ((RunFlags & RUN_ADVISE_ONLY) != 0) {
        RunFlags |= verdict == VERDICT_NEWER  ? RUN_ADVISE_NEWER
                    : verdict == VERDICT_SAME ? RUN_ADVISE_SAME
                                              : RUN_ADVISE_OLDER;
        return ANSWER_NO;
    }
    if (verdict == VERDICT_NEWER) {
        return PromptYesNoQuit(question, ANSWER_YES, ANSWER_YES, ANSWER_YES, "y");
    }
    if (verdict == VERDICT_SAME) {
        PrintSameWarning(component);
    } else if (component == COMPONENT_UMP) {
        return RefuseOlderUmp(question);
    } else {
        PrintOlderWarning(component);
    }
    return PromptYesNoQuit(question, ANSWER_NO, ANSWER_YES, ANSWER_NO, "n");
}

} // namespace

int VersionVerdict(const Version &installed, const Version &selected, bool major_minor_only) {
    if (installed.major != selected.major) {
        return installed.major < selected.major ? VERDICT_NEWER : VERDICT_OLDER;
    }
    if (installed.minor != selected.minor) {
        return installed.minor < selected.minor ? VERDICT_NEWER : VERDICT_OLDER;
    }
    if (major_minor_only || installed.build == selected.build) {
        return VERDICT_SAME;
    }
    return installed.build < selected.build ? VERDICT_NEWER : VERDICT_OLDER;
}

int ConfirmBootCode(const NicFwInfo &fw, const UpgradePlan &plan) {
    return ConfirmComponent(COMPONENT_BOOTCODE, fw.BootCodeVersion, plan.BootCodeVersion);
}

int ConfirmPXE(const NicFwInfo &fw, const UpgradePlan &plan) {
    return ConfirmComponent(COMPONENT_PXE, fw.PxeVersion, plan.PxeVersion);
}

int ConfirmUMP(const NicFwInfo &fw, const UpgradePlan &plan) {
    return ConfirmComponent(COMPONENT_UMP, Widen(fw.UmpVersion), plan.UmpVersion);
}

int ConfirmCLP(const NicFwInfo &fw, const UpgradePlan &plan) {
    return ConfirmComponent(COMPONENT_CLP, Widen(fw.ClpVersion), plan.ClpVersion);
}

int ConfirmiSCSI(const NicFwInfo &fw, const UpgradePlan &plan) {
    return ConfirmComponent(COMPONENT_ISCSI, Widen(fw.IscsiVersion), plan.IscsiVersion);
}

int ConfirmiSCSIstub(const NicFwInfo &fw, const UpgradePlan &plan) {
    return ConfirmComponent(COMPONENT_ISCSI_STUB, Widen(fw.IscsiVersion), plan.IscsiVersion);
}

int ConfirmSelected(int component, const NicFwInfo &fw, const UpgradePlan &plan) {
    switch (component) {
    case COMPONENT_BOOTCODE:
        return ConfirmBootCode(fw, plan);
    case COMPONENT_PXE:
        return ConfirmPXE(fw, plan);
    case COMPONENT_UMP:
        return ConfirmUMP(fw, plan);
    case COMPONENT_CLP:
        return ConfirmCLP(fw, plan);
    case COMPONENT_ISCSI:
        return ConfirmiSCSI(fw, plan);
    default:
        return ConfirmiSCSIstub(fw, plan);
    }
}
