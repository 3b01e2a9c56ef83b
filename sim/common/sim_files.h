// Files of the simulated server as whole units: a file's identity (to tell
// whether it changed since it was read) and saves that never leave a torn file.
// Used by the simulated library (its NVRAM cache) and the simulated writer tool.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What identifies one version of a file. POSIX: size, modification time in
// nanoseconds, device and inode. Windows: size, last-write time in 100 ns
// units, volume serial number and file index.
struct SimFileStamp {
    uint64_t size;
    int64_t mtime;
    uint64_t volume;
    uint64_t index;
    int settled; // the modification time was old enough when the stamp was taken
};

// Takes the stamp of the file at path. Returns 1, or 0 when it cannot be had.
//
// File times come from a coarse clock, so a file rewritten in place within one
// tick can keep its time and size. A stamp is settled when the modification
// time lay SIM_STAMP_WINDOW_MS before the moment the stamp was taken (2 s where
// the file system keeps whole seconds): any later change then carries a later
// time. A reader may trust a cached copy only under a settled stamp.
int sim_file_stamp(const std::string &path, SimFileStamp &stamp);
constexpr int64_t SIM_STAMP_WINDOW_MS = 50;

// 1 when both stamps name the same version of a file.
int sim_stamp_same(const SimFileStamp &a, const SimFileStamp &b);

int sim_file_exists(const std::string &path);

// Saves data as a new file at path, never replacing one: it is written to a
// temporary file in the same directory, flushed to the disk, then linked in
// under its name (POSIX) or moved there without replacing (Windows). Returns
// 1 when saved, -1 when a file of that name exists (nothing changed), 0 on any
// other failure (nothing left behind); error gets a short reason.
int sim_save_new_file(const std::string &path, const std::vector<uint8_t> &data,
                      std::string &error);

// Replaces the file at path with data atomically: a temporary file in the same
// directory, flushed, then renamed over the old one. A crash leaves either the
// old or the new file whole. Returns 1, or 0 with a short reason (the old file
// is then untouched).
int sim_replace_file(const std::string &path, const std::vector<uint8_t> &data, std::string &error);
