// The operating-system services the utility needs, behind one interface.
// platform_win32.cpp implements them for the product, platform_posix.cpp for the
// Linux development and test host. Every path given to these routines is a
// Windows path text ("C:\VLMSYSTEM\...", ".\NIC_FW\..."); the POSIX layer turns
// it into a host path only when it touches a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#if defined(__MINGW32__)
#define PLAT_PRINTF(fmt, args) __attribute__((format(__MINGW_PRINTF_FORMAT, fmt, args)))
#else
#define PLAT_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

// Paths are texts of at most 260 bytes, terminating NUL included.
constexpr size_t PLAT_PATH_MAX = 260;

// Directory creation errors that mean "already there".
constexpr unsigned long PLAT_ERROR_ALREADY_EXISTS = 183;
constexpr unsigned long PLAT_ERROR_FILE_EXISTS = 80;

// 1 when the process may administer the machine (Windows: the service control
// manager opens with generic read, write and execute access; POSIX: euid 0).
int plat_is_administrator();

// The drive part of the system directory ("C:"), or "" when it has none. POSIX:
// the value of the environment variable SystemDrive, "" when unset.
void plat_system_drive(char *buf, size_t size);

// Creates one directory. Returns 0 on success, else the platform error code;
// an existing directory gives PLAT_ERROR_ALREADY_EXISTS on both platforms.
unsigned long plat_create_directory(const char *path);

// C-runtime stream on a Windows path text; null with errno set on failure.
FILE *plat_fopen(const char *path, const char *mode);

// Size of an open file. Returns 1 on success, 0 with errno set.
int plat_file_size(FILE *file, unsigned long long *size);

// 1 when anything (file, directory, link) is at the path, or when that cannot
// be told: a name is taken as free only when the platform says nothing is there.
int plat_path_exists(const char *path);

// Directory listing, one entry at a time, in the platform's order (NTFS order,
// by name, on POSIX too). The pattern is a directory path followed by "*".
struct PlatDirEntry {
    char name[PLAT_PATH_MAX];
    int is_directory;
    int is_hidden;
    int is_system;
    int is_reparse; // a junction, a symbolic link or another reparse point
};
struct PlatFind;
// Null when nothing matches or the directory cannot be read; *error gets the code.
PlatFind *plat_find_first(const char *pattern, PlatDirEntry *entry, unsigned long *error);
// 1 with the next entry, 0 at the end.
int plat_find_next(PlatFind *find, PlatDirEntry *entry);
void plat_find_close(PlatFind *find);

// Runs a command line as a child process without a window, inheriting no
// handles, and waits for it without a time limit. The first word names the
// program, relative to the current directory. Returns 1 when the child was
// started (its exit code is not reported), 0 with *error set otherwise.
int plat_run_process(const char *command_line, unsigned long *error);

// Console text attribute of standard output (12 bright red, 7 grey). Ignored
// where there is no console; POSIX applies it as an ANSI colour on a terminal only.
void plat_console_attribute(uint16_t attribute);

// Dynamic library of the adapter-management interface. The name is the Windows
// file name ("OMBRIa.DLL"), loaded by full path from the program's own folder
// and nowhere else (POSIX: lib<stem>.so beside the executable). Null when the
// program's folder cannot be found or the library there cannot be loaded.
struct PlatLibrary;
PlatLibrary *plat_library_open(const char *name);
// Windows binds by ordinal, POSIX by name.
void *plat_library_function(PlatLibrary *library, unsigned ordinal, const char *name);
void plat_library_close(PlatLibrary *library);

// Restricts the search for libraries that the process loads later to the
// system folder and the program's folder: never the current directory or PATH.
// Called first thing at start; 1 when done (POSIX: nothing to do, libraries
// are only ever loaded by full path). A library loaded by full path does not
// depend on it.
int plat_restrict_library_search();

// Refusals of an existing work directory, reported as its creation error:
// a junction, a symbolic link or another reparse point (ERROR_CANT_ACCESS_FILE);
// an owner other than Administrators, SYSTEM or the running account (POSIX:
// root or the effective user) (ERROR_INVALID_OWNER); an access list that lets
// any other account write into it (POSIX: group or other write bits)
// (ERROR_INVALID_ACL).
constexpr unsigned long PLAT_ERROR_REPARSE_POINT = 1920;
constexpr unsigned long PLAT_ERROR_FOREIGN_OWNER = 1307;
constexpr unsigned long PLAT_ERROR_OPEN_TO_OTHERS = 1336;

// Creates one directory that only Administrators and SYSTEM may use: a
// protected access list granting both full control, nothing inherited
// (POSIX: mode 0700). Results as plat_create_directory.
unsigned long plat_create_private_directory(const char *path);

// Judges what lies at an existing path before the program uses it as a work
// directory: 0 when it may be used, or when it is no directory at all (what
// follows then fails as it would without this test); else one of the three
// refusals above, or the platform error code when it cannot be examined.
// POSIX: the folders above it as well (below).
unsigned long plat_check_private_directory(const char *path);

// One run at a time: takes the lock file at path, creating it when missing,
// and holds it until the process ends, however it ends (Windows: the file
// kept open without sharing; POSIX: an fcntl write lock on it), and for as
// long as a writer tool started afterwards runs, which holds it too. A link
// or other reparse point there is never followed. Returns 0 when taken,
// PLAT_ERROR_LOCKED while another process holds it, PLAT_ERROR_REPARSE_POINT
// for a link, else the platform error code.
constexpr unsigned long PLAT_ERROR_LOCKED = 32; // ERROR_SHARING_VIOLATION
unsigned long plat_take_run_lock(const char *path);

// A child started by plat_start_process, until plat_wait_process has seen it
// end; one at a time.
struct PlatProcess;
// Starts a command line as plat_run_process does, without waiting. Null
// with *error set when it cannot be started.
PlatProcess *plat_start_process(const char *command_line, unsigned long *error);
// Waits for the child at most milliseconds (PLAT_WAIT_FOREVER: no limit), and
// returns sooner once an interruption is recorded (plat_hold_interruptions).
// 1 when it has ended (process is then released), else 0.
constexpr unsigned long PLAT_WAIT_FOREVER = 0xFFFFFFFFUL;
int plat_wait_process(PlatProcess *process, unsigned long milliseconds);

// While a write runs, an interruption (Windows: Ctrl-C and Ctrl-Break at the
// console; POSIX: SIGINT, SIGTERM and SIGHUP) does not end the process: it is
// only recorded. plat_release_interruptions puts back the handling from
// before, so that elsewhere an interruption ends the process as usual.
void plat_hold_interruptions();
void plat_release_interruptions();
// The number of interruptions recorded so far.
unsigned plat_interruptions();

// 1 when standard output is an interactive console (POSIX: a terminal), not
// a file or a pipe.
int plat_stdout_is_console();
// Milliseconds since a fixed moment, for elapsed times.
unsigned long long plat_milliseconds();

// Keeps an accepted work directory open to the end of the process so that it
// cannot be renamed, removed or replaced while the run uses it by path
// (Windows: opened without delete sharing; POSIX cannot hold a folder: the
// folders above it are checked instead). 0, or the platform error code.
unsigned long plat_hold_directory(const char *path);

// Judges the folders above PATH, from the root down: none may be a link that
// another account owns, each must be owned by root or the effective user, and
// none may be writable by others unless it is sticky (then only an entry's
// owner may rename or remove it). 0 or one of the refusals above, or the error
// code when one cannot be examined. Windows: 0; the directories the run uses
// are held instead (plat_hold_directory).
unsigned long plat_check_folders_above(const char *path);

// The rule of the work directories for any file or folder the program loads,
// starts or reads: no reparse point, owned by Administrators, SYSTEM or the
// running account, and no other account may write to it (POSIX: root or the
// effective user, no group or other write bit, and the folders above judged as
// plat_check_folders_above does). 0, one of the three refusals, or the error
// code when it cannot be examined (nothing there included).
unsigned long plat_check_trusted(const char *path);

// The looser rule for a file inside an accepted work directory: no reparse
// point and owned by Administrators, SYSTEM or the running account. 0, a
// refusal, or the error code.
unsigned long plat_check_owner(const char *path);

// Opens a log file for appending in text mode, creating it when missing, and
// never through a link: the file is used only when it is a regular file with
// one name, owned by Administrators, SYSTEM or the running account. Null with
// errno set otherwise (ELOOP for a link, EPERM for a file of another owner or
// kind).
FILE *plat_fopen_log(const char *path);

// The full path of the program's own folder (no trailing separator), and of
// the file of the adapter library NAME in it as plat_library_open loads it.
// 1 on success, 0 when it cannot be told or does not fit.
int plat_program_folder(char *buf, size_t size);
int plat_library_file(const char *name, char *buf, size_t size);

// The full path of the current directory; 1 on success, 0 when it cannot be
// told or does not fit.
int plat_current_folder(char *buf, size_t size);

// What the platform adds to a program name given without one (".exe").
#if defined(_WIN32)
constexpr const char *PLAT_PROGRAM_SUFFIX = ".exe";
#else
constexpr const char *PLAT_PROGRAM_SUFFIX = "";
#endif
