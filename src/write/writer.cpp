// The writers: one sequence that runs the external tool for a confirmed image
// of the adapter at CurrentNic, and a table of what differs between the six
// components and the restore of a saved image.
#include <cstdio>
#include <cstring>

#include "adapter/image_file.h"
#include "base/runflags.h"
#include "output/output.h"
#include "select/plan.h"
#include "write/write.h"

namespace {

// How the writer picks the tool's verb.
enum VerbRule {
    VERB_FIXED,        // always verb
    VERB_UNLESS_FOUND, // verb when the adapter has installed_bit, else verb_forced
};

struct WriterRow {
    uint32_t write_bit;       // in the plan's Flags: the writer does nothing without it
    uint32_t text_bit;        // in the plan's Flags: the version line is printed with it
    const char *component;    // the version line's word ("Boot Code")
    InstalledField installed; // the installed version shown
    Version UpgradePlan::*selected;
    char (UpgradePlan::*image)[PLAT_PATH_MAX];
    VerbRule verb_rule;
    const char *verb;
    const char *verb_forced;  // VERB_UNLESS_FOUND: without an image of that kind installed
    uint32_t installed_bit;   // VERB_UNLESS_FOUND: the NicFwInfo bit tested
    const char *notice;       // shown once per run, by the first writer that runs
    bool header_always;       // else only when no boot code is written on the adapter
    bool verify_on_jumper;    // sets RUN_VERIFY_PENDING on a jumper adapter, started or not
    const char *failure_verb; // "Upgrade" or "Restore" in the error lines
};

constexpr const char *NOTICE_BOOTCODE =
    "\r\nThe Firmware Upgrade will take several minutes.  Please be patient.\r\n";
constexpr const char *NOTICE_WILL =
    "\r\nThe Firmware Upgrade will take several minutes.  Please be patient\n";
constexpr const char *NOTICE_MAY =
    "\r\nThe Firmware Upgrade may take several minutes.  Please be patient\n";
constexpr const char *NOTICE_RESTORE =
    "\r\nThe Firmware Restore will take several minutes.  Please be patient.\r\n";

// In WriteComponent order.
const WriterRow kWriters[WRITE_COMPONENTS] = {
    {PLAN_BC_CONFIRMED, PLAN_BC_FOUND, "Boot Code", FIELD_BOOTCODE, &UpgradePlan::BootCodeVersion,
     &UpgradePlan::BootCodePath, VERB_FIXED, "upgrade -bc", nullptr, 0, NOTICE_BOOTCODE, true, true,
     "Upgrade"},
    {PLAN_PXE_CONFIRMED, PLAN_PXE_FOUND, "PXE", FIELD_PXE, &UpgradePlan::PxeVersion,
     &UpgradePlan::PxePath, VERB_FIXED, "upgrade -mba", nullptr, 0, NOTICE_WILL, false, true,
     "Upgrade"},
    {PLAN_UMP_CONFIRMED, PLAN_UMP_FOUND, "UMP", FIELD_UMP, &UpgradePlan::UmpVersion,
     &UpgradePlan::UmpPath, VERB_FIXED, "upgrade -ump", nullptr, 0, NOTICE_WILL, false, false,
     "Upgrade"},
    {PLAN_CLP_CONFIRMED, PLAN_CLP_FOUND, "CLP", FIELD_CLP, &UpgradePlan::ClpVersion,
     &UpgradePlan::ClpPath, VERB_UNLESS_FOUND, "upgrade -mba", "upgrade -F -mba", FW_HAS_CLP,
     NOTICE_MAY, false, false, "Upgrade"},
    {PLAN_ISCSI_CONFIRMED, PLAN_ISCSI_FOUND, "iSCSI", FIELD_ISCSI, &UpgradePlan::IscsiVersion,
     &UpgradePlan::IscsiPath, VERB_UNLESS_FOUND, "upgrade -mba", "upgrade -F -mba", FW_HAS_ISCSI,
     NOTICE_WILL, false, true, "Upgrade"},
    {PLAN_ISCSI_STUB_CONFIRMED, PLAN_ISCSI_STUB_FOUND, "iSCSI", FIELD_ISCSI,
     &UpgradePlan::IscsiVersion, &UpgradePlan::IscsiStubPath, VERB_FIXED, "upgrade -F -mba",
     nullptr, 0, NOTICE_WILL, false, true, "Upgrade"},
    // The restore writes the whole saved image: its "version line" names the
    // file, and the read-back afterwards compares with the saved versions.
    {PLAN_RESTORE_CONFIRMED, 0, nullptr, FIELD_BOOTCODE, nullptr, &UpgradePlan::BootCodePath,
     VERB_FIXED, "restore", nullptr, 0, NOTICE_RESTORE, true, true, "Restore"},
};

// Prints a console-only line: the log is kept out for its span.
void ConsoleOnly(const char *text) {
    RunFlags &= ~RUN_LOG_READY;
    Output(0, "%s", text);
    RunFlags |= RUN_LOG_READY;
}

// The tool has saved the adapter's image at path: a readable NVRAM image with
// this adapter's identity and MAC address.
bool HoldsBackupOf(const char *path, const NicFwInfo &fw) {
    ImageIdentity saved{};
    return plat_path_exists(path) != 0 && ReadImageIdentity(path, saved) != 0 &&
           saved.VendorId == fw.VendorId && saved.DeviceId == fw.DeviceId &&
           saved.SubsystemVendorId == fw.SubsystemVendorId && saved.SubsystemId == fw.SubsystemId &&
           memcmp(saved.MacText, fw.MacText, sizeof saved.MacText) == 0;
}

// A path as the tool receives it: with forward slashes, quoted when it holds
// a blank. Returns false for a path that is never passed, or one that does not fit.
bool ToolPathArgument(const char *path, char *out, size_t size) {
    char forward[2 * PLAT_PATH_MAX];
    int n = snprintf(forward, sizeof forward, "%s", path);
    if (n < 0 || static_cast<size_t>(n) >= sizeof forward || IsPassableArgument(forward) == 0) {
        return false;
    }
    for (char *p = forward; *p != '\0'; ++p) {
        *p = *p == '\\' ? '/' : *p;
    }
    return QuoteCommandArgument(forward, out, size) != 0;
}

// Builds the tool's command line into command. Returns false when it does not
// fit or a path cannot be passed; nothing is run then.
bool BuildCommandLine(const WriterRow &row, const NicFwInfo &fw, const UpgradePlan &plan,
                      const char *backup, char *command, size_t size) {
    const char *verb = row.verb;
    if (row.verb_rule == VERB_UNLESS_FOUND && (fw.Flags & row.installed_bit) == 0) {
        verb = row.verb_forced;
    }
    char image_argument[WRITER_COMMAND_SIZE];
    char backup_argument[WRITER_COMMAND_SIZE];
    if (!ToolPathArgument(plan.*row.image, image_argument, sizeof image_argument) ||
        !ToolPathArgument(backup, backup_argument, sizeof backup_argument)) {
        command[0] = '\0';
        return false;
    }
    int n = snprintf(command, size, "%s %s %-12.12s %s %s %s", WRITER_TOOL_PATH,
                     (RunFlags & RUN_DEBUG) != 0 ? "-debug" : "", fw.MacText, verb, image_argument,
                     backup_argument);
    if (n < 0 || static_cast<size_t>(n) >= size) {
        command[0] = '\0';
        return false;
    }
    // Every backslash after the tool path's ".\" becomes a forward slash (the
    // paths have theirs already, before quoting, so no escape is touched).
    for (size_t i = 5; command[i] != '\0'; i++) {
        if (command[i] == '\\') {
            command[i] = '/';
        }
    }
    return true;
}

// Notes in the adapter's write record what the write did, for the read-back
// after the adapter's writes.
void RecordWrite(WriteComponent component, uint32_t status, const Version &written) {
    if (CurrentNic >= WriteTable.size()) {
        return;
    }
    WriteRecord &record = WriteTable[CurrentNic];
    const uint32_t bit = WriteBit(component);
    record.Attempted |= bit;
    record.Written[component] = written;
    if (status == TOOL_STATUS_DONE || status == TOOL_STATUS_NO_BACKUP) {
        record.Started |= bit;
    }
    if (status == TOOL_STATUS_DONE) {
        record.Done |= bit;
    }
}

uint32_t RunWriter(WriteComponent component) {
    const WriterRow &row = kWriters[component];
    const UpgradePlan &plan = PlanTable[CurrentNic];
    const NicFwInfo &fw = NicFwTable[CurrentNic];
    if ((plan.Flags & row.write_bit) == 0) {
        return 0;
    }
    if ((RunFlags & RUN_NOTICE_SHOWN) == 0) {
        RunFlags |= RUN_NOTICE_SHOWN;
        ConsoleOnly(row.notice);
    }
    if (row.header_always || (plan.Flags & PLAN_BC_CONFIRMED) == 0) {
        Output(0, "\r\nSelecting %s MAC: %-12.12s \r\n", fw.Description, fw.MacText);
    }
    if (row.component == nullptr) {
        Output(0, "Restoring %s\r\n", plan.BootCodePath);
    } else if ((plan.Flags & row.text_bit) != 0) {
        Version installed = InstalledVersion(fw, row.installed);
        const Version &selected = plan.*row.selected;
        char line[80];
        snprintf(line, sizeof line, "%s %d.%d.%d to %d.%d.%d", row.component,
                 static_cast<int>(installed.major), static_cast<int>(installed.minor),
                 static_cast<int>(installed.build), static_cast<int>(selected.major),
                 static_cast<int>(selected.minor), static_cast<int>(selected.build));
        Output(0, "Upgrading %s\r\n", line);
    }

    char backup[BACKUP_PATH_SIZE];
    char command[WRITER_COMMAND_SIZE];
    uint32_t status = TOOL_STATUS_NOT_STARTED;
    bool runnable = SettleBackupPath(backup, sizeof backup) != 0 &&
                    BuildCommandLine(row, fw, plan, backup, command, sizeof command);
    if (!runnable) {
        // Never run the tool with a cut or unsafe path: report it as a write that did not start.
        snprintf(command, sizeof command, "%s", WRITER_TOOL_PATH);
    }
    log_close();
    debug_print("%s \r\n", command);
    if (runnable) {
        const char *word = row.component != nullptr ? row.component : "Restore";
        status =
            RunTool(command, word, fw.MacText) != 0 ? TOOL_STATUS_DONE : TOOL_STATUS_NOT_STARTED;
    }
    if (status == TOOL_STATUS_DONE && !HoldsBackupOf(backup, fw)) {
        status = TOOL_STATUS_NO_BACKUP;
    }
    debug_print("exit code (%s): %x \r\n", command, static_cast<unsigned>(status));
    if (status != TOOL_STATUS_DONE) {
        RunFlags |= RUN_HAD_ERRORS;
        log_write("ERROR: %s of %s MAC: %-8.12s cmd:(%s) failed with internal error %d\r\n",
                  row.failure_verb, fw.Description, fw.MacText, command, static_cast<int>(status));
        char line[160]; // the description holds at most 79 characters
        snprintf(line, sizeof line, "ERROR: %s of %s MAC: %-8.12s failed.\r\n", row.failure_verb,
                 fw.Description, fw.MacText);
        ConsoleOnly(line);
    }
    RunFlags |= RUN_UPDATED;
    RecordWrite(component, status, row.selected != nullptr ? plan.*row.selected : Version{});
    // Every write whose tool was started is read back, and on a jumper adapter
    // every write of the components the jumper check covers.
    if (status != TOOL_STATUS_NOT_STARTED || (row.verify_on_jumper && HasWriteProtectJumper(fw))) {
        RunFlags |= RUN_VERIFY_PENDING;
    }
    return status;
}

} // namespace

std::vector<WriteRecord> WriteTable;

Version InstalledVersion(const NicFwInfo &fw, InstalledField field) {
    switch (field) {
    case FIELD_PXE:
        return fw.PxeVersion;
    case FIELD_UMP:
        return Widen(fw.UmpVersion);
    case FIELD_CLP:
        return Widen(fw.ClpVersion);
    case FIELD_ISCSI:
        return Widen(fw.IscsiVersion);
    case FIELD_BOOTCODE:
    default:
        return fw.BootCodeVersion;
    }
}

uint32_t UpgradeBootCode() {
    return RunWriter(WRITE_BOOTCODE);
}
uint32_t UpgradePXE() {
    return RunWriter(WRITE_PXE);
}
uint32_t UpgradeUMP() {
    return RunWriter(WRITE_UMP);
}
uint32_t UpgradeCLP() {
    return RunWriter(WRITE_CLP);
}
uint32_t UpgradeiSCSI() {
    return RunWriter(WRITE_ISCSI);
}
uint32_t UpgradeiSCSIstub() {
    return RunWriter(WRITE_ISCSI_STUB);
}
uint32_t RestoreImage() {
    return RunWriter(WRITE_RESTORE);
}
