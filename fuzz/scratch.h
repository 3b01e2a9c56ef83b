// The work directory of a fuzz target that passes its input through files: a
// fresh directory under TMPDIR (else /tmp), made the current directory and
// removed again at exit. The targets use fixed relative names inside it, so
// that nothing which differs between runs (a process id, the directory's own
// name) reaches the code under test or the comparisons libFuzzer learns from:
// with the same seed a run repeats itself.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

inline std::string &ScratchDirectory() {
    static std::string directory;
    return directory;
}

inline void RemoveScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(ScratchDirectory(), ignored);
}

// Once per process; later calls do nothing.
inline void EnterScratchDirectory() {
    if (!ScratchDirectory().empty()) {
        return;
    }
    const char *tmp = getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/lanrefit-fuzz-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) {
        abort();
    }
    ScratchDirectory() = name.data();
    std::filesystem::current_path(ScratchDirectory());
    atexit(RemoveScratchDirectory);
}
