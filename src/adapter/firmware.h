// Installed firmware of every port: versions, identity and MAC text, one
// NicFwInfo per port in NicFwTable, at the same index as its NicEntry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "adapter/inventory.h"

struct Version {
    uint32_t major;
    uint32_t minor;
    uint32_t build;
};

struct Version8 {
    uint8_t major;
    uint8_t minor;
    uint8_t build;
};

constexpr uint32_t FW_HAS_PXE = 0x1;
constexpr uint32_t FW_HAS_BOOTCODE = 0x2;
constexpr uint32_t FW_ANNOUNCED = 0x4;
constexpr uint32_t FW_HAS_UMP = 0x20;
constexpr uint32_t FW_HAS_CLP = 0x40;
constexpr uint32_t FW_HAS_ISCSI = 0x80;

constexpr unsigned NIC_DESCRIPTION_SIZE = 80; // 79 characters and the NUL

struct NicFwInfo {
    uint32_t Flags;
    char Description[NIC_DESCRIPTION_SIZE];
    Version BootCodeVersion;
    uint16_t DeviceId;
    uint16_t SubsystemId;
    uint16_t VendorId;
    uint16_t SubsystemVendorId;
    char MacText[13];
    Version PxeVersion;
    Version8 UmpVersion;
    Version8 ClpVersion;
    Version8 IscsiVersion;
};

// The 8-bit versions as 32-bit numbers, for comparing and printing.
constexpr Version Widen(const Version8 &v) {
    return Version{v.major, v.minor, v.build};
}

extern std::vector<NicFwInfo> NicFwTable;

// Fills NicFwTable for every port of NicTable. Returns 0 when OmbriInitDiag failed.
int BuildFirmwareTable();
// Diagnostic mode around a read of the port's firmware. Enter calls
// OmbriInitDiag unless the port is in the mode already; on a failure it prints
// the debug line and returns 0. Leave calls OmbriUnInitDiag when the port is
// in the mode; on a failure it prints the debug line and the port stays marked.
int EnterDiagnosticMode(NicEntry &nic);
void LeaveDiagnosticMode(NicEntry &nic);
// Reads the installed versions of the port at CurrentNic into info. Returns 1,
// or 0 when a library call of the read failed (the texts or the NVRAM scan);
// what was read is filled in all the same.
int ReadInstalledFirmware(NicFwInfo &info);
// Walks the NVRAM directory of the port at CurrentNic for pre-boot images.
// Returns 1, or 0 when a library call failed (the kinds found so far stand).
int ScanNvramDirectory(bool &pxe_found, bool &clp_found, bool &iscsi_found);
// One number of a version text, read as atoi reads it (see version.cpp); the
// library's and the catalogue's texts share it, so equal texts give equal numbers.
uint32_t AtoiValue(const char *text, size_t length);
// Right-to-left parse of a library version text.
Version ParseVersionText(const char *text);

// The version by which the reports show an installed iSCSI image as the iSCSI
// stub: an image of exactly this version shows in both iSCSI columns.
constexpr Version ISCSI_STUB_VERSION = {1, 0, 0};

// BuildFirmwareTable returns ADAPTER_OUT_OF_MEMORY (inventory.h) when
// NicFwTable cannot be created; it has then printed the red message and set
// NicCount to 0, so that nothing indexes the missing records.
