// Upgrade execution: the writers that run the external tool for each confirmed
// image, the backup file name they pass it, the write-protect jumper test and
// the re-read of jumper adapters after their writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "adapter/firmware.h"
#include "platform/platform.h"

// Write status of one run of the tool.
constexpr uint32_t TOOL_STATUS_DONE = 10;        // the child was created and has ended
constexpr uint32_t TOOL_STATUS_NOT_STARTED = 14; // creating the child failed
constexpr uint32_t TOOL_STATUS_NO_BACKUP = 15;   // the child ended, but saved no backup

// The tool, found relative to the current directory.
constexpr const char *WRITER_TOOL_PATH = ".\\imgwriter";
// Room for the tool's command line.
constexpr size_t WRITER_COMMAND_SIZE = 784;

// 1 when a path may be passed to the tool: it holds no double quote and no
// control character (below 0x20, or 0x7F).
int IsPassableArgument(const char *argument);
// Writes argument into out as one argument of a Windows command line: as it
// is when it holds no blank, tab or double quote and is not empty, else in
// double quotes with the backslashes before a quote, and a quote inside,
// escaped. Returns 1, or 0 when it does not fit size (out is then empty).
int QuoteCommandArgument(const char *argument, char *out, size_t size);

// Runs the writer tool's command line and waits for it to end; meanwhile an
// interruption is announced and recorded (plat_interruptions), not obeyed,
// and an interactive console shows the component, the MAC and the time
// elapsed. Returns 1 when the tool was started, 0 when it could not be.
int RunTool(const char *command_line, const char *component, const char *mac);

// Each writes the confirmed image of its component for the adapter at
// CurrentNic. Returns the write status, or 0 when nothing was confirmed.
uint32_t UpgradeBootCode();
uint32_t UpgradePXE();
uint32_t UpgradeUMP();
uint32_t UpgradeCLP();
uint32_t UpgradeiSCSI();
uint32_t UpgradeiSCSIstub();

// Writes the saved image chosen by restore selection back to the adapter at
// CurrentNic (PLAN_RESTORE_CONFIRMED). Returns the status, or 0.
uint32_t RestoreImage();

// The backup path of the adapter at CurrentNic, made from the versions it had
// at the start of the run: BackupDir, MAC text, ".bc" and the boot code
// version, then the PXE, CLP, UMP and iSCSI versions that are installed, and
// ".bin". Returns 1, or 0 when the name does not fit size (path is then empty).
int BackupFileName(char *path, size_t size);

// The backup path that every write of the adapter at CurrentNic passes in this
// run, settled at its first write: BackupFileName's name when nothing is at
// that path, else the first free "<name without .bin>.N.bin" for N from 2 to
// BACKUP_SIBLINGS_MAX; never the saved image the run restores. So every run
// saves the adapter's image afresh and never names an existing file. Returns
// 1, or 0 (path empty) when no name can be settled.
int SettleBackupPath(char *path, size_t size);

constexpr unsigned BACKUP_SIBLINGS_MAX = 999;
// Room for a backup path: BackupDir and the longest name.
constexpr size_t BACKUP_PATH_SIZE = 2 * PLAT_PATH_MAX;
struct BackupPathRecord {
    char Path[BACKUP_PATH_SIZE]; // empty until the adapter's first write
};
// One record per port, same index as NicTable; created zero-filled by the upgrade run.
extern std::vector<BackupPathRecord> BackupPathTable;

// An installed version as the version line shows it and the read-back
// compares it: from the 32-bit or the 8-bit fields of NicFwInfo.
enum InstalledField { FIELD_BOOTCODE, FIELD_PXE, FIELD_UMP, FIELD_CLP, FIELD_ISCSI };
Version InstalledVersion(const NicFwInfo &fw, InstalledField field);

// The writers, in write order; the restore of a saved image comes last.
enum WriteComponent {
    WRITE_BOOTCODE,
    WRITE_PXE,
    WRITE_UMP,
    WRITE_CLP,
    WRITE_ISCSI,
    WRITE_ISCSI_STUB,
    WRITE_RESTORE,
    WRITE_COMPONENTS
};
constexpr uint32_t WriteBit(WriteComponent component) {
    return 1u << component;
}

// What the writes of one adapter did in this run, for the read-back after
// them: a bit per writer (WriteBit) in each word, and the version each write
// put there (a restore's versions are those its file name records, in the plan).
struct WriteRecord {
    uint32_t Attempted; // the writer had a confirmed image, whether its tool started or not
    uint32_t Started;   // its tool was started (TOOL_STATUS_DONE or TOOL_STATUS_NO_BACKUP)
    uint32_t Done;      // its tool ended and left the adapter's backup (TOOL_STATUS_DONE)
    Version Written[WRITE_COMPONENTS];
};
// One record per port, same index as NicTable; created zero-filled by the upgrade run.
extern std::vector<WriteRecord> WriteTable;

// 1 for an adapter model with the write-protect jumper J1.
int HasWriteProtectJumper(const NicFwInfo &info);

// Reads back the installed versions of the adapter at CurrentNic after its
// writes and compares them with what the writes put there (RUN_VERIFY_PENDING
// asks for it). A difference, or a read that fails, is a failed write:
// the error line and a line per differing component, RUN_HAD_ERRORS. A jumper
// adapter also gets its jumper line.
void VerifyUpgrade();

// The backup directory on the system drive, ending in a backslash; set by the
// upgrade run.
extern char BackupDir[PLAT_PATH_MAX];
