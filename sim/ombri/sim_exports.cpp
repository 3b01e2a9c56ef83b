// The eleven operations under the names and signatures of the adapter library.
// They are the only symbols the simulated library exports: by name from
// libOMBRIa.so, by ordinal (OMBRIa.def) from OMBRIa.dll.
#include "sim/ombri/sim_library.h"

#include <type_traits>

#ifdef _WIN32
#define SIM_EXPORT
#else
#define SIM_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

SIM_EXPORT OmbriStatus OmbriGetVersion(uint32_t *major, uint32_t *minor, uint32_t *build) {
    return SimGetVersion(major, minor, build);
}
SIM_EXPORT OmbriStatus OmbriInitializeEx(uint32_t flags) {
    return SimInitializeEx(flags);
}
SIM_EXPORT OmbriStatus OmbriUninitialize() {
    return SimUninitialize();
}
SIM_EXPORT OmbriStatus OmbriGetNumPhyNicEx(uint32_t *count) {
    return SimGetNumPhyNicEx(count);
}
SIM_EXPORT OmbriStatus OmbriGetAllPhyNicHandles(uint32_t *handles, uint32_t count) {
    return SimGetAllPhyNicHandles(handles, count);
}
SIM_EXPORT OmbriStatus OmbriGetNicInfo(uint32_t handle, NicInfo *info) {
    return SimGetNicInfo(handle, info);
}
SIM_EXPORT OmbriStatus OmbriGetNicAuxInfo(uint32_t handle, NicAuxInfo *aux) {
    return SimGetNicAuxInfo(handle, aux);
}
SIM_EXPORT OmbriStatus OmbriInitDiag(uint32_t handle) {
    return SimInitDiag(handle);
}
SIM_EXPORT OmbriStatus OmbriUnInitDiag(uint32_t handle) {
    return SimUnInitDiag(handle);
}
SIM_EXPORT OmbriStatus OmbriReadFirmware(uint32_t handle, uint32_t offset, void *buffer,
                                         uint32_t words, const char *access_id) {
    return SimReadFirmware(handle, offset, buffer, words, access_id);
}
SIM_EXPORT OmbriStatus OmbriGetTernFwInfo(uint32_t handle, TernFwInfo *info) {
    return SimGetTernFwInfo(handle, info);
}

} // extern "C"

// The exported signatures are exactly the interface's function types.
static_assert(std::is_same<decltype(OmbriGetVersion), OmbriGetVersion_t>::value, "signature");
static_assert(std::is_same<decltype(OmbriInitializeEx), OmbriInitializeEx_t>::value, "signature");
static_assert(std::is_same<decltype(OmbriUninitialize), OmbriUninitialize_t>::value, "signature");
static_assert(std::is_same<decltype(OmbriGetNumPhyNicEx), OmbriGetNumPhyNicEx_t>::value,
              "signature");
static_assert(std::is_same<decltype(OmbriGetAllPhyNicHandles), OmbriGetAllPhyNicHandles_t>::value,
              "signature");
static_assert(std::is_same<decltype(OmbriGetNicInfo), OmbriGetNicInfo_t>::value, "signature");
static_assert(std::is_same<decltype(OmbriGetNicAuxInfo), OmbriGetNicAuxInfo_t>::value, "signature");
static_assert(std::is_same<decltype(OmbriInitDiag), OmbriInitDiag_t>::value, "signature");
static_assert(std::is_same<decltype(OmbriUnInitDiag), OmbriUnInitDiag_t>::value, "signature");
static_assert(std::is_same<decltype(OmbriReadFirmware), OmbriReadFirmware_t>::value, "signature");
static_assert(std::is_same<decltype(OmbriGetTernFwInfo), OmbriGetTernFwInfo_t>::value, "signature");
