// Run-time binding of the adapter library: the eleven operation pointers,
// loading OMBRIa.DLL on first use, and unloading it at the end of a run.
#include "adapter/binding.h"

#include "output/output.h"
#include "platform/platform.h"

OmbriGetVersion_t *OmbriGetVersion = nullptr;
OmbriInitializeEx_t *OmbriInitializeEx = nullptr;
OmbriUninitialize_t *OmbriUninitialize = nullptr;
OmbriGetNumPhyNicEx_t *OmbriGetNumPhyNicEx = nullptr;
OmbriGetAllPhyNicHandles_t *OmbriGetAllPhyNicHandles = nullptr;
OmbriGetNicInfo_t *OmbriGetNicInfo = nullptr;
OmbriGetNicAuxInfo_t *OmbriGetNicAuxInfo = nullptr;
OmbriInitDiag_t *OmbriInitDiag = nullptr;
OmbriUnInitDiag_t *OmbriUnInitDiag = nullptr;
OmbriReadFirmware_t *OmbriReadFirmware = nullptr;
OmbriGetTernFwInfo_t *OmbriGetTernFwInfo = nullptr;

namespace {

// The library loaded by OmbriBind; null when nothing was loaded here.
PlatLibrary *OmbriLibrary = nullptr;

bool AllOperationsBound() {
    return OmbriGetVersion != nullptr && OmbriInitializeEx != nullptr &&
           OmbriUninitialize != nullptr && OmbriGetNumPhyNicEx != nullptr &&
           OmbriGetAllPhyNicHandles != nullptr && OmbriGetNicInfo != nullptr &&
           OmbriGetNicAuxInfo != nullptr && OmbriInitDiag != nullptr &&
           OmbriUnInitDiag != nullptr && OmbriReadFirmware != nullptr &&
           OmbriGetTernFwInfo != nullptr;
}

void ClearOperations() {
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
}

// Binds one operation. On a missing operation prints the red line naming it
// and returns false; the pointer is left null.
template <typename F> bool BindOperation(F *&pointer, unsigned ordinal, const char *name) {
    void *address = plat_library_function(OmbriLibrary, ordinal, name);
    if (address == nullptr) {
        Output(ATTR_ERROR, "The adapter library %s has no operation %s (ordinal %u).\r\n",
               OMBRI_LIBRARY_NAME, name, ordinal);
        return false;
    }
    pointer = reinterpret_cast<F *>(address);
    return true;
}

} // namespace

int TrustLibraryFolder() {
    // A folder that cannot be told is left to the load, which then loads
    // nothing, and a missing library file to its message. The buffers hold
    // the longest path either platform starts a program from.
    static char folder[32768];
    static char file[32768];
    if (!plat_program_folder(folder, sizeof folder) ||
        !plat_library_file(OMBRI_LIBRARY_NAME, file, sizeof file)) {
        return 1;
    }
    if (!TrustPath(folder, folder)) {
        return 0;
    }
    return !plat_path_exists(file) || TrustPath(file, file) ? 1 : 0;
}

#define OMBRI_BIND(op) BindOperation(op, ORDINAL_##op, #op)

int OmbriBind() {
    // Bound already: by an earlier call, or by whoever assigned all eleven
    // operations itself (a library linked in directly).
    if (AllOperationsBound()) {
        return 1;
    }
    if (OmbriLibrary != nullptr) {
        // A library is loaded but some pointer was cleared since: bind afresh.
        OmbriUnbind();
    }
    ClearOperations();
    if (!TrustLibraryFolder()) {
        return 0;
    }
    OmbriLibrary = plat_library_open(OMBRI_LIBRARY_NAME);
    if (OmbriLibrary == nullptr) {
        Output(ATTR_ERROR, "Cannot load the adapter library %s.\r\n", OMBRI_LIBRARY_NAME);
        return 0;
    }
    bool bound = OMBRI_BIND(OmbriGetVersion) && OMBRI_BIND(OmbriInitializeEx) &&
                 OMBRI_BIND(OmbriUninitialize) && OMBRI_BIND(OmbriGetNumPhyNicEx) &&
                 OMBRI_BIND(OmbriGetAllPhyNicHandles) && OMBRI_BIND(OmbriGetNicInfo) &&
                 OMBRI_BIND(OmbriGetNicAuxInfo) && OMBRI_BIND(OmbriInitDiag) &&
                 OMBRI_BIND(OmbriUnInitDiag) && OMBRI_BIND(OmbriReadFirmware) &&
                 OMBRI_BIND(OmbriGetTernFwInfo);
    if (!bound) {
        OmbriUnbind();
        return 0;
    }
    return 1;
}

#undef OMBRI_BIND

void OmbriUnbind() {
    if (OmbriLibrary == nullptr) {
        return;
    }
    ClearOperations();
    plat_library_close(OmbriLibrary);
    OmbriLibrary = nullptr;
}
