// The version columns shared by the report lines of -c, -I, -l and -a.
#include "adapter/columns.h"

#include "output/output.h"

void PrintAdapterIdentity(uint32_t index, const NicFwInfo &fw) {
    Output(0, "%d %-12.12s %04lX-%04lX-%04lX-%04lX ", static_cast<int>(index), fw.MacText,
           static_cast<unsigned long>(fw.VendorId), static_cast<unsigned long>(fw.DeviceId),
           static_cast<unsigned long>(fw.SubsystemVendorId),
           static_cast<unsigned long>(fw.SubsystemId));
}

void PrintVersion(const Version &v) {
    Output(0, "%d %d %d ", static_cast<int>(v.major), static_cast<int>(v.minor),
           static_cast<int>(v.build));
}

void PrintNoVersion() {
    Output(0, "- - - ");
}

void PrintVersionColumn(const Version &v) {
    if (v.major != 0) {
        PrintVersion(v);
    } else {
        PrintNoVersion();
    }
}

void PrintVersionColumn(const Version8 &v) {
    PrintVersionColumn(Widen(v));
}
