// The upgrade plan: per adapter port, the image chosen for each firmware
// component, the version it holds, and which images are to be written.
// PlanTable runs parallel to NicTable and NicFwTable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "adapter/firmware.h"
#include "platform/platform.h"

constexpr size_t PLAN_MAC_TEXT_SIZE = 16;

struct UpgradePlan {
    uint32_t Flags;
    char BootCodePath[PLAT_PATH_MAX]; // also the chosen backup image in a restore run
    char PxePath[PLAT_PATH_MAX];
    char UmpPath[PLAT_PATH_MAX];
    char ClpPath[PLAT_PATH_MAX];
    char IscsiPath[PLAT_PATH_MAX];
    char IscsiStubPath[PLAT_PATH_MAX];
    Version BootCodeVersion;
    uint16_t ImageDeviceId;
    uint16_t ImageSubsystemId;
    uint16_t ImageVendorId;
    uint16_t ImageSubsystemVendorId;
    char ImageMacText[PLAN_MAC_TEXT_SIZE];
    Version PxeVersion;
    Version UmpVersion;
    Version ClpVersion;
    Version IscsiVersion; // shared by the iSCSI and the iSCSI stub image
};

static_assert(sizeof(Version) == 12, "Version layout");
static_assert(offsetof(UpgradePlan, Flags) == 0, "UpgradePlan layout");
static_assert(offsetof(UpgradePlan, BootCodePath) == 4, "UpgradePlan layout");
static_assert(offsetof(UpgradePlan, PxePath) == 264, "UpgradePlan layout");
static_assert(offsetof(UpgradePlan, UmpPath) == 524, "UpgradePlan layout");
static_assert(offsetof(UpgradePlan, ClpPath) == 784, "UpgradePlan layout");
static_assert(offsetof(UpgradePlan, IscsiPath) == 1044, "UpgradePlan layout");
static_assert(offsetof(UpgradePlan, IscsiStubPath) == 1304, "UpgradePlan layout");
static_assert(offsetof(UpgradePlan, BootCodeVersion) == 1564, "UpgradePlan layout");
static_assert(offsetof(UpgradePlan, ImageDeviceId) == 1576, "UpgradePlan layout");
static_assert(offsetof(UpgradePlan, ImageSubsystemId) == 1578, "UpgradePlan layout");
static_assert(offsetof(UpgradePlan, ImageVendorId) == 1580, "UpgradePlan layout");
static_assert(offsetof(UpgradePlan, ImageSubsystemVendorId) == 1582, "UpgradePlan layout");
static_assert(offsetof(UpgradePlan, ImageMacText) == 1584, "UpgradePlan layout");
static_assert(offsetof(UpgradePlan, PxeVersion) == 1600, "UpgradePlan layout");
static_assert(offsetof(UpgradePlan, UmpVersion) == 1612, "UpgradePlan layout");
static_assert(offsetof(UpgradePlan, ClpVersion) == 1624, "UpgradePlan layout");
static_assert(offsetof(UpgradePlan, IscsiVersion) == 1636, "UpgradePlan layout");
static_assert(sizeof(UpgradePlan) == 1648, "UpgradePlan layout");

// Flags bits. 0x40 and everything above 0x4000 are unused.
constexpr uint32_t PLAN_PXE_FOUND = 0x1;
constexpr uint32_t PLAN_BC_FOUND = 0x2;
constexpr uint32_t PLAN_RESTORE_CONFIRMED = 0x4;
constexpr uint32_t PLAN_BC_CONFIRMED = 0x8;
constexpr uint32_t PLAN_PXE_CONFIRMED = 0x10;
// A restore candidate whose versions were read from its file name; without it
// the saved image's versions are unknown (a renamed file).
constexpr uint32_t PLAN_VERSIONS_KNOWN = 0x20;
constexpr uint32_t PLAN_UMP_FOUND = 0x80;
constexpr uint32_t PLAN_UMP_CONFIRMED = 0x100;
constexpr uint32_t PLAN_CLP_FOUND = 0x200;
constexpr uint32_t PLAN_CLP_CONFIRMED = 0x400;
constexpr uint32_t PLAN_ISCSI_FOUND = 0x800;
constexpr uint32_t PLAN_ISCSI_STUB_FOUND = 0x1000;
constexpr uint32_t PLAN_ISCSI_CONFIRMED = 0x2000;
constexpr uint32_t PLAN_ISCSI_STUB_CONFIRMED = 0x4000;

// The operator's answers (PromptYesNoQuit and the confirm routines).
constexpr int ANSWER_YES = 0;
constexpr int ANSWER_NO = 1;
constexpr int ANSWER_QUIT = 2;

// One record per port, same index as NicTable; created zero-filled by the upgrade run.
extern std::vector<UpgradePlan> PlanTable;
