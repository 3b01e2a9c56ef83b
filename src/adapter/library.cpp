// Opening and closing the adapter library for a report or an upgrade run.
#include "adapter/library.h"

#include "adapter/binding.h"
#include "output/output.h"

namespace {

bool AtLeast(uint32_t major, uint32_t minor, uint32_t build, const Version &lowest) {
    if (major != lowest.major) {
        return major > lowest.major;
    }
    if (minor != lowest.minor) {
        return minor > lowest.minor;
    }
    return build >= lowest.build;
}

} // namespace

int OpenLibrary(const Version &lowest, const Version &named) {
    if (!OmbriBind()) {
        return 0;
    }
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t build = 0;
    OmbriGetVersion(&major, &minor, &build);
    if (!AtLeast(major, minor, build, lowest)) {
        Output(0,
               "Unsupported OMBRI version %lu.%lu.%lu.\r\nExpect OMBRI version %lu.%lu.%lu or "
               "later.\r\n",
               static_cast<unsigned long>(major), static_cast<unsigned long>(minor),
               static_cast<unsigned long>(build), static_cast<unsigned long>(named.major),
               static_cast<unsigned long>(named.minor), static_cast<unsigned long>(named.build));
        OmbriUnbind();
        return 3;
    }
    OmbriStatus status = OmbriInitializeEx(0);
    if (status != 0) {
        debug_print("OmbriInitializeEx() failed %lu\r\n", static_cast<unsigned long>(status));
        OmbriUnbind();
        return 0;
    }
    return LIBRARY_OPEN;
}

int CloseLibrary(int exit_code) {
    OmbriUninitialize();
    OmbriUnbind();
    return exit_code;
}
