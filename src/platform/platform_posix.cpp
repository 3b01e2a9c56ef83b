// POSIX implementation of the platform layer, for the Linux development and
// test host. Windows path texts are translated here, and only here, when a
// file is touched: backslashes become slashes, ".\" is the current directory.
#include "platform/platform.h"
#include "platform/command_split.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <new>
#include <vector>

extern char **environ;

namespace {

std::string HostPath(const char *path) {
    std::string host(path);
    std::replace(host.begin(), host.end(), '\\', '/');
    return host;
}

// A directory's host path without trailing slashes: the entry itself.
std::string HostDirectoryPath(const char *path) {
    std::string host = HostPath(path);
    while (host.size() > 1 && host.back() == '/') {
        host.pop_back();
    }
    return host;
}

unsigned long MakeDirectory(const char *path, mode_t mode) {
    if (mkdir(HostDirectoryPath(path).c_str(), mode) == 0) {
        return 0;
    }
    return errno == EEXIST ? PLAT_ERROR_ALREADY_EXISTS : static_cast<unsigned long>(errno);
}

} // namespace

int plat_is_administrator() {
    return geteuid() == 0 ? 1 : 0;
}

void plat_system_drive(char *buf, size_t size) {
    const char *drive = getenv("SystemDrive");
    snprintf(buf, size, "%s", drive != nullptr ? drive : "");
}

unsigned long plat_create_directory(const char *path) {
    return MakeDirectory(path, 0755);
}

FILE *plat_fopen(const char *path, const char *mode) {
    return fopen(HostPath(path).c_str(), mode);
}

int plat_file_size(FILE *file, unsigned long long *size) {
    struct stat st;
    if (fstat(fileno(file), &st) != 0) {
        return 0;
    }
    *size = static_cast<unsigned long long>(st.st_size);
    return 1;
}

int plat_path_exists(const char *path) {
    struct stat st;
    return lstat(HostPath(path).c_str(), &st) == 0 || errno != ENOENT ? 1 : 0;
}

// A listing is read whole when it starts, then handed out in NTFS order:
// by name, compared upper-cased.
struct PlatFind {
    std::vector<PlatDirEntry> entries;
    size_t next;
};

namespace {

bool NtfsOrder(const PlatDirEntry &a, const PlatDirEntry &b) {
    for (size_t i = 0;; ++i) {
        int ca = toupper(static_cast<unsigned char>(a.name[i]));
        int cb = toupper(static_cast<unsigned char>(b.name[i]));
        if (ca != cb || ca == 0) {
            return ca < cb;
        }
    }
}

} // namespace

PlatFind *plat_find_first(const char *pattern, PlatDirEntry *entry, unsigned long *error) {
    std::string dir = HostPath(pattern);
    size_t slash = dir.rfind('/');
    std::string wildcard = slash == std::string::npos ? dir : dir.substr(slash + 1);
    dir = slash == std::string::npos ? std::string(".") : dir.substr(0, slash + 1);
    if (wildcard != "*" && wildcard != "*.*") {
        *error = EINVAL;
        return nullptr;
    }
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) {
        *error = static_cast<unsigned long>(errno);
        return nullptr;
    }
    PlatFind *find = new (std::nothrow) PlatFind();
    if (find == nullptr) {
        closedir(d);
        *error = ENOMEM;
        return nullptr;
    }
    find->next = 0;
    for (struct dirent *de = readdir(d); de != nullptr; de = readdir(d)) {
        PlatDirEntry e = {};
        if (strlen(de->d_name) >= sizeof e.name) {
            continue;
        }
        snprintf(e.name, sizeof e.name, "%s", de->d_name);
        struct stat st;
        std::string full = dir + de->d_name;
        e.is_directory = stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? 1 : 0;
        e.is_hidden =
            de->d_name[0] == '.' && strcmp(de->d_name, ".") != 0 && strcmp(de->d_name, "..") != 0
                ? 1
                : 0;
        e.is_system = 0;
        e.is_reparse = lstat(full.c_str(), &st) == 0 && S_ISLNK(st.st_mode) ? 1 : 0;
        find->entries.push_back(e);
    }
    closedir(d);
    std::sort(find->entries.begin(), find->entries.end(), NtfsOrder);
    if (find->entries.empty()) {
        delete find;
        *error = ENOENT;
        return nullptr;
    }
    *entry = find->entries[0];
    find->next = 1;
    *error = 0;
    return find;
}

int plat_find_next(PlatFind *find, PlatDirEntry *entry) {
    if (find->next >= find->entries.size()) {
        return 0;
    }
    *entry = find->entries[find->next++];
    return 1;
}

void plat_find_close(PlatFind *find) {
    delete find;
}

struct PlatProcess {
    pid_t pid;
};

namespace {

// The run lock's descriptor once taken (never closed: the process end
// releases it), handed to every writer tool as its descriptor 3.
int RunLockFd = -1;
constexpr int TOOL_LOCK_FD = 3;

PlatProcess TheChild; // one child at a time

} // namespace

PlatProcess *plat_start_process(const char *command_line, unsigned long *error) {
    // The child receives the arguments a Windows child would find in this
    // command line; ".\name" runs as "./name".
    std::vector<std::string> words = plat_split_command_line(command_line);
    if (words[0].empty()) {
        *error = ENOENT;
        return nullptr;
    }
    words[0] = HostPath(words[0].c_str());
    std::vector<char *> argv;
    for (std::string &w : words) {
        argv.push_back(&w[0]);
    }
    argv.push_back(nullptr);

    // Like a Windows child started without handles, it inherits nothing:
    // its standard handles are /dev/null.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 2; ++fd) {
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                         0);
    }
    // The run lock goes with the write: a tool that outlives a killed
    // lanrefit still keeps the next run from starting another write.
    if (RunLockFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, RunLockFd, TOOL_LOCK_FD);
    }
    // A process group of its own: a Ctrl-C at the console never reaches a
    // write in progress (a Windows child without a console is out of reach of
    // the console's Ctrl-C as well).
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = 0;
    fflush(nullptr);
    int rc = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        *error = static_cast<unsigned long>(rc);
        return nullptr;
    }
    TheChild.pid = pid;
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
    if (!isatty(STDOUT_FILENO)) {
        return;
    }
    fputs(attribute == 12 ? "\033[1;31m" : "\033[0m", stdout);
    fflush(stdout);
}

struct PlatLibrary {
    void *handle;
};

int plat_program_folder(char *buf, size_t size) {
    // The folder of /proc/self/exe, the file the kernel started; without it
    // nothing is loaded (never a relative name, which would be looked for in
    // the current directory).
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0 || exe[0] != '/') {
        return 0;
    }
    exe[n] = '\0';
    *strrchr(exe, '/') = '\0';
    const int length = snprintf(buf, size, "%s", exe[0] != '\0' ? exe : "/");
    return length > 0 && static_cast<size_t>(length) < size ? 1 : 0;
}

int plat_library_file(const char *name, char *buf, size_t size) {
    // "OMBRIa.DLL" is looked for as libOMBRIa.so beside the executable.
    std::string stem(name);
    size_t dot = stem.rfind('.');
    if (dot != std::string::npos) {
        stem.erase(dot);
    }
    char dir[PATH_MAX];
    if (!plat_program_folder(dir, sizeof dir)) {
        return 0;
    }
    const int length = snprintf(buf, size, "%s/lib%s.so", dir, stem.c_str());
    return length > 0 && static_cast<size_t>(length) < size ? 1 : 0;
}

int plat_current_folder(char *buf, size_t size) {
    return getcwd(buf, size) != nullptr ? 1 : 0;
}

PlatLibrary *plat_library_open(const char *name) {
    char path[PATH_MAX];
    if (!plat_library_file(name, path, sizeof path)) {
        return nullptr;
    }
    void *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        return nullptr;
    }
    PlatLibrary *library = new (std::nothrow) PlatLibrary{handle};
    if (library == nullptr) {
        dlclose(handle);
    }
    return library;
}

void *plat_library_function(PlatLibrary *library, unsigned ordinal, const char *name) {
    (void)ordinal;
    return dlsym(library->handle, name);
}

void plat_library_close(PlatLibrary *library) {
    if (library != nullptr) {
        dlclose(library->handle);
        delete library;
    }
}

int plat_restrict_library_search() {
    return 1;
}

unsigned long plat_create_private_directory(const char *path) {
    return MakeDirectory(path, 0700);
}

unsigned long plat_check_private_directory(const char *path) {
    struct stat st;
    if (lstat(HostDirectoryPath(path).c_str(), &st) != 0) {
        return static_cast<unsigned long>(errno);
    }
    if (S_ISLNK(st.st_mode)) {
        return PLAT_ERROR_REPARSE_POINT;
    }
    if (!S_ISDIR(st.st_mode)) {
        return 0;
    }
    if (st.st_uid != 0 && st.st_uid != geteuid()) {
        return PLAT_ERROR_FOREIGN_OWNER;
    }
    // An access list entry granting write shows in the group bits (its mask).
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return PLAT_ERROR_OPEN_TO_OTHERS;
    }
    return plat_check_folders_above(path);
}

namespace {

bool TrustedOwner(uid_t uid) {
    return uid == 0 || uid == geteuid();
}

// The host path of PATH made absolute: a relative one lies below the current
// directory. Empty when the current directory cannot be told.
std::string AbsoluteHostPath(const char *path) {
    std::string host = HostDirectoryPath(path);
    if (!host.empty() && host[0] == '/') {
        return host;
    }
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) {
        return std::string();
    }
    return std::string(cwd) + "/" + host;
}

// Judges every folder from the root down to DIR, DIR included, as
// plat_check_folders_above does; *link tells whether one was a link.
unsigned long CheckFoldersDownTo(const std::string &dir, bool *link) {
    for (size_t end = 0;; end = dir.find('/', end + 1)) {
        const std::string folder = end == std::string::npos ? dir
                                   : end == 0               ? std::string("/")
                                                            : dir.substr(0, end);
        struct stat st;
        if (lstat(folder.c_str(), &st) != 0) {
            return static_cast<unsigned long>(errno);
        }
        if (!TrustedOwner(st.st_uid)) {
            return PLAT_ERROR_FOREIGN_OWNER;
        }
        *link = *link || S_ISLNK(st.st_mode);
        if (S_ISDIR(st.st_mode) && (st.st_mode & (S_IWGRP | S_IWOTH)) != 0 &&
            (st.st_mode & S_ISVTX) == 0) {
            return PLAT_ERROR_OPEN_TO_OTHERS;
        }
        if (end == std::string::npos) {
            return 0;
        }
    }
}

} // namespace

unsigned long plat_check_folders_above(const char *path) {
    std::string dir = AbsoluteHostPath(path);
    if (dir.empty()) {
        return static_cast<unsigned long>(errno);
    }
    dir.erase(dir.rfind('/'));
    if (dir.empty()) {
        dir = "/";
    }
    bool link = false;
    unsigned long error = CheckFoldersDownTo(dir, &link);
    if (error != 0 || !link) {
        return error;
    }
    // Through a link the folders of its target count as well.
    char real[PATH_MAX];
    if (realpath(dir.c_str(), real) == nullptr) {
        return static_cast<unsigned long>(errno);
    }
    return CheckFoldersDownTo(real, &link);
}

unsigned long plat_check_trusted(const char *path) {
    struct stat st;
    if (lstat(HostDirectoryPath(path).c_str(), &st) != 0) {
        return static_cast<unsigned long>(errno);
    }
    if (S_ISLNK(st.st_mode)) {
        return PLAT_ERROR_REPARSE_POINT;
    }
    if (!TrustedOwner(st.st_uid)) {
        return PLAT_ERROR_FOREIGN_OWNER;
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return PLAT_ERROR_OPEN_TO_OTHERS;
    }
    return plat_check_folders_above(path);
}

unsigned long plat_check_owner(const char *path) {
    struct stat st;
    if (lstat(HostDirectoryPath(path).c_str(), &st) != 0) {
        return static_cast<unsigned long>(errno);
    }
    if (S_ISLNK(st.st_mode)) {
        return PLAT_ERROR_REPARSE_POINT;
    }
    return TrustedOwner(st.st_uid) ? 0 : PLAT_ERROR_FOREIGN_OWNER;
}

unsigned long plat_hold_directory(const char *path) {
    (void)path;
    return 0;
}

unsigned long plat_take_run_lock(const char *path) {
    int fd =
        open(HostPath(path).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0) {
        return errno == ELOOP ? PLAT_ERROR_REPARSE_POINT : static_cast<unsigned long>(errno);
    }
    struct stat st;
    unsigned long error = fstat(fd, &st) != 0    ? static_cast<unsigned long>(errno)
                          : !S_ISREG(st.st_mode) ? static_cast<unsigned long>(EINVAL)
                                                 : 0;
    // Kept above the standard descriptors and the tool's descriptor 3.
    int kept = error == 0 ? fcntl(fd, F_DUPFD_CLOEXEC, 10) : -1;
    if (error == 0 && kept < 0) {
        error = static_cast<unsigned long>(errno);
    }
    close(fd);
    if (error != 0) {
        return error;
    }
    // An open-file-description lock: held by every descriptor of this open,
    // the writer tool's among them, and released when the last one closes.
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(kept, F_OFD_SETLK, &lock) != 0) {
        error = errno == EAGAIN || errno == EACCES ? PLAT_ERROR_LOCKED
                                                   : static_cast<unsigned long>(errno);
        close(kept);
        return error;
    }
    RunLockFd = kept;
    return 0;
}

namespace {

volatile sig_atomic_t InterruptionCount = 0;

extern "C" void RecordInterruption(int) {
    InterruptionCount = InterruptionCount + 1;
}

// SIGPIPE too: an output whose reader is gone (a pipe's, a dropped session's)
// would otherwise end the program in the middle of a write.
constexpr int kHeldSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
constexpr size_t HELD_SIGNAL_COUNT = sizeof kHeldSignals / sizeof kHeldSignals[0];
struct sigaction SavedActions[HELD_SIGNAL_COUNT];
bool Installed[HELD_SIGNAL_COUNT];

} // namespace

void plat_hold_interruptions() {
    for (size_t i = 0; i < HELD_SIGNAL_COUNT; i++) {
        // A signal ignored from the start (a background job, nohup) stays
        // ignored, here and in the tool.
        Installed[i] = false;
        if (sigaction(kHeldSignals[i], nullptr, &SavedActions[i]) != 0 ||
            SavedActions[i].sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action = {};
        action.sa_handler = RecordInterruption;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0; // no SA_RESTART: the wait returns to look at it
        Installed[i] = sigaction(kHeldSignals[i], &action, nullptr) == 0;
    }
}

void plat_release_interruptions() {
    for (size_t i = 0; i < HELD_SIGNAL_COUNT; i++) {
        if (Installed[i]) {
            sigaction(kHeldSignals[i], &SavedActions[i], nullptr);
            Installed[i] = false;
        }
    }
}

unsigned plat_interruptions() {
    return static_cast<unsigned>(InterruptionCount);
}

int plat_wait_process(PlatProcess *process, unsigned long milliseconds) {
    const unsigned seen = plat_interruptions();
    const unsigned long long deadline = plat_milliseconds() + milliseconds;
    for (;;) {
        // Never a blocking wait: an interruption that comes just before it
        // would go unseen until the child ends.
        pid_t r = waitpid(process->pid, nullptr, WNOHANG);
        if (r == process->pid || (r < 0 && errno != EINTR)) {
            process->pid = -1;
            return 1;
        }
        if (plat_interruptions() != seen) {
            return 0;
        }
        unsigned long long nap = 10;
        if (milliseconds != PLAT_WAIT_FOREVER) {
            unsigned long long now = plat_milliseconds();
            if (now >= deadline) {
                return 0;
            }
            nap = deadline - now < nap ? deadline - now : nap;
        }
        // The end of the child is looked for every 10 ms; a signal cuts the sleep short.
        struct timespec pause = {0, static_cast<long>(nap) * 1000000L};
        nanosleep(&pause, nullptr);
    }
}

int plat_stdout_is_console() {
    return isatty(STDOUT_FILENO) ? 1 : 0;
}

unsigned long long plat_milliseconds() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<unsigned long long>(now.tv_sec) * 1000ULL +
           static_cast<unsigned long long>(now.tv_nsec) / 1000000ULL;
}

FILE *plat_fopen_log(const char *path) {
    // Never a link (O_NOFOLLOW), never a FIFO that would block the open.
    int fd =
        open(HostPath(path).c_str(),
             O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
        !TrustedOwner(st.st_uid)) {
        close(fd);
        errno = EPERM;
        return nullptr;
    }
    FILE *file = fdopen(fd, "a");
    if (file == nullptr) {
        close(fd);
    }
    return file;
}
