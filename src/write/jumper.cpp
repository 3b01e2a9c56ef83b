// The adapter models that carry the write-protect jumper J1: one vendor,
// device and subsystem vendor, and two subsystem IDs, all compared exactly.
#include "write/write.h"

namespace {

constexpr uint16_t JUMPER_VENDOR_ID = 0x1234;
constexpr uint16_t JUMPER_DEVICE_ID = 0xBEEF;
constexpr uint16_t JUMPER_SUBSYSTEM_VENDOR_ID = 0x5678;
constexpr uint16_t JUMPER_SUBSYSTEM_IDS[] = {0x0011, 0x0012};

} // namespace

int HasWriteProtectJumper(const NicFwInfo &info) {
    if (info.VendorId != JUMPER_VENDOR_ID || info.DeviceId != JUMPER_DEVICE_ID ||
        info.SubsystemVendorId != JUMPER_SUBSYSTEM_VENDOR_ID) {
        return 0;
    }
    for (uint16_t id : JUMPER_SUBSYSTEM_IDS) {
        if (info.SubsystemId == id) {
            return 1;
        }
    }
    return 0;
}
