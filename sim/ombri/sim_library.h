// The simulated adapter library: the eleven operations under their own names
// (sim_exports.cpp exports them under the library's names), the status codes
// they return, and a reset for the unit tests. Configuration comes from the
// environment: OMBRI_SIM_MACHINE (machine file), OMBRI_SIM_FAULTS (injected
// faults), OMBRI_SIM_CALL_LOG (call log). See docs/simulator.md.
#pragma once

#include "adapter/ombri.h"

// Status codes of the simulated library (0 is success).
constexpr OmbriStatus SIM_ERR_NOT_INITIALIZED =
    101; // before OmbriInitializeEx or after OmbriUninitialize
constexpr OmbriStatus SIM_ERR_ALREADY_INITIALIZED = 102; // second OmbriInitializeEx
constexpr OmbriStatus SIM_ERR_BAD_ARGUMENT = 103; // null pointer, OmbriInitializeEx argument not 0
constexpr OmbriStatus SIM_ERR_BUFFER_TOO_SMALL = 104; // handle array shorter than the adapter count
constexpr OmbriStatus SIM_ERR_BAD_INFO_VERSION = 105; // InfoVersion not 10, 8 or 2
constexpr OmbriStatus SIM_ERR_UNKNOWN_HANDLE = 106;
constexpr OmbriStatus SIM_ERR_NOT_IN_DIAG =
    107; // NVRAM read or OmbriUnInitDiag outside diagnostic mode
constexpr OmbriStatus SIM_ERR_ALREADY_IN_DIAG = 108; // OmbriInitDiag twice
constexpr OmbriStatus SIM_ERR_BAD_WORD_COUNT = 109;  // word count not 1
constexpr OmbriStatus SIM_ERR_BAD_ACCESS_ID = 110;   // access identifier missing or wrong
constexpr OmbriStatus SIM_ERR_UNALIGNED = 111;       // NVRAM offset not a multiple of 4
constexpr OmbriStatus SIM_ERR_OUT_OF_RANGE = 112;    // read past the end of the NVRAM
constexpr OmbriStatus SIM_ERR_CONFIG = 113;          // machine file or OMBRI_SIM_FAULTS unusable
constexpr OmbriStatus SIM_ERR_NVRAM_FILE = 114;      // NVRAM file missing, unreadable or malformed

OmbriStatus SimGetVersion(uint32_t *major, uint32_t *minor, uint32_t *build);
OmbriStatus SimInitializeEx(uint32_t flags);
OmbriStatus SimUninitialize();
OmbriStatus SimGetNumPhyNicEx(uint32_t *count);
OmbriStatus SimGetAllPhyNicHandles(uint32_t *handles, uint32_t count);
OmbriStatus SimGetNicInfo(uint32_t handle, NicInfo *info);
OmbriStatus SimGetNicAuxInfo(uint32_t handle, NicAuxInfo *aux);
OmbriStatus SimInitDiag(uint32_t handle);
OmbriStatus SimUnInitDiag(uint32_t handle);
OmbriStatus SimReadFirmware(uint32_t handle, uint32_t offset, void *buffer, uint32_t words,
                            const char *access_id);
OmbriStatus SimGetTernFwInfo(uint32_t handle, TernFwInfo *info);

// Forgets everything, as if the process had just started: the next call reads
// the environment and the machine file again and counts calls from 1.
void SimResetForTests();
// Sets (value not null) or removes one of this process's environment
// variables, the same way on every platform, for tests that run the library
// in their own process.
void SimSetEnvForTests(const char *name, const char *value);
