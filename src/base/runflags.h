// The one process-wide word of option and run-state bits, the three argument
// texts of the command line, and the index of the adapter being worked on.
// Every subsystem reads them; the command line (run/) fills them.
#pragma once

#include <cstdint>

extern uint32_t RunFlags;
extern const char *ImageFileArg;   // file of -I; points into argv
extern const char *MacFilterArg;   // MAC of the per-component options; points into argv
extern const char *RestoreFileArg; // file of -e; points into argv
extern uint32_t CurrentNic;

constexpr uint32_t RUN_DEBUG = 0x00000001;
constexpr uint32_t RUN_REPORT_INSTALLED = 0x00000008;
constexpr uint32_t RUN_REPORT_IMAGE = 0x00000010;
constexpr uint32_t RUN_CANCELLED = 0x00000020;
constexpr uint32_t RUN_SILENT = 0x00000040;
constexpr uint32_t RUN_FORCE = 0x00000080;
constexpr uint32_t RUN_RESTORE = 0x00000100;
constexpr uint32_t RUN_NOTICE_SHOWN = 0x00000400;
constexpr uint32_t RUN_LOG_OPEN = 0x00000800;
constexpr uint32_t RUN_LOG_READY = 0x00001000;
constexpr uint32_t RUN_VERIFY_PENDING = 0x00002000;
constexpr uint32_t RUN_HAD_ERRORS = 0x00004000;
constexpr uint32_t RUN_UPDATED = 0x00008000;
constexpr uint32_t RUN_LIST = 0x00010000;
constexpr uint32_t RUN_ONLY_BC = 0x00020000;
constexpr uint32_t RUN_ONLY_PXE = 0x00040000;
constexpr uint32_t RUN_RESTORE_FILE = 0x00100000;
constexpr uint32_t RUN_LIST_BACKUPS = 0x00200000;
constexpr uint32_t RUN_ADVISE_ONLY = 0x00400000;
constexpr uint32_t RUN_ADVISE_NEWER = 0x00800000;
constexpr uint32_t RUN_ADVISE_SAME = 0x01000000;
constexpr uint32_t RUN_ADVISE_OLDER = 0x02000000;
constexpr uint32_t RUN_ONLY_UMP = 0x04000000;
constexpr uint32_t RUN_ONLY_CLP = 0x08000000;
constexpr uint32_t RUN_ONLY_ISCSI = 0x10000000;
constexpr uint32_t RUN_ONLY_ISCSI_STUB = 0x20000000;

constexpr uint32_t RUN_ONLY_MASK =
    RUN_ONLY_BC | RUN_ONLY_PXE | RUN_ONLY_UMP | RUN_ONLY_CLP | RUN_ONLY_ISCSI | RUN_ONLY_ISCSI_STUB;
static_assert(RUN_ONLY_MASK == 0x3C060000, "per-component option bits");
