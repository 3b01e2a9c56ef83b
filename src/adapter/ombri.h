// The binary interface of the adapter-management library OMBRIa.DLL: its
// eleven operations with their ordinals, and the three blocks it fills. The
// simulated library under sim/ includes this same header, so there is one
// definition of the interface. Every operation returns 0 for success, any other
// value is the library's error code.
#pragma once

#include <cstddef>
#include <cstdint>

typedef uint32_t OmbriStatus;

constexpr uint32_t ADAPTER_TYPE_SUPPORTED = 4;

constexpr uint32_t NIC_INFO_VERSION = 10;
constexpr uint32_t NIC_AUX_INFO_VERSION = 8;
constexpr uint32_t TERN_FW_INFO_VERSION = 2;

// Access identifier passed to every NVRAM read.
constexpr const char *OMBRI_ACCESS_ID = "{5B2E7A14-3C9D-4F60-8E21-A7C4D9B03F58}";

// Per-adapter information, 928 bytes, little-endian.
struct NicInfo {
    uint32_t InfoVersion; // 10 before the call; 0 marks a dropped adapter afterwards
    uint8_t InfoFlags;    // bit 0: the adapter is not taken
    uint8_t Reserved5[3];
    uint32_t AdapterType; // ADAPTER_TYPE_SUPPORTED is taken
    uint32_t Handle;      // for the per-adapter operations
    uint8_t Reserved16[164];
    char Description[168]; // NUL-terminated display name
    char MacText[13];      // 12 upper-case hex digits, NUL
    uint8_t Reserved361[67];
    uint16_t VendorId;
    uint16_t Reserved430;
    uint16_t DeviceId;
    uint16_t Reserved434;
    uint16_t SubsystemVendorId;
    uint16_t Reserved438;
    uint16_t SubsystemId;
    uint16_t Reserved442;
    uint8_t Reserved444[484];
};
static_assert(sizeof(NicInfo) == 928, "NicInfo layout");
static_assert(offsetof(NicInfo, InfoVersion) == 0, "NicInfo layout");
static_assert(offsetof(NicInfo, InfoFlags) == 4, "NicInfo layout");
static_assert(offsetof(NicInfo, AdapterType) == 8, "NicInfo layout");
static_assert(offsetof(NicInfo, Handle) == 12, "NicInfo layout");
static_assert(offsetof(NicInfo, Description) == 180, "NicInfo layout");
static_assert(offsetof(NicInfo, MacText) == 348, "NicInfo layout");
static_assert(offsetof(NicInfo, VendorId) == 428, "NicInfo layout");
static_assert(offsetof(NicInfo, DeviceId) == 432, "NicInfo layout");
static_assert(offsetof(NicInfo, SubsystemVendorId) == 436, "NicInfo layout");
static_assert(offsetof(NicInfo, SubsystemId) == 440, "NicInfo layout");

// Auxiliary information, 184 bytes; only InfoVersion is named.
struct NicAuxInfo {
    uint32_t InfoVersion; // 8 before the call
    uint8_t Reserved4[180];
};
static_assert(sizeof(NicAuxInfo) == 184, "NicAuxInfo layout");
static_assert(offsetof(NicAuxInfo, InfoVersion) == 0, "NicAuxInfo layout");

// Installed firmware version texts, 164 bytes.
struct TernFwInfo {
    uint32_t InfoVersion; // 2 before the call
    char BootCodeVersionText[32];
    char PreBootVersionText[32]; // PXE, CLP or iSCSI
    char UmpVersionText[32];
    uint8_t Reserved100[64];
};
static_assert(sizeof(TernFwInfo) == 164, "TernFwInfo layout");
static_assert(offsetof(TernFwInfo, InfoVersion) == 0, "TernFwInfo layout");
static_assert(offsetof(TernFwInfo, BootCodeVersionText) == 4, "TernFwInfo layout");
static_assert(offsetof(TernFwInfo, PreBootVersionText) == 36, "TernFwInfo layout");
static_assert(offsetof(TernFwInfo, UmpVersionText) == 68, "TernFwInfo layout");

// The operations, with their ordinals.
typedef OmbriStatus OmbriGetVersion_t(uint32_t *major, uint32_t *minor, uint32_t *build);
typedef OmbriStatus OmbriInitializeEx_t(uint32_t flags);
typedef OmbriStatus OmbriUninitialize_t();
typedef OmbriStatus OmbriGetNumPhyNicEx_t(uint32_t *count);
typedef OmbriStatus OmbriGetAllPhyNicHandles_t(uint32_t *handles, uint32_t count);
typedef OmbriStatus OmbriGetNicInfo_t(uint32_t handle, NicInfo *info);
typedef OmbriStatus OmbriGetNicAuxInfo_t(uint32_t handle, NicAuxInfo *aux);
typedef OmbriStatus OmbriInitDiag_t(uint32_t handle);
typedef OmbriStatus OmbriUnInitDiag_t(uint32_t handle);
typedef OmbriStatus OmbriReadFirmware_t(uint32_t handle, uint32_t offset, void *buffer,
                                        uint32_t words, const char *access_id);
typedef OmbriStatus OmbriGetTernFwInfo_t(uint32_t handle, TernFwInfo *info);

constexpr unsigned ORDINAL_OmbriGetVersion = 1;
constexpr unsigned ORDINAL_OmbriInitializeEx = 34;
constexpr unsigned ORDINAL_OmbriUninitialize = 3;
constexpr unsigned ORDINAL_OmbriGetNumPhyNicEx = 49;
constexpr unsigned ORDINAL_OmbriGetAllPhyNicHandles = 50;
constexpr unsigned ORDINAL_OmbriGetNicInfo = 51;
constexpr unsigned ORDINAL_OmbriGetNicAuxInfo = 77;
constexpr unsigned ORDINAL_OmbriInitDiag = 47;
constexpr unsigned ORDINAL_OmbriUnInitDiag = 48;
constexpr unsigned ORDINAL_OmbriReadFirmware = 68;
constexpr unsigned ORDINAL_OmbriGetTernFwInfo = 104;

// NVRAM image layout (offsets in bytes, values big-endian).
constexpr uint32_t NVRAM_MAGIC = 0x669955AA;
constexpr uint32_t NVRAM_DIR_OFFSET = 24; // 16 entries of 12 bytes
constexpr uint32_t NVRAM_DIR_ENTRIES = 16;
constexpr uint32_t NVRAM_DIR_ENTRY_SIZE = 12;
constexpr uint32_t NVRAM_VENDOR_ID_OFFSET = 260;
constexpr uint32_t NVRAM_DEVICE_ID_OFFSET = 262;
constexpr uint32_t NVRAM_SUBSYSTEM_ID_OFFSET = 264;
constexpr uint32_t NVRAM_SUBSYSTEM_VENDOR_ID_OFFSET = 266;
constexpr uint32_t NVRAM_MAC_OFFSET = 310;
