#!/bin/sh
# Fails when a source under src/ includes from a subsystem above its own. The
# layers, lowest first: platform, base, output, adapter, select, write,
# restore, run. A file may include its own layer and those below it.
set -eu
cd "$1/src"
rank() {
    case "$1" in
    platform) echo 0 ;; base) echo 1 ;; output) echo 2 ;; adapter) echo 3 ;;
    select) echo 4 ;; write) echo 5 ;; restore) echo 6 ;; run) echo 7 ;;
    *) echo 99 ;;
    esac
}
status=0
for file in */*.h */*.cpp; do
    own=$(rank "${file%%/*}")
    for used in $(sed -n 's|^#include "\([a-z]*\)/.*|\1|p' "$file"); do
        if [ "$(rank "$used")" -gt "$own" ]; then
            echo "$file includes from $used/, a layer above ${file%%/*}/"
            status=1
        fi
    done
done
exit $status
