// A fake adapter library for the unit tests: the eleven operations served from
// plain data (adapters, version texts, NVRAM bytes), every call recorded, and a
// failing status injectable at a chosen call.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "adapter/ombri.h"
#include "run/runflags.h"

namespace fake {

struct Adapter {
    uint32_t ListHandle = 0; // what OmbriGetAllPhyNicHandles lists
    NicInfo Info{};          // what OmbriGetNicInfo returns (Info.Handle: per-port handle)
    OmbriStatus NicInfoStatus = 0;
    OmbriStatus AuxStatus = 0;
    uint8_t AuxMark = 0; // written into byte 4 of the aux block, to follow the copy
    TernFwInfo Tern{};   // the version texts
    OmbriStatus TernStatus = 0;
    std::vector<uint8_t> Nvram;
    OmbriStatus InitDiagStatus = 0;
    OmbriStatus UnInitDiagStatus = 0;
    bool InDiag = false; // the fake's own view of diagnostic mode
};

struct Library {
    uint32_t Version[3] = {7, 6, 1};
    OmbriStatus InitializeStatus = 0;
    OmbriStatus CountStatus = 0;
    bool CountOverride = false; // report Count instead of the number of adapters
    uint32_t Count = 0;
    OmbriStatus HandlesStatus = 0;
    std::vector<Adapter> Adapters;

    // Injection: call number FailAt (1-based) of operation FailOp returns FailStatus.
    std::string FailOp;
    int FailAt = 0;
    OmbriStatus FailStatus = 0;

    // Records.
    std::vector<std::string> Calls;  // "OmbriInitDiag 201", in call order
    std::vector<uint32_t> Reads;     // NVRAM offsets of OmbriReadFirmware, in order
    std::vector<std::string> Misuse; // protocol violations seen by the fake
    bool Initialized = false;
    int Uninitialized = 0;
};

extern Library Lib;

// Fresh fake state, all eleven binding pointers aimed at the fake, and the
// process-wide run state (RunFlags, CurrentNic, tables) cleared.
void Reset();
// Clears the binding pointers and the tables again.
void Uninstall();

// A supported adapter port (type 4, flags 0) with the given texts and identity.
Adapter SupportedAdapter(uint32_t list_handle, uint32_t handle, const char *description,
                         const char *mac, uint16_t vendor, uint16_t device,
                         uint16_t subsystem_vendor, uint16_t subsystem);
void SetTexts(Adapter &adapter, const char *boot_code, const char *pre_boot, const char *ump);

// NVRAM building: a 4 KiB image of zeros, big-endian words, directory entries
// and image signatures.
std::vector<uint8_t> BlankNvram();
void Put32(std::vector<uint8_t> &nvram, uint32_t offset, uint32_t value);
// Directory entry k: type in the top four bits of word 0, image offset in word 1.
void PutDirEntry(std::vector<uint8_t> &nvram, uint32_t k, uint32_t type, uint32_t image);
void PutPxeImage(std::vector<uint8_t> &nvram, uint32_t image);
void PutClpImage(std::vector<uint8_t> &nvram, uint32_t image);
void PutIscsiImage(std::vector<uint8_t> &nvram, uint32_t image);

int CallCount(const std::string &op);

// Why a test that makes the tables' allocation fail cannot run here, or null
// when it can: the sanitizer's allocator aborts on such requests, and a host
// that overcommits memory without limit would grant them.
inline const char *HugeAllocationSkipReason() {
#if defined(__SANITIZE_ADDRESS__)
    return "the sanitizer's allocator aborts on requests of this size";
#else
    FILE *policy = std::fopen("/proc/sys/vm/overcommit_memory", "r");
    int mode = policy != nullptr ? std::fgetc(policy) : '0';
    if (policy != nullptr) {
        std::fclose(policy);
    }
    return mode == '1' ? "memory is overcommitted without limit on this host" : nullptr;
#endif
}

// Fixture: Reset before, Uninstall after every test.
class AdapterTest : public ::testing::Test {
  protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Uninstall(); }
    // Runs a routine with -debug, keeping what it printed in out and err.
    int RunCaptured(int (*routine)()) {
        RunFlags |= RUN_DEBUG;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int result = routine();
        out = testing::internal::GetCapturedStdout();
        err = testing::internal::GetCapturedStderr();
        return result;
    }
    std::string out;
    std::string err;
};

} // namespace fake
