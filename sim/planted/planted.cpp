// A library that does nothing but leave a mark when it is loaded: the file
// "planted-library-loaded" beside itself. Planted as the adapter library in
// the current directory or on the search path, it shows whether the program
// loaded it from there (it exports none of the library's operations).
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>

namespace {

void LeaveMark(HINSTANCE self) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(self, path, sizeof path);
    if (n == 0 || n >= sizeof path) {
        return;
    }
    char *slash = strrchr(path, '\\');
    if (slash == nullptr || snprintf(slash + 1, sizeof path - static_cast<size_t>(slash + 1 - path),
                                     "%s", "planted-library-loaded") < 0) {
        return;
    }
    HANDLE mark =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (mark != INVALID_HANDLE_VALUE) {
        CloseHandle(mark);
    }
}

} // namespace

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        LeaveMark(self);
    }
    return TRUE;
}

#else
#include <dlfcn.h>
#include <string>

namespace {

__attribute__((constructor)) void LeaveMark() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void *>(&LeaveMark), &info) == 0 || info.dli_fname == nullptr) {
        return;
    }
    std::string path(info.dli_fname);
    size_t slash = path.rfind('/');
    path = (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) +
           "/planted-library-loaded";
    FILE *mark = fopen(path.c_str(), "w");
    if (mark != nullptr) {
        fclose(mark);
    }
}

} // namespace
#endif
