// File stamps and atomic saves of the simulated server, for POSIX and Windows.
#include "sim/common/sim_files.h"

#include <cerrno>
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32

constexpr int64_t TICKS_PER_SECOND = 10000000; // FILETIME counts 100 ns

int64_t filetime_value(const FILETIME &t) {
    return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

std::string temp_name(const std::string &path) {
    return path + ".tmp" + std::to_string(static_cast<unsigned long>(GetCurrentProcessId()));
}

// Writes data to a new temporary file and flushes it to the disk.
int write_temp(const std::string &tmp, const std::vector<uint8_t> &data, std::string &error) {
    HANDLE file = CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = "cannot create a temporary file beside it";
        return 0;
    }
    size_t done = 0;
    int ok = 1;
    while (ok && done < data.size()) {
        DWORD chunk = static_cast<DWORD>(data.size() - done > 65536 ? 65536 : data.size() - done);
        DWORD written = 0;
        ok = WriteFile(file, data.data() + done, chunk, &written, nullptr) && written == chunk;
        done += written;
    }
    ok = ok && FlushFileBuffers(file);
    if (!CloseHandle(file) || !ok) {
        DeleteFileA(tmp.c_str());
        error = "cannot write a temporary file beside it";
        return 0;
    }
    return 1;
}

#else

constexpr int64_t TICKS_PER_SECOND = 1000000000; // nanoseconds

std::string temp_name(const std::string &path) {
    return path + ".tmp" + std::to_string(static_cast<long>(getpid()));
}

int write_temp(const std::string &tmp, const std::vector<uint8_t> &data, std::string &error) {
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) {
        error = "cannot create a temporary file beside it";
        return 0;
    }
    size_t done = 0;
    int ok = 1;
    while (ok && done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        if (ok) {
            done += static_cast<size_t>(n);
        }
    }
    ok = ok && fsync(fd) == 0;
    if (close(fd) != 0 || !ok) {
        unlink(tmp.c_str());
        error = "cannot write a temporary file beside it";
        return 0;
    }
    return 1;
}

// Makes a new name in the directory durable (best effort).
void sync_directory(const std::string &path) {
    size_t slash = path.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

#endif

} // namespace

int sim_file_stamp(const std::string &path, SimFileStamp &stamp) {
    stamp = SimFileStamp{};
#ifdef _WIN32
    FILETIME now_time;
    GetSystemTimeAsFileTime(&now_time);
    int64_t now = filetime_value(now_time);
    HANDLE file =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    BY_HANDLE_FILE_INFORMATION info;
    int ok = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    if (!ok) {
        return 0;
    }
    stamp.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    stamp.mtime = filetime_value(info.ftLastWriteTime);
    stamp.volume = info.dwVolumeSerialNumber;
    stamp.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
#else
    timespec now_time;
    clock_gettime(CLOCK_REALTIME, &now_time);
    int64_t now = static_cast<int64_t>(now_time.tv_sec) * TICKS_PER_SECOND + now_time.tv_nsec;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        return 0;
    }
    stamp.size = static_cast<uint64_t>(st.st_size);
    stamp.mtime = static_cast<int64_t>(st.st_mtim.tv_sec) * TICKS_PER_SECOND + st.st_mtim.tv_nsec;
    stamp.volume = static_cast<uint64_t>(st.st_dev);
    stamp.index = static_cast<uint64_t>(st.st_ino);
#endif
    int64_t window = stamp.mtime % TICKS_PER_SECOND == 0
                         ? 2 * TICKS_PER_SECOND
                         : SIM_STAMP_WINDOW_MS * (TICKS_PER_SECOND / 1000);
    stamp.settled = stamp.mtime < now - window;
    return 1;
}

int sim_stamp_same(const SimFileStamp &a, const SimFileStamp &b) {
    return a.size == b.size && a.mtime == b.mtime && a.volume == b.volume && a.index == b.index;
}

int sim_file_exists(const std::string &path) {
#ifdef _WIN32
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
#else
    struct stat st;
    return lstat(path.c_str(), &st) == 0; // a dangling link is a name in use too
#endif
}

int sim_save_new_file(const std::string &path, const std::vector<uint8_t> &data,
                      std::string &error) {
    std::string tmp = temp_name(path);
    if (!write_temp(tmp, data, error)) {
        return 0;
    }
#ifdef _WIN32
    if (!MoveFileExA(tmp.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
        DWORD code = GetLastError();
        DeleteFileA(tmp.c_str());
        if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) {
            return -1;
        }
        error = "cannot move the temporary file to its name";
        return 0;
    }
#else
    if (link(tmp.c_str(), path.c_str()) != 0) {
        int code = errno;
        unlink(tmp.c_str());
        if (code == EEXIST) {
            return -1;
        }
        error = "cannot link the temporary file to its name";
        return 0;
    }
    unlink(tmp.c_str());
    sync_directory(path);
#endif
    return 1;
}

int sim_replace_file(const std::string &path, const std::vector<uint8_t> &data,
                     std::string &error) {
    std::string tmp = temp_name(path);
    if (!write_temp(tmp, data, error)) {
        return 0;
    }
#ifdef _WIN32
    if (!MoveFileExA(tmp.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(tmp.c_str());
        error = "cannot move the temporary file over the old one";
        return 0;
    }
#else
    if (rename(tmp.c_str(), path.c_str()) != 0) {
        unlink(tmp.c_str());
        error = "cannot rename the temporary file over the old one";
        return 0;
    }
    sync_directory(path);
#endif
    return 1;
}
