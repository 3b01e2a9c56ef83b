// The backup path that every writer of an adapter hands the tool: the MAC text
// and the versions installed at the start of the run, in a fixed order (boot
// code, PXE, CLP, UMP, iSCSI); settled once per adapter and run, on a name
// that nothing in the backup directory has yet.
#include <cstdio>
#include <cstring>

#include "base/runflags.h"
#include "base/text.h"
#include "select/plan.h"
#include "write/write.h"

char BackupDir[PLAT_PATH_MAX] = "";

int BackupFileName(char *path, size_t size) {
    const NicFwInfo &fw = NicFwTable[CurrentNic];
    // The boot code always, then each installed component, in this order.
    const struct {
        uint32_t installed_bit; // 0: always
        const char *tag;
        Version version;
    } parts[] = {
        {0, "bc", fw.BootCodeVersion},
        {FW_HAS_PXE, "p", fw.PxeVersion},
        {FW_HAS_CLP, "c", Widen(fw.ClpVersion)},
        {FW_HAS_UMP, "u", Widen(fw.UmpVersion)},
        {FW_HAS_ISCSI, "iS", Widen(fw.IscsiVersion)},
    };
    int n = snprintf(path, size, "%s%-12.12s", BackupDir, fw.MacText);
    bool fits = n >= 0 && static_cast<size_t>(n) < size;
    size_t used = fits ? static_cast<size_t>(n) : 0;
    for (const auto &part : parts) {
        if (!fits || (part.installed_bit != 0 && (fw.Flags & part.installed_bit) == 0)) {
            continue;
        }
        n = snprintf(path + used, size - used, ".%s%d.%d.%d", part.tag,
                     static_cast<int>(part.version.major), static_cast<int>(part.version.minor),
                     static_cast<int>(part.version.build));
        fits = n >= 0 && static_cast<size_t>(n) < size - used;
        used += fits ? static_cast<size_t>(n) : 0;
    }
    fits = fits && snprintf(path + used, size - used, ".bin") == 4 && used + 4 < size;
    if (!fits) {
        path[0] = '\0';
        return 0;
    }
    return 1;
}

std::vector<BackupPathRecord> BackupPathTable;

namespace {

// Free for this adapter's backup: nothing is at the path, and it is not the
// saved image that this run restores (Windows compares paths without case).
bool NameIsFree(const char *path) {
    const UpgradePlan &plan = PlanTable[CurrentNic];
    if ((plan.Flags & PLAN_RESTORE_CONFIRMED) != 0 &&
        SameTextIgnoringAsciiCase(path, plan.BootCodePath)) {
        return false;
    }
    return plat_path_exists(path) == 0;
}

} // namespace

int SettleBackupPath(char *path, size_t size) {
    path[0] = '\0';
    if (CurrentNic >= BackupPathTable.size() || CurrentNic >= PlanTable.size()) {
        return 0;
    }
    char *settled = BackupPathTable[CurrentNic].Path;
    if (settled[0] == '\0') {
        char name[sizeof BackupPathTable[0].Path];
        if (!BackupFileName(name, sizeof name)) {
            return 0;
        }
        // The name without ".bin", for the siblings: "<name>.2.bin" and on.
        const size_t stem = strlen(name) - strlen(".bin");
        int n = snprintf(settled, sizeof BackupPathTable[0].Path, "%s", name);
        for (unsigned sibling = 2; !NameIsFree(settled); sibling++) {
            n = sibling <= BACKUP_SIBLINGS_MAX
                    ? snprintf(settled, sizeof BackupPathTable[0].Path, "%.*s.%u.bin",
                               static_cast<int>(stem), name, sibling)
                    : -1;
            if (n < 0 || static_cast<size_t>(n) >= sizeof BackupPathTable[0].Path) {
                settled[0] = '\0';
                return 0;
            }
        }
    }
    const int n = snprintf(path, size, "%s", settled);
    if (n < 0 || static_cast<size_t>(n) >= size) {
        path[0] = '\0';
        return 0;
    }
    return 1;
}
