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

// Judges the program's folder and the library file in it before anything is
// loaded from there (a missing file is left to the load). On a refusal prints
// the "Cannot trust" line and returns 0; else 1. OmbriBind calls it before
// every load.
int TrustLibraryFolder();

// OmbriBind returns 1 at once, loading nothing, when all eleven pointers are
// set already: after an earlier successful call, or when the operations were
// assigned directly (a library linked into the program, or the unit tests'
// fake library).

// Unloads the library that OmbriBind loaded and clears the eleven pointers.
// Does nothing when OmbriBind loaded no library (pointers assigned directly
// stay as they are). Call it after OmbriUninitialize, at the end of a run.
void OmbriUnbind();
