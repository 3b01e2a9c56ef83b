#!/bin/sh
# Creates (or refreshes) the private Wine prefix of the Windows end-to-end
# tests and checks that the Windows program is there and starts.
set -eu
prefix=$1
program=$2
if [ ! -f "$program" ]; then
    echo "wine_prefix: $program is missing: build the windows preset first" >&2
    exit 1
fi
export WINEPREFIX="$prefix" WINEDEBUG=-all
mkdir -p "$prefix"
wineboot --init >/dev/null 2>&1 || true
wineserver -w || true
# The usage text must come out and exit with code 1.
out=$(wine "$program" -H 2>/dev/null) && rc=0 || rc=$?
[ "$rc" -eq 1 ] || { echo "wine_prefix: lanrefit.exe -H exited $rc" >&2; exit 1; }
case "$out" in USAGE:*) ;; *) echo "wine_prefix: unexpected output: $out" >&2; exit 1 ;; esac
echo "wine prefix ready: $prefix"
