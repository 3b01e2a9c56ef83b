// Files and directories for the unit tests, the same way on Linux and Windows.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

// A new empty directory below the system's temporary directory.
inline std::string FreshDirectory(const char *prefix) {
    static unsigned serial = 0;
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        auto dir = base / (std::string(prefix) + "-" + std::to_string(stamp) + "-" +
                           std::to_string(++serial));
        if (std::filesystem::create_directory(dir)) {
            return dir.string();
        }
    }
}

// An empty file that standard input is left on between tests.
inline std::string EmptyInputFile() {
    static const std::string path = [] {
        std::string p = (std::filesystem::temp_directory_path() / "lanrefit-empty-input").string();
        std::ofstream(p, std::ios::binary | std::ios::trunc);
        return p;
    }();
    return path;
}
