// The backup path that every writer of an adapter hands the tool: the MAC text
// and the versions installed at the start of the run, in a fixed order (boot
// code, PXE, CLP, UMP, iSCSI).
#include <cstdio>
#include <cstring>

#include "base/runflags.h"
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
