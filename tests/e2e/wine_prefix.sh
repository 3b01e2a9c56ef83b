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
# One wine server for the whole Windows tier (stopped by wine_stop.sh): a
# server that shuts down after each idle spell races with the next test's
# start ("wine client error: recvmsg: Connection reset by peer").
setsid wineserver -p </dev/null >/dev/null 2>&1 &
sleep 1
# The usage text must come out and exit with code 1.
out=$(wine "$program" -H 2>/dev/null) && rc=0 || rc=$?
[ "$rc" -eq 1 ] || { echo "wine_prefix: lanrefit.exe -H exited $rc" >&2; exit 1; }
case "$out" in USAGE:*) ;; *) echo "wine_prefix: unexpected output: $out" >&2; exit 1 ;; esac
echo "wine prefix ready: $prefix"
