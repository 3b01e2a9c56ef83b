// The fake adapter library behind fake_ombri.h.
#include "fake_ombri.h"

#include <cstdio>
#include <cstring>

#include "adapter/binding.h"
#include "adapter/firmware.h"
#include "adapter/inventory.h"
#include "run/runflags.h"

namespace fake {

Library Lib;

namespace {

constexpr OmbriStatus BAD_HANDLE = 0xE0000006;
constexpr OmbriStatus BAD_OFFSET = 0xE0000022;

// Records the call; true when the injection makes this call fail.
bool Record(const char *op, uint32_t arg, bool with_arg) {
    std::string line(op);
    if (with_arg) {
        line += " " + std::to_string(arg);
    }
    Lib.Calls.push_back(line);
    if (Lib.FailOp == op && Lib.FailAt > 0 && CallCount(op) == Lib.FailAt) {
        return true;
    }
    return false;
}

void Misuse(const std::string &what) {
    Lib.Misuse.push_back(what);
}

bool AllZero(const void *data, size_t size, size_t skip) {
    const unsigned char *bytes = static_cast<const unsigned char *>(data);
    for (size_t i = skip; i < size; i++) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

Adapter *ByListHandle(uint32_t handle) {
    for (Adapter &a : Lib.Adapters) {
        if (a.ListHandle == handle) {
            return &a;
        }
    }
    return nullptr;
}

Adapter *ByHandle(uint32_t handle) {
    for (Adapter &a : Lib.Adapters) {
        if (a.Info.Handle == handle) {
            return &a;
        }
    }
    return nullptr;
}

OmbriStatus GetVersion(uint32_t *major, uint32_t *minor, uint32_t *build) {
    Record("OmbriGetVersion", 0, false);
    *major = Lib.Version[0];
    *minor = Lib.Version[1];
    *build = Lib.Version[2];
    return 0;
}

OmbriStatus InitializeEx(uint32_t flags) {
    if (Record("OmbriInitializeEx", flags, true)) {
        return Lib.FailStatus;
    }
    if (flags != 0) {
        Misuse("OmbriInitializeEx flags not 0");
    }
    if (Lib.InitializeStatus == 0) {
        Lib.Initialized = true;
    }
    return Lib.InitializeStatus;
}

OmbriStatus Uninitialize() {
    Record("OmbriUninitialize", 0, false);
    if (!Lib.Initialized) {
        Misuse("OmbriUninitialize without OmbriInitializeEx");
    }
    Lib.Initialized = false;
    Lib.Uninitialized++;
    return 0;
}

OmbriStatus GetNumPhyNicEx(uint32_t *count) {
    if (Record("OmbriGetNumPhyNicEx", 0, false)) {
        return Lib.FailStatus;
    }
    if (!Lib.Initialized) {
        Misuse("OmbriGetNumPhyNicEx before OmbriInitializeEx");
    }
    *count = Lib.CountOverride ? Lib.Count : static_cast<uint32_t>(Lib.Adapters.size());
    return Lib.CountStatus;
}

OmbriStatus GetAllPhyNicHandles(uint32_t *handles, uint32_t count) {
    if (Record("OmbriGetAllPhyNicHandles", count, true)) {
        return Lib.FailStatus;
    }
    if (Lib.HandlesStatus != 0) {
        return Lib.HandlesStatus;
    }
    for (uint32_t i = 0; i < count && i < Lib.Adapters.size(); i++) {
        handles[i] = Lib.Adapters[i].ListHandle;
    }
    return 0;
}

OmbriStatus GetNicInfo(uint32_t handle, NicInfo *info) {
    if (Record("OmbriGetNicInfo", handle, true)) {
        return Lib.FailStatus;
    }
    if (info->InfoVersion != NIC_INFO_VERSION || !AllZero(info, sizeof *info, 4)) {
        Misuse("OmbriGetNicInfo block not prepared");
    }
    Adapter *a = ByListHandle(handle);
    if (a == nullptr) {
        return BAD_HANDLE;
    }
    if (a->NicInfoStatus != 0) {
        return a->NicInfoStatus;
    }
    *info = a->Info;
    return 0;
}

OmbriStatus GetNicAuxInfo(uint32_t handle, NicAuxInfo *aux) {
    if (Record("OmbriGetNicAuxInfo", handle, true)) {
        return Lib.FailStatus;
    }
    if (aux->InfoVersion != NIC_AUX_INFO_VERSION || !AllZero(aux, sizeof *aux, 4)) {
        Misuse("OmbriGetNicAuxInfo block not prepared");
    }
    Adapter *a = ByListHandle(handle);
    if (a == nullptr) {
        return BAD_HANDLE;
    }
    if (a->AuxStatus != 0) {
        return a->AuxStatus;
    }
    aux->Reserved4[0] = a->AuxMark;
    return 0;
}

OmbriStatus InitDiag(uint32_t handle) {
    if (Record("OmbriInitDiag", handle, true)) {
        return Lib.FailStatus;
    }
    Adapter *a = ByHandle(handle);
    if (a == nullptr) {
        return BAD_HANDLE;
    }
    if (a->InitDiagStatus != 0) {
        return a->InitDiagStatus;
    }
    if (a->InDiag) {
        Misuse("OmbriInitDiag while in diagnostic mode");
    }
    a->InDiag = true;
    return 0;
}

OmbriStatus UnInitDiag(uint32_t handle) {
    if (Record("OmbriUnInitDiag", handle, true)) {
        return Lib.FailStatus;
    }
    Adapter *a = ByHandle(handle);
    if (a == nullptr) {
        return BAD_HANDLE;
    }
    if (a->UnInitDiagStatus != 0) {
        return a->UnInitDiagStatus;
    }
    if (!a->InDiag) {
        Misuse("OmbriUnInitDiag outside diagnostic mode");
    }
    a->InDiag = false;
    return 0;
}

OmbriStatus ReadFirmware(uint32_t handle, uint32_t offset, void *buffer, uint32_t words,
                         const char *access_id) {
    Lib.Reads.push_back(offset);
    if (Record("OmbriReadFirmware", offset, true)) {
        return Lib.FailStatus;
    }
    if (words != 1 || access_id == nullptr || std::strcmp(access_id, OMBRI_ACCESS_ID) != 0) {
        Misuse("OmbriReadFirmware arguments");
    }
    Adapter *a = ByHandle(handle);
    if (a == nullptr) {
        return BAD_HANDLE;
    }
    if (!a->InDiag) {
        Misuse("OmbriReadFirmware outside diagnostic mode");
    }
    if (offset > a->Nvram.size() || a->Nvram.size() - offset < 4) {
        return BAD_OFFSET;
    }
    std::memcpy(buffer, a->Nvram.data() + offset, 4);
    return 0;
}

OmbriStatus GetTernFwInfo(uint32_t handle, TernFwInfo *info) {
    if (Record("OmbriGetTernFwInfo", handle, true)) {
        return Lib.FailStatus;
    }
    if (info->InfoVersion != TERN_FW_INFO_VERSION || !AllZero(info, sizeof *info, 4)) {
        Misuse("OmbriGetTernFwInfo block not prepared");
    }
    Adapter *a = ByHandle(handle);
    if (a == nullptr) {
        return BAD_HANDLE;
    }
    if (!a->InDiag) {
        Misuse("OmbriGetTernFwInfo outside diagnostic mode");
    }
    if (a->TernStatus != 0) {
        return a->TernStatus;
    }
    *info = a->Tern;
    info->InfoVersion = TERN_FW_INFO_VERSION;
    return 0;
}

void ClearRunState() {
    RunFlags = 0;
    CurrentNic = 0;
    NicCount = 0;
    std::vector<NicEntry>().swap(NicTable);
    std::vector<NicFwInfo>().swap(NicFwTable);
}

} // namespace

void Reset() {
    Lib = Library();
    ClearRunState();
    OmbriGetVersion = GetVersion;
    OmbriInitializeEx = InitializeEx;
    OmbriUninitialize = Uninitialize;
    OmbriGetNumPhyNicEx = GetNumPhyNicEx;
    OmbriGetAllPhyNicHandles = GetAllPhyNicHandles;
    OmbriGetNicInfo = GetNicInfo;
    OmbriGetNicAuxInfo = GetNicAuxInfo;
    OmbriInitDiag = InitDiag;
    OmbriUnInitDiag = UnInitDiag;
    OmbriReadFirmware = ReadFirmware;
    OmbriGetTernFwInfo = GetTernFwInfo;
}

void Uninstall() {
    OmbriGetVersion = nullptr;
    OmbriInitializeEx = nullptr;
    OmbriUninitialize = nullptr;
    OmbriGetNumPhyNicEx = nullptr;
    OmbriGetAllPhyNicHandles = nullptr;
    OmbriGetNicInfo = nullptr;
    OmbriGetNicAuxInfo = nullptr;
    OmbriInitDiag = nullptr;
    OmbriUnInitDiag = nullptr;
    OmbriReadFirmware = nullptr;
    OmbriGetTernFwInfo = nullptr;
    ClearRunState();
}

Adapter SupportedAdapter(uint32_t list_handle, uint32_t handle, const char *description,
                         const char *mac, uint16_t vendor, uint16_t device,
                         uint16_t subsystem_vendor, uint16_t subsystem) {
    Adapter a;
    a.ListHandle = list_handle;
    a.Info.InfoVersion = NIC_INFO_VERSION;
    a.Info.AdapterType = ADAPTER_TYPE_SUPPORTED;
    a.Info.Handle = handle;
    std::snprintf(a.Info.Description, sizeof a.Info.Description, "%s", description);
    std::snprintf(a.Info.MacText, sizeof a.Info.MacText, "%s", mac);
    a.Info.VendorId = vendor;
    a.Info.DeviceId = device;
    a.Info.SubsystemVendorId = subsystem_vendor;
    a.Info.SubsystemId = subsystem;
    a.Nvram = BlankNvram();
    return a;
}

void SetTexts(Adapter &adapter, const char *boot_code, const char *pre_boot, const char *ump) {
    std::snprintf(adapter.Tern.BootCodeVersionText, sizeof adapter.Tern.BootCodeVersionText, "%s",
                  boot_code);
    std::snprintf(adapter.Tern.PreBootVersionText, sizeof adapter.Tern.PreBootVersionText, "%s",
                  pre_boot);
    std::snprintf(adapter.Tern.UmpVersionText, sizeof adapter.Tern.UmpVersionText, "%s", ump);
}

std::vector<uint8_t> BlankNvram() {
    return std::vector<uint8_t>(4096, 0);
}

void Put32(std::vector<uint8_t> &nvram, uint32_t offset, uint32_t value) {
    nvram.at(offset) = static_cast<uint8_t>(value >> 24);
    nvram.at(offset + 1) = static_cast<uint8_t>(value >> 16);
    nvram.at(offset + 2) = static_cast<uint8_t>(value >> 8);
    nvram.at(offset + 3) = static_cast<uint8_t>(value);
}

void PutDirEntry(std::vector<uint8_t> &nvram, uint32_t k, uint32_t type, uint32_t image) {
    uint32_t e = NVRAM_DIR_OFFSET + NVRAM_DIR_ENTRY_SIZE * k;
    Put32(nvram, e, (type << 28) | 0x0000ABCD);
    Put32(nvram, e + 4, image);
    Put32(nvram, e + 8, 0xDEADBEEF);
}

void PutPxeImage(std::vector<uint8_t> &nvram, uint32_t image) {
    Put32(nvram, image + 32, 0x49444E55);
}

void PutClpImage(std::vector<uint8_t> &nvram, uint32_t image) {
    Put32(nvram, image + 32, 0x43AABBCC);
    Put32(nvram, image + 36, 0x4820504C);
    Put32(nvram, image + 40, 0xFF205244);
}

void PutIscsiImage(std::vector<uint8_t> &nvram, uint32_t image) {
    Put32(nvram, image + 32, 0x49112233);
    Put32(nvram, image + 36, 0x20544253);
    Put32(nvram, image + 40, 0x77202020);
}

int CallCount(const std::string &op) {
    int n = 0;
    for (const std::string &line : Lib.Calls) {
        if (line == op || line.compare(0, op.size() + 1, op + " ") == 0) {
            n++;
        }
    }
    return n;
}

} // namespace fake
