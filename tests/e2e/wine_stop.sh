#!/bin/sh
# Stops the wine server that wine_prefix.sh left running for the Windows tests.
set -eu
export WINEPREFIX="$1"
wineserver -k 2>/dev/null || true
echo "wine server stopped: $WINEPREFIX"
