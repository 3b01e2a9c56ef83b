// The installed-firmware report of -c: one line of numbers per supported
// adapter port, its MAC text, PCI identity and installed firmware versions.
#include "adapter/columns.h"
#include "adapter/binding.h"
#include "adapter/firmware.h"
#include "adapter/inventory.h"
#include "output/output.h"
#include "run/reports.h"

namespace {

void PrintStubColumn(const Version8 &iscsi) {
    if (iscsi.major == ISCSI_STUB_VERSION.major && iscsi.minor == ISCSI_STUB_VERSION.minor &&
        iscsi.build == ISCSI_STUB_VERSION.build) {
        PrintVersion(ISCSI_STUB_VERSION);
    } else {
        PrintNoVersion();
    }
}

void PrintAdapterLine(uint32_t index, const NicFwInfo &fw) {
    PrintAdapterIdentity(index, fw);
    PrintVersion(fw.BootCodeVersion);
    PrintVersionColumn(fw.PxeVersion);
    PrintVersionColumn(fw.UmpVersion);
    PrintVersionColumn(fw.ClpVersion);
    PrintVersionColumn(fw.IscsiVersion);
    PrintStubColumn(fw.IscsiVersion);
    Output(0, " %s \n", fw.Description);
}

// 7.6.1 and everything later.
bool LibraryVersionAccepted(uint32_t major, uint32_t minor, uint32_t build) {
    if (major != 7) {
        return major > 7;
    }
    if (minor != 6) {
        return minor > 6;
    }
    return build != 0;
}

// The library is closed on every way out once it was initialised.
int CloseLibrary(int exit_code) {
    OmbriUninitialize();
    OmbriUnbind();
    return exit_code;
}

} // namespace

int report_installed() {
    if (!OmbriBind()) {
        return 0;
    }
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t build = 0;
    OmbriGetVersion(&major, &minor, &build);
    if (!LibraryVersionAccepted(major, minor, build)) {
        Output(0,
               "Unsupported OMBRI version %lu.%lu.%lu.\r\nExpect OMBRI version %lu.%lu.%lu or "
               "later.\r\n",
               static_cast<unsigned long>(major), static_cast<unsigned long>(minor),
               static_cast<unsigned long>(build), 7ul, 6ul, 1ul);
        OmbriUnbind();
        return 3;
    }
    OmbriStatus status = OmbriInitializeEx(0);
    if (status != 0) {
        debug_print("OmbriInitializeEx() failed %lu\r\n", static_cast<unsigned long>(status));
        OmbriUnbind();
        return 0;
    }

    if (EnumerateAdapters() == ADAPTER_OUT_OF_MEMORY) {
        return CloseLibrary(0);
    }
    if (NicCount == 0) {
        return CloseLibrary(3);
    }
    if (BuildFirmwareTable() == ADAPTER_OUT_OF_MEMORY) {
        return CloseLibrary(0);
    }
    for (uint32_t i = 0; i < NicCount; i++) {
        PrintAdapterLine(i, NicFwTable[i]);
    }
    return CloseLibrary(1);
}
