// The upgrade run: every run that is not a report. Checks and work
// directories, the library, the selection pass over the adapters, the plan
// listing or the write pass, and the summary that gives the exit code.
#include <cstdio>
#include <cstring>
#include <string>

#include "adapter/binding.h"
#include "adapter/library.h"
#include "adapter/firmware.h"
#include "adapter/inventory.h"
#include "base/runflags.h"
#include "base/table.h"
#include "output/output.h"
#include "restore/restore.h"
#include "run/reports.h"
#include "select/plan.h"
#include "select/select.h"
#include "write/write.h"

namespace {

// The selection order, which differs from the write order: CLP comes before
// PXE, whose selection is skipped once a CLP image is confirmed.
struct SelectionStep {
    int (*select)();
    uint32_t gate; // the per-component option of the component
};

const SelectionStep kSelectionOrder[] = {
    {SelectBootCode, RUN_ONLY_BC}, {SelectCLP, RUN_ONLY_CLP},
    {SelectPXE, RUN_ONLY_PXE},     {SelectUMP, RUN_ONLY_UMP},
    {SelectiSCSI, RUN_ONLY_ISCSI}, {SelectiSCSIstub, RUN_ONLY_ISCSI_STUB},
};

// The write order.
uint32_t (*const kWriteOrder[])() = {UpgradeBootCode, UpgradePXE,   UpgradeUMP,
                                     UpgradeCLP,      UpgradeiSCSI, UpgradeiSCSIstub};

constexpr const char *ASTERISKS =
    "*******************************************************************\r\n";
static_assert(std::char_traits<char>::length(ASTERISKS) == 69, "67 asterisks and the line end");

// The per-component options name one adapter by its MAC text, exactly.
bool MacMatches() {
    return MacFilterArg != nullptr &&
           strncmp(NicFwTable[CurrentNic].MacText, MacFilterArg, sizeof(NicFwInfo::MacText)) == 0;
}

void SelectComponents() {
    for (const SelectionStep &step : kSelectionOrder) {
        if ((RunFlags & RUN_ONLY_MASK) == 0 || ((RunFlags & step.gate) != 0 && MacMatches())) {
            step.select();
        }
        if (step.select == SelectBootCode && (RunFlags & RUN_CANCELLED) != 0) {
            return;
        }
    }
}

// Room left for the system drive in the work paths (the log path is the longest).
constexpr int PATH_DRIVE_MAX = static_cast<int>(PLAT_PATH_MAX - 28);
constexpr int PLAT_ERROR_PATH_TOO_LONG = 206;

bool Cancelled() {
    if ((RunFlags & RUN_CANCELLED) == 0) {
        return false;
    }
    Output(ATTR_ERROR, "\r\nFirmware upgrade cancelled by User \r\n");
    return true;
}

// The work directories, in the order they are made. Each is created for the
// administrators only; one that exists already is used only when no one else
// controls it. A creation that fails otherwise stops the run only for the
// backup directory (VLMSYSTEM as a file, say, ends the run there).
struct WorkDirectory {
    const char *below_drive;
    char *kept; // the buffer that keeps the path, or null
    bool must_create;
};

const WorkDirectory kWorkDirectories[] = {
    {"\\VLMSYSTEM", nullptr, false},
    // The log's directory too, so that a fresh server logs its first run.
    {"\\VLMSYSTEM\\log", nullptr, false},
    {"\\VLMSYSTEM\\NICFWBACKUP\\", BackupDir, true},
};

// Creates or accepts one work directory, and holds it for the rest of the
// run before it is judged, so that what passes is what the run goes on using
// by path. Returns 0, or the error code that refuses it.
unsigned long MakeWorkDirectory(const WorkDirectory &dir, const char *path) {
    unsigned long error = plat_create_private_directory(path);
    if (error == 0 || error == PLAT_ERROR_ALREADY_EXISTS || error == PLAT_ERROR_FILE_EXISTS) {
        error = plat_hold_directory(path);
        return error != 0 ? error : plat_check_private_directory(path);
    }
    return dir.must_create ? error : 0;
}

// One run at a time: the lock is held until the process ends, and by a
// writer tool for as long as it runs. False when another run holds it, or the
// lock file cannot be used (the message is printed, console only).
bool TakeRunLock(const char *drive) {
    char path[PLAT_PATH_MAX];
    snprintf(path, sizeof path, "%.*s\\VLMSYSTEM\\lanrefit.lock", PATH_DRIVE_MAX, drive);
    const unsigned long error = plat_take_run_lock(path);
    if (error == PLAT_ERROR_LOCKED) {
        Output(ATTR_ERROR, "Another lanrefit run is in progress on this server. Try again when it "
                           "has ended.\r\n");
    } else if (error == PLAT_ERROR_REPARSE_POINT) {
        Output(ATTR_ERROR, "Cannot trust %s: it is a link, junction or other reparse point.\r\n",
               path);
    } else if (error != 0) {
        Output(ATTR_ERROR, "Cannot trust %s: it cannot be examined (error %lu).\r\n", path, error);
    }
    return error == 0;
}

// What the run is about to load, start and read, judged before any of it
// is: the program's folder and library, the current folder when the run
// reads the catalogue or may start the writer tool, the tool itself, and the
// catalogue. False when the run cannot go on (the message is printed).
bool TrustInputs() {
    const bool reads_catalogue =
        (RunFlags & (RUN_RESTORE | RUN_LIST_BACKUPS | RUN_RESTORE_FILE)) == 0;
    const bool starts_tool = (RunFlags & (RUN_LIST | RUN_ADVISE_ONLY | RUN_LIST_BACKUPS)) == 0;
    if (!TrustLibraryFolder()) {
        return false;
    }
    if (reads_catalogue || starts_tool) {
        char here[PLAT_PATH_MAX];
        if (!plat_current_folder(here, sizeof here)) {
            snprintf(here, sizeof here, "%s", ".");
        }
        if (!TrustPath(here, here)) {
            return false;
        }
    }
    if (starts_tool) {
        // A missing tool is left to the write, which reports it.
        char tool[PLAT_PATH_MAX];
        snprintf(tool, sizeof tool, "%s%s", WRITER_TOOL_PATH, PLAT_PROGRAM_SUFFIX);
        if (plat_path_exists(tool) && !TrustPath(tool, WRITER_TOOL_PATH)) {
            return false;
        }
    }
    if (!reads_catalogue && starts_tool) {
        // A restore reads no catalogue, but the site's jumper list beside it.
        for (const char *path : {".\\NIC_FW", ".\\NIC_FW\\Jumper.config"}) {
            if (plat_path_exists(path) && !TrustPath(path, path)) {
                return false;
            }
        }
    }
    return !reads_catalogue || TrustCatalogue() != 0;
}

// The administrator check, the work directories and the log. False when the
// run cannot go on (the message is printed).
bool PrepareWorkDirectories() {
    if (!plat_is_administrator()) {
        Output(0, "Administrator privileges are requried to run this application.\r\n");
        return false;
    }
    if (!TrustInputs()) {
        return false;
    }
    char drive[PLAT_PATH_MAX];
    plat_system_drive(drive, sizeof drive);
    // The longest of the texts below is the log path; a system drive that
    // leaves no room for it is refused rather than cut into another path.
    if (strlen(drive) + strlen("\\VLMSYSTEM\\log\\lanrefit.log") >= PLAT_PATH_MAX) {
        Output(0, "Error:%d trying to create directory %s.\r\n", PLAT_ERROR_PATH_TOO_LONG, drive);
        return false;
    }
    // Where the work directories cannot be held, the folders above them are
    // judged instead: none may let another account swap them. A folder that
    // is not there is left to the creation, which fails as it always did.
    char top[PLAT_PATH_MAX];
    snprintf(top, sizeof top, "%.*s%s", PATH_DRIVE_MAX, drive, kWorkDirectories[0].below_drive);
    const unsigned long above = plat_check_folders_above(top);
    if (above == PLAT_ERROR_REPARSE_POINT || above == PLAT_ERROR_FOREIGN_OWNER ||
        above == PLAT_ERROR_OPEN_TO_OTHERS) {
        Output(0, "Error:%d trying to create directory %s.\r\n", static_cast<int>(above), top);
        return false;
    }
    for (const WorkDirectory &dir : kWorkDirectories) {
        char local[PLAT_PATH_MAX];
        char *path = dir.kept != nullptr ? dir.kept : local;
        snprintf(path, PLAT_PATH_MAX, "%.*s%s", PATH_DRIVE_MAX, drive, dir.below_drive);
        unsigned long error = MakeWorkDirectory(dir, path);
        if (error != 0) {
            Output(0, "Error:%d trying to create directory %s.\r\n", static_cast<int>(error), path);
            return false;
        }
    }
    if (!TakeRunLock(drive)) {
        return false;
    }
    snprintf(LogPath, sizeof LogPath, "%.*s\\VLMSYSTEM\\log\\lanrefit.log", PATH_DRIVE_MAX, drive);
    RunFlags |= RUN_LOG_READY;
    return true;
}

// The summary: the first row whose bits are all set in RunFlags decides.
struct SummaryRow {
    uint32_t bits;
    const char *message;
    int result;
};

const SummaryRow kSummary[] = {
    {RUN_HAD_ERRORS, "\nNIC firmware update completed with errors. \r\n", 0},
    {RUN_UPDATED, "\nNIC firmware update complete.\r\n", 1},
    {RUN_ADVISE_ONLY | RUN_ADVISE_NEWER, "\nNIC firmware update is recommended.\r\n", 4},
    {RUN_ADVISE_ONLY | RUN_ADVISE_OLDER, "\nNIC firmware update is not recommended.\r\n", 6},
    {RUN_ADVISE_ONLY | RUN_ADVISE_SAME, "\nNIC firmware update is not recommended.\r\n", 5},
};

int Summary() {
    for (const SummaryRow &row : kSummary) {
        if ((RunFlags & row.bits) == row.bits) {
            Output(0, "%s", row.message);
            return row.result;
        }
    }
    return 3; // nothing written and nothing to advise: no message
}

} // namespace

int upgrade_run() {
    SilentEarlyToStderr = true;
    if (!PrepareWorkDirectories()) {
        return 0;
    }
    log_write("%s", ASTERISKS);
    Output(0, "Velmar Multi-Function Gigabit Server Adapter Firmware Upgrade Utility\r\n");
    log_write("%s", ASTERISKS);

    // 7.5.18 and everything later, although the message names 7.5.19.
    const int opened = OpenLibrary({7, 5, 18}, {7, 5, 19});
    if (opened != LIBRARY_OPEN) {
        return opened;
    }
    if (EnumerateAdapters() == ADAPTER_OUT_OF_MEMORY) {
        return CloseLibrary(0);
    }
    if (NicCount == 0) {
        CloseLibrary(3);
        Output(ATTR_ERROR, "No supported network adapters for firmware upgrade.\r\n");
        return 3;
    }
    if (BuildFirmwareTable() == ADAPTER_OUT_OF_MEMORY) {
        return CloseLibrary(0);
    }
    if (!TableCreate(PlanTable, NicCount) || !TableCreate(BackupPathTable, NicCount) ||
        !TableCreate(WriteTable, NicCount)) {
        Output(ATTR_ERROR, "Not enough memory for the upgrade plan.\r\n");
        return CloseLibrary(0);
    }

    const bool restore_run = (RunFlags & (RUN_RESTORE | RUN_LIST_BACKUPS | RUN_RESTORE_FILE)) != 0;
    for (CurrentNic = 0; CurrentNic < NicCount; CurrentNic++) {
        if (restore_run) {
            if (SelectRestore() == RESTORE_NO_IMAGES) {
                return CloseLibrary(3);
            }
        } else {
            SelectComponents();
        }
        if (Cancelled()) {
            return CloseLibrary(1);
        }
    }
    if ((RunFlags & RUN_LIST) != 0) {
        list_plan();
        return CloseLibrary(1);
    }

    // An interruption during a write stops the pass once that write, and
    // the check of its adapter, are done.
    const bool restore_write = (RunFlags & (RUN_RESTORE | RUN_RESTORE_FILE)) != 0;
    // Held for the whole pass, which asks nothing: a write is checked, read
    // back and reported however often the operator presses Ctrl-C.
    plat_hold_interruptions();
    for (CurrentNic = 0; CurrentNic < NicCount && plat_interruptions() == 0; CurrentNic++) {
        if (!restore_write) {
            for (uint32_t (*write)() : kWriteOrder) {
                if (plat_interruptions() == 0) {
                    write();
                }
            }
        } else if ((RunFlags & (RUN_LIST_BACKUPS | RUN_ADVISE_ONLY)) == 0) {
            RestoreImage();
        }
        if ((RunFlags & RUN_VERIFY_PENDING) != 0) {
            RunFlags &= ~RUN_VERIFY_PENDING;
            VerifyUpgrade();
        }
    }
    int result;
    if (plat_interruptions() != 0) {
        log_write("Run interrupted: no further writes.\r\n");
        CloseLibrary(0);
        if ((RunFlags & RUN_HAD_ERRORS) != 0) {
            result = Summary();
        } else {
            RunFlags |= RUN_CANCELLED;
            Cancelled();
            result = 1;
        }
    } else {
        CloseLibrary(0);
        result = Summary();
    }
    plat_release_interruptions();
    return result;
}
