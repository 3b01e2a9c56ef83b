// The installed-firmware report of -c: one line of numbers per supported
// adapter port, its MAC text, PCI identity and installed firmware versions.
#include "adapter/columns.h"
#include "adapter/library.h"
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

} // namespace

int report_installed() {
    // 7.6.1 and everything later.
    const int opened = OpenLibrary({7, 6, 1}, {7, 6, 1});
    if (opened != LIBRARY_OPEN) {
        return opened;
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
