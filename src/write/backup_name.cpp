// The backup path that every writer of an adapter hands the tool: the MAC text
// and the versions installed at the start of the run, in a fixed order (boot
// code, PXE, CLP, UMP, iSCSI).
#include <cstdio>
#include <cstring>

#include "base/runflags.h"
#include "write/write.h"

char BackupDir[PLAT_PATH_MAX] = "";

namespace {

// Appends ".<tag>M.m.b" at *used. Returns false when it does not fit.
bool AppendVersion(char *path, size_t size, size_t *used, const char *tag, uint32_t major,
                   uint32_t minor, uint32_t build) {
    int n = snprintf(path + *used, size - *used, ".%s%d.%d.%d", tag, static_cast<int>(major),
                     static_cast<int>(minor), static_cast<int>(build));
    if (n < 0 || static_cast<size_t>(n) >= size - *used) {
        return false;
    }
    *used += static_cast<size_t>(n);
    return true;
}

} // namespace

int BackupFileName(char *path, size_t size) {
    const NicFwInfo &fw = NicFwTable[CurrentNic];
    int n = snprintf(path, size, "%s%-12.12s", BackupDir, fw.MacText);
    bool fits = n >= 0 && static_cast<size_t>(n) < size;
    size_t used = fits ? static_cast<size_t>(n) : 0;
    fits = fits && AppendVersion(path, size, &used, "bc", fw.BootCodeVersion.major,
                                 fw.BootCodeVersion.minor, fw.BootCodeVersion.build);
    if (fits && (fw.Flags & FW_HAS_PXE) != 0) {
        fits = AppendVersion(path, size, &used, "p", fw.PxeVersion.major, fw.PxeVersion.minor,
                             fw.PxeVersion.build);
    }
    if (fits && (fw.Flags & FW_HAS_CLP) != 0) {
        fits = AppendVersion(path, size, &used, "c", fw.ClpVersion.major, fw.ClpVersion.minor,
                             fw.ClpVersion.build);
    }
    if (fits && (fw.Flags & FW_HAS_UMP) != 0) {
        fits = AppendVersion(path, size, &used, "u", fw.UmpVersion.major, fw.UmpVersion.minor,
                             fw.UmpVersion.build);
    }
    if (fits && (fw.Flags & FW_HAS_ISCSI) != 0) {
        fits = AppendVersion(path, size, &used, "iS", fw.IscsiVersion.major, fw.IscsiVersion.minor,
                             fw.IscsiVersion.build);
    }
    fits = fits && snprintf(path + used, size - used, ".bin") == 4 && used + 4 < size;
    if (!fits) {
        path[0] = '\0';
        return 0;
    }
    return 1;
}
