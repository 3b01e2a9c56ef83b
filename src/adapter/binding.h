// The adapter library bound at run time: one pointer per operation, named as
// the operation, so calls read as the library's own.
#pragma once

#include "adapter/ombri.h"

constexpr const char *OMBRI_LIBRARY_NAME = "OMBRIa.DLL";

extern OmbriGetVersion_t *OmbriGetVersion;
extern OmbriInitializeEx_t *OmbriInitializeEx;
extern OmbriUninitialize_t *OmbriUninitialize;
extern OmbriGetNumPhyNicEx_t *OmbriGetNumPhyNicEx;
extern OmbriGetAllPhyNicHandles_t *OmbriGetAllPhyNicHandles;
extern OmbriGetNicInfo_t *OmbriGetNicInfo;
extern OmbriGetNicAuxInfo_t *OmbriGetNicAuxInfo;
extern OmbriInitDiag_t *OmbriInitDiag;
extern OmbriUnInitDiag_t *OmbriUnInitDiag;
extern OmbriReadFirmware_t *OmbriReadFirmware;
extern OmbriGetTernFwInfo_t *OmbriGetTernFwInfo;

// Loads the library and binds all eleven operations (by ordinal on Windows).
// On failure prints one red line naming the library and what is missing, and
// returns 0; the caller then ends the run with exit code 0.
int OmbriBind();
