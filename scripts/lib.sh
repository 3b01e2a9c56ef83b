# Shared by the project's scripts: installs the Debian packages a step needs.
# Usage: ensure_packages "command-or-file:package" ...
# An entry is satisfied when the command is on PATH, or, for an absolute
# path, when that file exists.
ensure_packages() {
    local missing=() entry probe package
    for entry in "$@"; do
        probe=${entry%%:*}
        package=${entry#*:}
        if [[ $probe == /* ]]; then
            [[ -e $probe ]] && continue
        else
            command -v "$probe" >/dev/null 2>&1 && continue
        fi
        missing+=("$package")
    done
    [[ ${#missing[@]} -eq 0 ]] && return 0
    if [[ $(id -u) -ne 0 ]] || ! command -v apt-get >/dev/null 2>&1; then
        echo "error: missing Debian packages: ${missing[*]}" >&2
        echo "       install them as root: apt-get install ${missing[*]}" >&2
        exit 1
    fi
    echo "installing Debian packages: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    if ! { apt-get update -qq && apt-get install -y -qq "${missing[@]}" >/dev/null; }; then
        echo "error: could not install the Debian packages: ${missing[*]}" >&2
        exit 1
    fi
}

NATIVE_PACKAGES=(cmake:cmake g++:g++ make:make git:git clang-format:clang-format
                 /usr/include/gtest/gtest.h:libgtest-dev
                 /usr/src/googletest/CMakeLists.txt:googletest)
WINDOWS_PACKAGES=(x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64-posix wine:wine
                  /usr/lib/wine/wine64:wine64
                  x86_64-w64-mingw32-objcopy:binutils-mingw-w64-x86-64)
# The fleet rollout example (examples/ansible) and its test; Chromium renders the report.
ROLLOUT_PACKAGES=(ansible-playbook:ansible-core unzip:unzip python3:python3 ssh:openssh-client
                  ansible-lint:ansible-lint chromium:chromium
                  /usr/lib/python3/dist-packages/ansible_collections/ansible/windows:ansible)

# The fuzz build: clang, then the libFuzzer runtime of the clang installed.
FUZZ_PACKAGES=(cmake:cmake make:make clang++:clang)
ensure_fuzz_packages() {
    ensure_packages "${FUZZ_PACKAGES[@]}"
    local version runtime
    version=$(clang++ -dumpversion)
    runtime=$(clang++ -print-resource-dir)/lib/linux/libclang_rt.fuzzer-x86_64.a
    ensure_packages "$runtime:libclang-rt-${version%%.*}-dev"
}
