// Installed firmware of the adapter ports: the version texts the library
// reports, the NVRAM directory scan that tells which pre-boot image the
// second text belongs to, and NicFwTable, one record per port.
#include "adapter/firmware.h"

#include <cstring>

#include "adapter/binding.h"
#include "adapter/inventory.h"
#include "output/output.h"
#include "base/runflags.h"
#include "base/table.h"

namespace {

// Image signatures, in the three words at image offset +32, +36 and +40.
constexpr uint32_t SIG_PXE = 0x49444E55;
constexpr uint32_t SIG_ISCSI_TOP = 0x49;
constexpr uint32_t SIG_ISCSI_WORD1 = 0x20544253;
constexpr uint32_t SIG_ISCSI_WORD2 = 0x202020;
constexpr uint32_t SIG_CLP_TOP = 0x43;
constexpr uint32_t SIG_CLP_WORD1 = 0x4820504C;
constexpr uint32_t SIG_CLP_WORD2 = 0x205244;
constexpr uint32_t SIG_OFFSET = 32;
constexpr uint32_t DIR_TYPE_IMAGE = 1;

// One big-endian NVRAM word of the port. On failure reports it (debug line,
// then the red line) and returns false.
bool ReadNvramWord(uint32_t handle, uint32_t offset, uint32_t &word) {
    unsigned char bytes[4] = {0, 0, 0, 0};
    OmbriStatus status = OmbriReadFirmware(handle, offset, bytes, 1, OMBRI_ACCESS_ID);
    if (status != 0) {
        debug_print("OmbriReadFirmware() failed %lu\r\n", static_cast<unsigned long>(status));
        Output(ATTR_ERROR, "Failed to read NVRAM!\r\n");
        return false;
    }
    word = (static_cast<uint32_t>(bytes[0]) << 24) | (static_cast<uint32_t>(bytes[1]) << 16) |
           (static_cast<uint32_t>(bytes[2]) << 8) | static_cast<uint32_t>(bytes[3]);
    return true;
}

Version8 Truncate8(const Version &v) {
    return Version8{static_cast<uint8_t>(v.major), static_cast<uint8_t>(v.minor),
                    static_cast<uint8_t>(v.build)};
}

bool CurrentNicValid() {
    return CurrentNic < NicCount && CurrentNic < NicTable.size();
}

} // namespace

int ScanNvramDirectory(bool &pxe_found, bool &clp_found, bool &iscsi_found) {
    if (!CurrentNicValid()) {
        return 1;
    }
    NicEntry &entry = NicTable[CurrentNic];
    const uint32_t handle = entry.Info.Handle;
    for (uint32_t k = 0; k < NVRAM_DIR_ENTRIES; k++) {
        const uint32_t e = NVRAM_DIR_OFFSET + NVRAM_DIR_ENTRY_SIZE * k;
        if (entry.DiagOpen == 0) {
            OmbriStatus status = OmbriInitDiag(handle);
            if (status != 0) {
                debug_print("OmbriInitDiag() failed %lu\n", static_cast<unsigned long>(status));
                return 0;
            }
            entry.DiagOpen = 1;
        }
        uint32_t word = 0;
        if (!ReadNvramWord(handle, e, word)) {
            return 0;
        }
        if ((word >> 28) != DIR_TYPE_IMAGE) {
            continue;
        }
        uint32_t image = 0;
        if (!ReadNvramWord(handle, e + 4, image)) {
            return 0;
        }
        // Image offsets come from the NVRAM: the sums wrap like the
        // library's 32-bit offsets, and the library refuses bad ones.
        if (!ReadNvramWord(handle, image + SIG_OFFSET, word)) {
            return 0;
        }
        if (word == SIG_PXE) {
            pxe_found = true;
            return 1;
        }
        if ((word >> 24) == SIG_ISCSI_TOP) {
            if (!ReadNvramWord(handle, image + SIG_OFFSET + 4, word)) {
                return 0;
            }
            if (word == SIG_ISCSI_WORD1) {
                if (!ReadNvramWord(handle, image + SIG_OFFSET + 8, word)) {
                    return 0;
                }
                if ((word & 0xFFFFFF) == SIG_ISCSI_WORD2) {
                    iscsi_found = true;
                    return 1;
                }
            }
        }
        if (!ReadNvramWord(handle, image + SIG_OFFSET, word)) {
            return 0;
        }
        if ((word >> 24) == SIG_CLP_TOP) {
            if (!ReadNvramWord(handle, image + SIG_OFFSET + 4, word)) {
                return 0;
            }
            if (word == SIG_CLP_WORD1) {
                if (!ReadNvramWord(handle, image + SIG_OFFSET + 8, word)) {
                    return 0;
                }
                if ((word & 0xFFFFFF) == SIG_CLP_WORD2) {
                    // A CLP image does not end the scan: a later PXE or
                    // iSCSI entry adds its kind.
                    clp_found = true;
                }
            }
        }
    }
    return 1;
}

int ReadInstalledFirmware(NicFwInfo &info) {
    if (!CurrentNicValid()) {
        return 1;
    }
    TernFwInfo block;
    std::memset(&block, 0, sizeof block);
    block.InfoVersion = TERN_FW_INFO_VERSION;
    OmbriStatus status = OmbriGetTernFwInfo(NicTable[CurrentNic].Info.Handle, &block);
    int read = 1;
    if (status != 0) {
        debug_print("OmbriGetTernFwInfo() failed %lu\r\n", static_cast<unsigned long>(status));
        read = 0;
    }
    // The texts are used as the block holds them, but never past their fields.
    block.BootCodeVersionText[sizeof block.BootCodeVersionText - 1] = '\0';
    block.PreBootVersionText[sizeof block.PreBootVersionText - 1] = '\0';
    block.UmpVersionText[sizeof block.UmpVersionText - 1] = '\0';

    if (block.BootCodeVersionText[0] != '\0') {
        info.Flags |= FW_HAS_BOOTCODE;
        info.BootCodeVersion = ParseVersionText(block.BootCodeVersionText);
    }
    if (block.PreBootVersionText[0] != '\0') {
        bool pxe = false;
        bool clp = false;
        bool iscsi = false;
        if (ScanNvramDirectory(pxe, clp, iscsi) == 0) {
            read = 0;
        }
        if (pxe) {
            info.Flags |= FW_HAS_PXE;
        }
        if (clp) {
            info.Flags |= FW_HAS_CLP;
        }
        if (iscsi) {
            info.Flags |= FW_HAS_ISCSI;
        }
        Version pre_boot = ParseVersionText(block.PreBootVersionText);
        if (pxe) {
            info.PxeVersion = pre_boot;
        } else if (clp) {
            info.ClpVersion = Truncate8(pre_boot);
        } else if (iscsi) {
            info.IscsiVersion = Truncate8(pre_boot);
        }
    }
    if (block.UmpVersionText[0] != '\0') {
        info.Flags |= FW_HAS_UMP;
        info.UmpVersion = Truncate8(ParseVersionText(block.UmpVersionText));
    }
    return read;
}

int BuildFirmwareTable() {
    if (!TableCreate(NicFwTable, NicCount)) {
        // No record to index: the run goes on as one without adapters.
        ReportAdapterTablesNoMemory();
        NicCount = 0;
        return ADAPTER_OUT_OF_MEMORY;
    }
    for (uint32_t i = 0; i < NicCount && i < NicTable.size(); i++) {
        CurrentNic = i;
        NicEntry &entry = NicTable[i];
        NicFwInfo &record = NicFwTable[i];
        if (!EnterDiagnosticMode(entry)) {
            return 0;
        }
        ReadInstalledFirmware(record);

        std::memcpy(record.MacText, entry.Info.MacText, sizeof record.MacText);
        record.MacText[sizeof record.MacText - 1] = '\0';
        record.VendorId = entry.Info.VendorId;
        record.DeviceId = entry.Info.DeviceId;
        record.SubsystemVendorId = entry.Info.SubsystemVendorId;
        record.SubsystemId = entry.Info.SubsystemId;
        // Up to its NUL, cut to the 79 characters the record holds; the
        // library's field is longer, so the cut also keeps inside it.
        static_assert(sizeof record.Description <= sizeof entry.Info.Description,
                      "the description cut stays inside the library's field");
        size_t length = 0;
        while (length < sizeof record.Description - 1 && entry.Info.Description[length] != '\0') {
            length++;
        }
        std::memcpy(record.Description, entry.Info.Description, length);
        record.Description[length] = '\0';

        LeaveDiagnosticMode(entry);
    }
    return 1;
}

int EnterDiagnosticMode(NicEntry &nic) {
    if (nic.DiagOpen == 0) {
        OmbriStatus status = OmbriInitDiag(nic.Info.Handle);
        if (status != 0) {
            debug_print("OmbriInitDiag() failed %lu\r\n", static_cast<unsigned long>(status));
            return 0;
        }
        nic.DiagOpen = 1;
    }
    return 1;
}

void LeaveDiagnosticMode(NicEntry &nic) {
    if (nic.DiagOpen == 1) {
        OmbriStatus status = OmbriUnInitDiag(nic.Info.Handle);
        if (status != 0) {
            debug_print("OmbriUnInitDiag() failed %lu\r\n", static_cast<unsigned long>(status));
        } else {
            nic.DiagOpen = 0;
        }
    }
}
