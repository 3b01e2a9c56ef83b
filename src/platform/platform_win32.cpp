// Win32 implementation of the platform layer: the product's own.
#include "platform/platform.h"

#include <windows.h>

#include <cerrno>
#include <new>
#include <sys/stat.h>

int plat_is_administrator() {
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, 0xE0000000);
    if (scm == nullptr) {
        return 0;
    }
    CloseServiceHandle(scm);
    return 1;
}

void plat_system_drive(char *buf, size_t size) {
    char system_dir[PLAT_PATH_MAX] = "";
    UINT n = GetSystemDirectoryA(system_dir, sizeof system_dir);
    if (n == 0 || n >= sizeof system_dir || system_dir[1] != ':') {
        snprintf(buf, size, "%s", "");
        return;
    }
    snprintf(buf, size, "%.2s", system_dir);
}

unsigned long plat_create_directory(const char *path) {
    if (CreateDirectoryA(path, nullptr)) {
        return 0;
    }
    return static_cast<unsigned long>(GetLastError());
}

FILE *plat_fopen(const char *path, const char *mode) {
    return fopen(path, mode);
}

int plat_file_size(FILE *file, unsigned long long *size) {
    struct _stat64 st;
    if (_fstat64(_fileno(file), &st) != 0) {
        return 0;
    }
    *size = static_cast<unsigned long long>(st.st_size);
    return 1;
}

int plat_path_exists(const char *path) {
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) {
        return 1;
    }
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : 1;
}

struct PlatFind {
    HANDLE handle;
};

namespace {

void CopyFindData(const WIN32_FIND_DATAA &data, PlatDirEntry *entry) {
    snprintf(entry->name, sizeof entry->name, "%s", data.cFileName);
    entry->is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 1 : 0;
    entry->is_hidden = (data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0 ? 1 : 0;
    entry->is_system = (data.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) != 0 ? 1 : 0;
}

} // namespace

PlatFind *plat_find_first(const char *pattern, PlatDirEntry *entry, unsigned long *error) {
    WIN32_FIND_DATAA data;
    HANDLE handle = FindFirstFileA(pattern, &data);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = static_cast<unsigned long>(GetLastError());
        return nullptr;
    }
    PlatFind *find = new (std::nothrow) PlatFind{handle};
    if (find == nullptr) {
        FindClose(handle);
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    CopyFindData(data, entry);
    *error = 0;
    return find;
}

int plat_find_next(PlatFind *find, PlatDirEntry *entry) {
    WIN32_FIND_DATAA data;
    if (!FindNextFileA(find->handle, &data)) {
        return 0;
    }
    CopyFindData(data, entry);
    return 1;
}

void plat_find_close(PlatFind *find) {
    FindClose(find->handle);
    delete find;
}

int plat_run_process(const char *command_line, unsigned long *error) {
    // CreateProcessA may write to the command line, so it gets a copy; a text
    // too long for the copy is refused rather than cut.
    char buffer[1024];
    if (snprintf(buffer, sizeof buffer, "%s", command_line) >= static_cast<int>(sizeof buffer)) {
        *error = ERROR_BAD_LENGTH;
        return 0;
    }
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    fflush(nullptr);
    if (!CreateProcessA(nullptr, buffer, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
        *error = static_cast<unsigned long>(GetLastError());
        return 0;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return 1;
}

void plat_console_attribute(uint16_t attribute) {
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    if (console != nullptr && console != INVALID_HANDLE_VALUE) {
        SetConsoleTextAttribute(console, attribute);
    }
}

struct PlatLibrary {
    HMODULE module;
};

PlatLibrary *plat_library_open(const char *name) {
    HMODULE module = LoadLibraryA(name);
    if (module == nullptr) {
        return nullptr;
    }
    PlatLibrary *library = new (std::nothrow) PlatLibrary{module};
    if (library == nullptr) {
        FreeLibrary(module);
    }
    return library;
}

void *plat_library_function(PlatLibrary *library, unsigned ordinal, const char *name) {
    (void)name;
    FARPROC proc = GetProcAddress(library->module, MAKEINTRESOURCEA(ordinal));
    return reinterpret_cast<void *>(proc);
}

void plat_library_close(PlatLibrary *library) {
    if (library != nullptr) {
        FreeLibrary(library->module);
        delete library;
    }
}
