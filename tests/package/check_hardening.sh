#!/usr/bin/env bash
# Checks the hardening of a built lanrefit program, one row per property.
#   check_hardening.sh windows PROGRAM.exe WINDOWS_BUILD_DIR
#   check_hardening.sh native PROGRAM NATIVE_BUILD_DIR
# Windows: address-space randomisation with high-entropy addresses and
# no-execute data marked in the image, relocations kept for it, the stack
# protector called from the program's code, no library imported but the
# system's (the protector's runtime is linked in), and every product source
# compiled with the stack protector and fortified calls. The fortified calls
# of this program are all settled when it is compiled (every size is known
# then), so none is left to find in it; the compiler is shown instead to turn
# a copy of unknown length into a checked one with the same flags.
# Native: a position-independent program, relocations read-only and resolved
# at start, a stack that cannot execute, and the checked calls imported.
set -euo pipefail
target=$1 program=$2 build=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $target hardening: $*" >&2; exit 1; }
has() { grep -Eq -- "$2" "$tmp/$1" || fail "$3"; }

if [[ $target == windows ]]; then
    x86_64-w64-mingw32-objdump -p "$program" >"$tmp/headers"
    x86_64-w64-mingw32-objdump -h "$program" >"$tmp/sections"
    x86_64-w64-mingw32-objdump -d "$program" >"$tmp/code"
    sed -n '/^DllCharacteristics/,/^SizeOfStackReserve/p' "$tmp/headers" >"$tmp/flags"
    has flags '^\s+DYNAMIC_BASE$' "no DYNAMIC_BASE (address-space randomisation)"
    has flags '^\s+HIGH_ENTROPY_VA$' "no HIGH_ENTROPY_VA"
    has flags '^\s+NX_COMPAT$' "no NX_COMPAT (no-execute data)"
    has sections ' \.reloc ' "no .reloc section: the image cannot be moved"
    has code 'call .*<__stack_chk_fail>' "the stack protector is never called"
    sed -n 's/^\s*DLL Name: //p' "$tmp/headers" | sort -f | tr '\n' ' ' >"$tmp/imports"
    [[ $(cat "$tmp/imports") == "ADVAPI32.dll KERNEL32.dll msvcrt.dll " ]] ||
        fail "imports $(cat "$tmp/imports")(only the system's expected)"
    grep -Eo '"command": "[^"]* CMakeFiles/lanrefit(_core)?\.dir/[^"]*"' \
        "$build/compile_commands.json" >"$tmp/commands"
    [[ -s $tmp/commands ]] || fail "no compile command of the product in $build"
    if grep -v -e '-fstack-protector-strong' "$tmp/commands" ||
        grep -v -e '-D_FORTIFY_SOURCE=2' "$tmp/commands"; then
        fail "a product source compiled without the stack protector or fortified calls"
    fi
    compiler=$(head -1 "$tmp/commands" | sed 's/^"command": "\([^ ]*\) .*/\1/')
    printf '%s\n' '#include <cstring>' 'char out[8];' \
        'void copy(const char *in, std::size_t n) { std::memcpy(out, in, n); }' >"$tmp/probe.cpp"
    "$compiler" -O2 -fstack-protector-strong -D_FORTIFY_SOURCE=2 -S -o "$tmp/probe.s" \
        "$tmp/probe.cpp"
    has probe.s '__memcpy_chk' "the toolchain does not fortify a copy with these flags"
else
    readelf -hW "$program" >"$tmp/header"
    readelf -dW "$program" >"$tmp/dynamic"
    readelf -lW "$program" >"$tmp/segments"
    nm -D "$program" >"$tmp/symbols"
    has header 'Type:\s+DYN' "not position-independent"
    has dynamic 'FLAGS_1.*PIE' "not position-independent"
    has dynamic '\(FLAGS\).*BIND_NOW' "relocations not resolved at start"
    has segments 'GNU_RELRO' "no read-only relocations"
    has segments 'GNU_STACK\s.*\sRW\s' "an executable stack"
    has symbols ' U __stack_chk_fail' "the stack protector is never called"
    has symbols ' U __[a-z]+_chk' "no fortified call"
fi
echo "$target hardening of $program: as expected"
