// The plan's copy of an image file's identity: the image reader's fields and
// PLAN_BC_FOUND, nothing else of the plan.
#include <cstdio>

#include "adapter/image_file.h"
#include "restore/restore.h"

int ReadImageIdentity(UpgradePlan &plan, const char *path) {
    ImageIdentity identity{};
    if (!ReadImageIdentity(path, identity)) {
        return 0;
    }
    plan.Flags |= PLAN_BC_FOUND;
    plan.ImageVendorId = identity.VendorId;
    plan.ImageDeviceId = identity.DeviceId;
    plan.ImageSubsystemId = identity.SubsystemId;
    plan.ImageSubsystemVendorId = identity.SubsystemVendorId;
    snprintf(plan.ImageMacText, sizeof plan.ImageMacText, "%s", identity.MacText);
    return 1;
}
