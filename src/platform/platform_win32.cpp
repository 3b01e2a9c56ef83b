// Win32 implementation of the platform layer: the product's own.
#include "platform/platform.h"
#include "platform/security_descriptor.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <cstring>
#include <new>
#include <string>
#include <sys/stat.h>
#include <vector>

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
    entry->is_reparse = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? 1 : 0;
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

struct PlatProcess {
    PROCESS_INFORMATION info;
};

namespace {

// The run lock's handle once taken (never closed: the process end releases it).
HANDLE RunLock = INVALID_HANDLE_VALUE;

PlatProcess TheChild; // one child at a time

// Starts the child with the run lock as its only inherited handle, so that a
// tool that outlives a killed lanrefit still keeps the next run from starting
// another write. False with the error when this way of starting is not to be
// had (the caller then starts the child inheriting nothing).
bool CreateWithLock(char *command_line, PROCESS_INFORMATION *process, DWORD *error) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<unsigned char> list(size > 0 ? size : 1);
    auto attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size)) {
        *error = GetLastError();
        return false;
    }
    HANDLE inherited = RunLock;
    bool created = false;
    if (UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &inherited,
                                  sizeof inherited, nullptr, nullptr) &&
        SetHandleInformation(RunLock, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
        STARTUPINFOEXA startup;
        ZeroMemory(&startup, sizeof startup);
        startup.StartupInfo.cb = sizeof startup;
        startup.lpAttributeList = attributes;
        created = CreateProcessA(nullptr, command_line, nullptr, nullptr, TRUE,
                                 CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                                 &startup.StartupInfo, process) != 0;
        *error = created ? 0 : GetLastError();
        SetHandleInformation(RunLock, HANDLE_FLAG_INHERIT, 0);
    } else {
        *error = GetLastError();
    }
    DeleteProcThreadAttributeList(attributes);
    return created;
}

} // namespace

PlatProcess *plat_start_process(const char *command_line, unsigned long *error) {
    // CreateProcessA may write to the command line, so it gets a copy; a text
    // too long for the copy is refused rather than cut.
    char buffer[1024];
    if (snprintf(buffer, sizeof buffer, "%s", command_line) >= static_cast<int>(sizeof buffer)) {
        *error = ERROR_BAD_LENGTH;
        return nullptr;
    }
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    fflush(nullptr);
    DWORD created_error = 0;
    if (RunLock != INVALID_HANDLE_VALUE && CreateWithLock(buffer, &process, &created_error)) {
        TheChild.info = process;
        return &TheChild;
    }
    if (created_error == ERROR_FILE_NOT_FOUND || created_error == ERROR_PATH_NOT_FOUND) {
        *error = created_error; // no tool to start, whichever way
        return nullptr;
    }
    snprintf(buffer, sizeof buffer, "%s", command_line);
    if (!CreateProcessA(nullptr, buffer, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
        *error = static_cast<unsigned long>(GetLastError());
        return nullptr;
    }
    TheChild.info = process;
    return &TheChild;
}

int plat_run_process(const char *command_line, unsigned long *error) {
    PlatProcess *process = plat_start_process(command_line, error);
    if (process == nullptr) {
        return 0;
    }
    while (plat_wait_process(process, PLAT_WAIT_FOREVER) == 0) {
    }
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

namespace {

// The folder of the program's own file, as the loader started it, without a
// trailing backslash; false when it cannot be told.
bool ProgramFolder(std::wstring *folder) {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) {
            return false;
        }
        if (n < path.size()) {
            folder->assign(path.data(), n);
            break;
        }
        if (path.size() >= 32768) {
            return false;
        }
        path.resize(path.size() * 2);
    }
    size_t slash = folder->find_last_of(L'\\');
    if (slash == std::wstring::npos) {
        return false;
    }
    folder->erase(slash);
    return true;
}

} // namespace

PlatLibrary *plat_library_open(const char *name) {
    // By full path only, from the program's own folder. What the library
    // itself imports is looked for beside it and in the system folder; a
    // Windows without these flags refuses them, and then its folder comes
    // first in the ordinary search.
    std::wstring path;
    if (!ProgramFolder(&path)) {
        return nullptr;
    }
    path += L'\\';
    for (const char *c = name; *c != '\0'; ++c) {
        path += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    }
    HMODULE module = LoadLibraryExW(
        path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
        module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
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

int plat_restrict_library_search() {
    // The current directory leaves the search in any case. The default
    // directories are set where Windows knows them (Windows 8, or 7 with
    // KB2533623): looked up at run time, so the program starts without them.
    int done = SetDllDirectoryW(L"") ? 1 : 0;
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    FARPROC proc = kernel != nullptr ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
    if (proc == nullptr) {
        return 0;
    }
    SetDefaultDllDirectoriesFn set_default = nullptr;
    static_assert(sizeof set_default == sizeof proc, "function pointers of one size");
    memcpy(&set_default, &proc, sizeof proc);
    if (!set_default(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_APPLICATION_DIR)) {
        return 0;
    }
    return done;
}

namespace {

// Security attributes, not inheritable, for a new file or folder with the
// access list written as SDDL text. 0, or the error code; on 0 the caller
// frees attributes.lpSecurityDescriptor with LocalFree.
unsigned long AttributesFor(const char *sddl, SECURITY_ATTRIBUTES &attributes) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
        return static_cast<unsigned long>(GetLastError());
    }
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = descriptor;
    attributes.bInheritHandle = FALSE;
    return 0;
}

} // namespace

unsigned long plat_create_private_directory(const char *path) {
    // Full control for Administrators (BA) and SYSTEM (SY), for the folder,
    // its subfolders (CI) and its files (OI); protected (P): nothing inherited.
    SECURITY_ATTRIBUTES attributes;
    unsigned long error = AttributesFor("D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", attributes);
    if (error != 0) {
        return error;
    }
    if (!CreateDirectoryA(path, &attributes)) {
        error = static_cast<unsigned long>(GetLastError());
    }
    LocalFree(attributes.lpSecurityDescriptor);
    return error;
}

namespace {

// Rights that let their holder put something into a folder, change or remove
// what it holds, or change who may.
constexpr ACCESS_MASK kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                     FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES | DELETE |
                                     WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// The accounts trusted with a work directory: Administrators, SYSTEM and the
// account running the program; for write rights also CREATOR OWNER, which
// stands for whoever creates an entry inside and so only passes on rights.
struct TrustedSids {
    unsigned char administrators[SECURITY_MAX_SID_SIZE];
    unsigned char system[SECURITY_MAX_SID_SIZE];
    unsigned char creator_owner[SECURITY_MAX_SID_SIZE];
    std::vector<unsigned char> user; // TOKEN_USER of the process
};

bool WellKnown(WELL_KNOWN_SID_TYPE type, unsigned char *sid) {
    DWORD size = SECURITY_MAX_SID_SIZE;
    return CreateWellKnownSid(type, nullptr, sid, &size) != 0;
}

unsigned long LoadTrustedSids(TrustedSids *trusted) {
    if (!WellKnown(WinBuiltinAdministratorsSid, trusted->administrators) ||
        !WellKnown(WinLocalSystemSid, trusted->system) ||
        !WellKnown(WinCreatorOwnerSid, trusted->creator_owner)) {
        return static_cast<unsigned long>(GetLastError());
    }
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return static_cast<unsigned long>(GetLastError());
    }
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    trusted->user.resize(size > 0 ? size : 1);
    BOOL ok = GetTokenInformation(token, TokenUser, trusted->user.data(), size, &size);
    unsigned long error = ok ? 0 : static_cast<unsigned long>(GetLastError());
    CloseHandle(token);
    return error;
}

PSID UserSid(TrustedSids &trusted) {
    return reinterpret_cast<TOKEN_USER *>(trusted.user.data())->User.Sid;
}

bool IsTrustedOwner(PSID sid, TrustedSids &trusted) {
    return EqualSid(sid, trusted.administrators) || EqualSid(sid, trusted.system) ||
           EqualSid(sid, UserSid(trusted));
}

bool TrustedForWrite(PSID sid, TrustedSids &trusted) {
    return IsTrustedOwner(sid, trusted) || EqualSid(sid, trusted.creator_owner);
}

// The SID of an allowing entry at OFFSET bytes from its start, when one
// whole valid SID lies there; null otherwise.
PSID SidAt(const ACE_HEADER *header, size_t offset) {
    if (offset + sizeof(SID) > header->AceSize) {
        return nullptr;
    }
    PSID sid = reinterpret_cast<PSID>(
        const_cast<unsigned char *>(reinterpret_cast<const unsigned char *>(header) + offset));
    if (!IsValidSid(sid) || offset + GetLengthSid(sid) > header->AceSize) {
        return nullptr;
    }
    return sid;
}

// True when an entry of the list lets an untrusted account write. Entries
// that deny are passed over (they never grant). An inherit-only entry grants
// nothing on the object itself; on a folder one that passes rights on to its
// files or subfolders counts, since they grant rights on what it will hold.
// Every allowing entry holds its access mask right after the header; its
// account follows (plain and callback entries), follows the object types
// present (object entries), or is a pair of server and client (compound
// entries, judged by both). An entry whose account cannot be read counts as
// untrusted.
bool OpenToOthers(const ACL *dacl, int is_directory, TrustedSids &trusted) {
    if (dacl == nullptr) {
        return true; // no list at all: everyone has full control
    }
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void *ace = nullptr;
        if (!GetAce(const_cast<ACL *>(dacl), i, &ace)) {
            return true;
        }
        const ACE_HEADER *header = static_cast<const ACE_HEADER *>(ace);
        const BYTE type = header->AceType;
        const bool plain =
            type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
        const bool object = type == ACCESS_ALLOWED_OBJECT_ACE_TYPE ||
                            type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE;
        const bool compound = type == ACCESS_ALLOWED_COMPOUND_ACE_TYPE;
        if (!plain && !object && !compound) {
            continue;
        }
        const bool passes_on =
            is_directory != 0 && (header->AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE));
        if ((header->AceFlags & INHERIT_ONLY_ACE) != 0 && !passes_on) {
            continue;
        }
        const ACCESS_ALLOWED_ACE *allowed = static_cast<const ACCESS_ALLOWED_ACE *>(ace);
        if ((allowed->Mask & kWriteRights) == 0) {
            continue;
        }
        // Offsets after the header and the mask: plain, object, compound.
        constexpr size_t kAfterMask = sizeof(ACE_HEADER) + sizeof(ACCESS_MASK);
        PSID first = nullptr;
        PSID second = nullptr;
        if (plain) {
            first = SidAt(header, kAfterMask);
        } else if (object) {
            const ACCESS_ALLOWED_OBJECT_ACE *o =
                static_cast<const ACCESS_ALLOWED_OBJECT_ACE *>(ace);
            size_t offset = kAfterMask + sizeof(DWORD);
            if (offset <= header->AceSize) {
                offset += (o->Flags & ACE_OBJECT_TYPE_PRESENT) != 0 ? sizeof(GUID) : 0;
                offset += (o->Flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) != 0 ? sizeof(GUID) : 0;
                first = SidAt(header, offset);
            }
        } else {
            // Mask, compound type and a reserved word, then the two SIDs.
            first = SidAt(header, kAfterMask + 2 * sizeof(WORD));
            second = first != nullptr
                         ? SidAt(header, kAfterMask + 2 * sizeof(WORD) + GetLengthSid(first))
                         : nullptr;
            if (second == nullptr || !TrustedForWrite(second, trusted)) {
                return true;
            }
        }
        if (first == nullptr || !TrustedForWrite(first, trusted)) {
            return true;
        }
    }
    return false;
}

// The entry itself, without trailing backslashes, even when it is a file or
// a link.
std::string EntryPath(const char *path) {
    std::string entry(path);
    while (entry.size() > 1 && entry.back() == '\\') {
        entry.pop_back();
    }
    return entry;
}

// Reads the owner and the access list of PATH and judges them; OWNER_ONLY
// leaves the access list out.
unsigned long JudgeNamed(const char *path, int is_directory, bool owner_only) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION;
    if (!owner_only) {
        wanted |= DACL_SECURITY_INFORMATION;
    }
    DWORD status = GetNamedSecurityInfoA(path, SE_FILE_OBJECT, wanted, nullptr, nullptr, nullptr,
                                         nullptr, &descriptor);
    if (status != ERROR_SUCCESS) {
        return static_cast<unsigned long>(status);
    }
    unsigned long error = 0;
    if (owner_only) {
        TrustedSids trusted;
        PSID owner = nullptr;
        BOOL defaulted = FALSE;
        error = LoadTrustedSids(&trusted);
        if (error == 0 && (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
                           owner == nullptr || !IsTrustedOwner(owner, trusted))) {
            error = PLAT_ERROR_FOREIGN_OWNER;
        }
    } else {
        error = plat_judge_security_descriptor(descriptor, is_directory);
    }
    LocalFree(descriptor);
    return error;
}

// The attributes of PATH; a reparse point is refused before anything else.
unsigned long ReadAttributes(const char *path, DWORD *attributes) {
    *attributes = GetFileAttributesA(path);
    if (*attributes == INVALID_FILE_ATTRIBUTES) {
        return static_cast<unsigned long>(GetLastError());
    }
    return (*attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? PLAT_ERROR_REPARSE_POINT : 0;
}

// The work directories held by plat_hold_directory, to the end of the process.
std::vector<HANDLE> HeldDirectories;

} // namespace

unsigned long plat_judge_security_descriptor(const void *descriptor, int is_directory) {
    PSECURITY_DESCRIPTOR sd = const_cast<void *>(descriptor);
    TrustedSids trusted;
    unsigned long error = LoadTrustedSids(&trusted);
    if (error != 0) {
        return error;
    }
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(sd, &owner, &defaulted) || owner == nullptr ||
        !IsTrustedOwner(owner, trusted)) {
        return PLAT_ERROR_FOREIGN_OWNER;
    }
    BOOL present = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted)) {
        return static_cast<unsigned long>(GetLastError());
    }
    return OpenToOthers(present ? dacl : nullptr, is_directory, trusted) ? PLAT_ERROR_OPEN_TO_OTHERS
                                                                         : 0;
}

unsigned long plat_check_private_directory(const char *path) {
    const std::string entry = EntryPath(path);
    DWORD attributes = 0;
    unsigned long error = ReadAttributes(entry.c_str(), &attributes);
    if (error != 0 || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return error;
    }
    return JudgeNamed(entry.c_str(), 1, false);
}

unsigned long plat_check_trusted(const char *path) {
    const std::string entry = EntryPath(path);
    DWORD attributes = 0;
    unsigned long error = ReadAttributes(entry.c_str(), &attributes);
    if (error != 0) {
        return error;
    }
    return JudgeNamed(entry.c_str(), (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 1 : 0, false);
}

unsigned long plat_check_owner(const char *path) {
    const std::string entry = EntryPath(path);
    DWORD attributes = 0;
    unsigned long error = ReadAttributes(entry.c_str(), &attributes);
    if (error != 0) {
        return error;
    }
    return JudgeNamed(entry.c_str(), 0, true);
}

unsigned long plat_check_folders_above(const char *path) {
    (void)path;
    return 0;
}

unsigned long plat_hold_directory(const char *path) {
    // Reading its entries makes the open count against others' sharing; no
    // delete sharing: nobody renames, removes or replaces it while it is held.
    const std::string entry = EntryPath(path);
    HANDLE handle = CreateFileA(entry.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return static_cast<unsigned long>(GetLastError());
    }
    HeldDirectories.push_back(handle);
    return 0;
}

FILE *plat_fopen_log(const char *path) {
    // Shared with other writers as fopen's "a" is; the file itself, never
    // what a link points to.
    HANDLE handle =
        CreateFileA(path, GENERIC_WRITE | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        errno = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION info;
    bool usable =
        GetFileInformationByHandle(handle, &info) != 0 &&
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
        info.nNumberOfLinks == 1;
    errno = usable ? 0 : ELOOP;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PSID owner = nullptr;
    TrustedSids trusted;
    if (usable &&
        (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                         nullptr, nullptr, &descriptor) != ERROR_SUCCESS ||
         LoadTrustedSids(&trusted) != 0 || owner == nullptr || !IsTrustedOwner(owner, trusted))) {
        usable = false;
        errno = EPERM;
    }
    LocalFree(descriptor);
    int fd = usable ? _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_APPEND | _O_TEXT) : -1;
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    FILE *file = _fdopen(fd, "a");
    if (file == nullptr) {
        _close(fd);
    }
    return file;
}

int plat_program_folder(char *buf, size_t size) {
    char path[32768];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) {
        return 0;
    }
    char *slash = strrchr(path, '\\');
    if (slash == nullptr) {
        return 0;
    }
    *slash = '\0';
    const int length = snprintf(buf, size, "%s", path);
    return length > 0 && static_cast<size_t>(length) < size ? 1 : 0;
}

int plat_library_file(const char *name, char *buf, size_t size) {
    char folder[32768];
    if (!plat_program_folder(folder, sizeof folder)) {
        return 0;
    }
    const int length = snprintf(buf, size, "%s\\%s", folder, name);
    return length > 0 && static_cast<size_t>(length) < size ? 1 : 0;
}

int plat_current_folder(char *buf, size_t size) {
    DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(size), buf);
    return n > 0 && n < size ? 1 : 0;
}

unsigned long plat_take_run_lock(const char *path) {
    // No sharing: every other open fails while this handle, or the copy a
    // writer tool inherits, is open. A reparse point is opened as itself,
    // never followed, and refused. A new file gets an access list of its own
    // for Administrators and SYSTEM alone, whatever its folder passes on, so
    // that no other account can open it and hold every run off.
    SECURITY_ATTRIBUTES attributes;
    const unsigned long made = AttributesFor("D:P(A;;FA;;;BA)(A;;FA;;;SY)", attributes);
    if (made != 0) {
        return made;
    }
    HANDLE lock = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, &attributes, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    const DWORD open_error = GetLastError();
    LocalFree(attributes.lpSecurityDescriptor);
    if (lock == INVALID_HANDLE_VALUE) {
        return open_error == ERROR_SHARING_VIOLATION ? PLAT_ERROR_LOCKED
                                                     : static_cast<unsigned long>(open_error);
    }
    BY_HANDLE_FILE_INFORMATION info;
    unsigned long error = 0;
    if (!GetFileInformationByHandle(lock, &info)) {
        error = static_cast<unsigned long>(GetLastError());
    } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        error = PLAT_ERROR_REPARSE_POINT;
    } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        error = ERROR_DIRECTORY;
    }
    if (error != 0) {
        CloseHandle(lock);
        return error;
    }
    RunLock = lock;
    return 0;
}

namespace {

volatile LONG InterruptionCount = 0;

// Runs on a thread of its own that the system makes for each console
// event: it only counts Ctrl-C and Ctrl-Break. Every other event (the console
// closed, logoff, shutdown) goes on to the default handling, which ends the
// process.
BOOL WINAPI RecordInterruption(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    InterlockedIncrement(&InterruptionCount);
    return TRUE;
}

} // namespace

void plat_hold_interruptions() {
    SetConsoleCtrlHandler(RecordInterruption, TRUE);
}

void plat_release_interruptions() {
    SetConsoleCtrlHandler(RecordInterruption, FALSE);
}

unsigned plat_interruptions() {
    return static_cast<unsigned>(InterlockedCompareExchange(&InterruptionCount, 0, 0));
}

int plat_wait_process(PlatProcess *process, unsigned long milliseconds) {
    // In slices of 50 ms, so that an interruption is noticed while the
    // child runs on.
    const unsigned seen = plat_interruptions();
    const unsigned long long deadline = plat_milliseconds() + milliseconds;
    for (;;) {
        unsigned long long now = plat_milliseconds();
        DWORD slice = 50;
        if (milliseconds != PLAT_WAIT_FOREVER) {
            if (now >= deadline) {
                return 0;
            }
            slice = deadline - now < slice ? static_cast<DWORD>(deadline - now) : slice;
        }
        if (WaitForSingleObject(process->info.hProcess, slice) != WAIT_TIMEOUT) {
            CloseHandle(process->info.hProcess);
            CloseHandle(process->info.hThread);
            ZeroMemory(&process->info, sizeof process->info);
            return 1;
        }
        if (plat_interruptions() != seen) {
            return 0;
        }
    }
}

int plat_stdout_is_console() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0 ? 1 : 0;
}

unsigned long long plat_milliseconds() {
    return static_cast<unsigned long long>(GetTickCount64());
}
