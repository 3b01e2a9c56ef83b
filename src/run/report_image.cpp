// The image report of -I: the identity of the adapter that an image file
// belongs to, as read from the file, and its version columns.
#include <initializer_list>

#include "adapter/columns.h"
#include "base/runflags.h"
#include "output/output.h"
#include "restore/restore.h"
#include "run/reports.h"

int report_image() {
    // A file that cannot be read or is no image leaves the record zero; the
    // reader has said why, and the line is printed all the same.
    UpgradePlan plan{};
    ReadImageIdentity(plan, ImageFileArg);
    Output(0, "%s %s %04lX-%04lX-%04lX-%04lX %d %d ", ImageFileArg, plan.ImageMacText,
           static_cast<unsigned long>(plan.ImageVendorId),
           static_cast<unsigned long>(plan.ImageDeviceId),
           static_cast<unsigned long>(plan.ImageSubsystemVendorId),
           static_cast<unsigned long>(plan.ImageSubsystemId),
           static_cast<int>(plan.BootCodeVersion.major),
           static_cast<int>(plan.BootCodeVersion.minor));
    // PXE ends its line only when it shows a version; UMP, CLP and iSCSI always.
    if (plan.PxeVersion.major != 0) {
        PrintVersion(plan.PxeVersion);
        Output(0, "\n");
    } else {
        PrintNoVersion();
    }
    for (const Version *v : {&plan.UmpVersion, &plan.ClpVersion, &plan.IscsiVersion}) {
        PrintVersionColumn(*v);
        Output(0, "\n");
    }
    return 1;
}
