// SelectRestore: the walk over BackupDir for the adapter at CurrentNic. Every
// file is read for its identity; those of this adapter are listed, skipped
// (-e names another) or offered until the operator takes one or quits.
#include <cstdio>
#include <cstring>

#include "adapter/inventory.h"
#include "base/runflags.h"
#include "base/text.h"
#include "output/output.h"
#include "restore/backup_versions.h"
#include "restore/restore.h"
#include "select/select.h"
#include "write/write.h"

namespace {

// Reported when the listing's pattern would not fit the platform's path limit.
constexpr unsigned long PLAT_ERROR_PATH_TOO_LONG = 206;

// A link or junction is never a candidate: what it points to lies outside
// the backup directory, where others may write.
bool IsCandidate(const PlatDirEntry &entry) {
    return entry.is_directory == 0 && entry.is_hidden == 0 && entry.is_system == 0 &&
           entry.is_reparse == 0 && strcmp(entry.name, ".") != 0;
}

// A saved image that another account owns was not saved by the tool this
// program started: it is no candidate, and its name decides nothing.
bool OwnedByTrustedAccount(const char *name) {
    char path[PLAT_PATH_MAX];
    const int n = snprintf(path, sizeof path, "%s%s", BackupDir, name);
    if (n < 0 || static_cast<size_t>(n) >= sizeof path) {
        return true; // too long to read: TakeCandidate reports it
    }
    const unsigned long error = plat_check_owner(path);
    if (error != 0) {
        debug_print("SelectRestore() %s skipped: not owned by a trusted account (%lu)\r\n", path,
                    error);
        return false;
    }
    return true;
}

bool ImageMatchesAdapter(const UpgradePlan &plan, const NicFwInfo &fw, const NicEntry &nic) {
    static_assert(sizeof plan.ImageMacText >= sizeof nic.Info.MacText, "13 bytes compared");
    return plan.ImageVendorId == fw.VendorId && plan.ImageDeviceId == fw.DeviceId &&
           plan.ImageSubsystemVendorId == fw.SubsystemVendorId &&
           plan.ImageSubsystemId == fw.SubsystemId &&
           memcmp(plan.ImageMacText, nic.Info.MacText, sizeof nic.Info.MacText) == 0;
}

// What became of one candidate.
enum CandidateOutcome { CANDIDATE_NEXT, CANDIDATE_TAKEN };

CandidateOutcome TakeCandidate(const char *name) {
    const NicEntry &nic = NicTable[CurrentNic];
    NicFwInfo &fw = NicFwTable[CurrentNic];
    UpgradePlan &plan = PlanTable[CurrentNic];

    plan = UpgradePlan{};
    const int n = snprintf(plan.BootCodePath, sizeof plan.BootCodePath, "%s%s", BackupDir, name);
    // A path cut at the limit would name another file: such a file is not read.
    if (n < 0 || static_cast<size_t>(n) >= sizeof plan.BootCodePath ||
        ReadImageIdentity(plan, plan.BootCodePath) != 1) {
        debug_print("Failed to get firmware information from file (%s)!\r\n", plan.BootCodePath);
        plan.Flags = 0;
        return CANDIDATE_NEXT;
    }
    if (!ImageMatchesAdapter(plan, fw, nic)) {
        plan.Flags = 0;
        return CANDIDATE_NEXT;
    }
    // The versions a name records are taken only for an image of this adapter;
    // each component it records counts as found, so the question names the
    // changes the restore makes and weighs them.
    if (ParseBackupVersions(name, plan) != 0) {
        plan.Flags |= PLAN_VERSIONS_KNOWN | BackupNameFoundBits(name);
    }
    if ((RunFlags & RUN_LIST_BACKUPS) != 0) {
        ListBackupImage();
        return CANDIDATE_NEXT;
    }
    if ((RunFlags & RUN_RESTORE_FILE) != 0 &&
        (RestoreFileArg == nullptr ||
         !SameTextIgnoringAsciiCase(plan.BootCodePath, RestoreFileArg))) {
        return CANDIDATE_NEXT;
    }
    debug_print("Found restore file (%s)!\r\n", plan.BootCodePath);
    if ((fw.Flags & FW_ANNOUNCED) == 0) {
        fw.Flags |= FW_ANNOUNCED;
        AnnounceAdapter(nic);
        if (HasWriteProtectJumper(fw)) {
            Output(0,
                   "** WARNING ** This adapter is equipped with a write protect jumper (J1).\r\n");
            Output(0, "Insure the jumper has been moved to the write enable position.\r\n");
        }
    }
    const int answer = ConfirmRestore(fw, plan);
    if (answer == ANSWER_YES) {
        plan.Flags |= PLAN_RESTORE_CONFIRMED;
        return CANDIDATE_TAKEN;
    }
    plan.Flags = 0;
    if (answer == ANSWER_QUIT) {
        RunFlags |= RUN_CANCELLED;
        return CANDIDATE_TAKEN;
    }
    return CANDIDATE_NEXT;
}

} // namespace

int SelectRestore() {
    const NicEntry &nic = NicTable[CurrentNic];
    if ((NicFwTable[CurrentNic].Flags & FW_HAS_BOOTCODE) == 0) {
        return 0;
    }
    debug_print("Examining Restore files for %.167s MAC:%-12.12s\r\n", nic.Info.Description,
                nic.Info.MacText);

    char pattern[PLAT_PATH_MAX];
    const int n = snprintf(pattern, sizeof pattern, "%s\\*.*", BackupDir);
    PlatDirEntry entry{};
    unsigned long error = PLAT_ERROR_PATH_TOO_LONG;
    PlatFind *find = nullptr;
    if (n >= 0 && static_cast<size_t>(n) < sizeof pattern) {
        find = plat_find_first(pattern, &entry, &error);
    }
    if (find == nullptr) {
        debug_print("SelectRestore() FindFirstFile() %s failed %d\r\n", pattern,
                    static_cast<int>(error));
        return 0;
    }
    bool candidate_seen = false;
    do {
        if (!IsCandidate(entry) || !OwnedByTrustedAccount(entry.name)) {
            continue;
        }
        candidate_seen = true;
        if (TakeCandidate(entry.name) == CANDIDATE_TAKEN) {
            break;
        }
    } while (plat_find_next(find, &entry));
    plat_find_close(find);

    if (!candidate_seen) {
        Output(0, "\nNo images have been saved for firmware restore \n");
        return RESTORE_NO_IMAGES;
    }
    return 0;
}
