#!/usr/bin/env bash
# Builds the Windows release package from a Windows build tree with CPack and
# checks its name, its exact file list, the operators' README.txt, the version
# resource of the lanrefit.exe inside it and that program's hardening
# (check_hardening.sh).
#   check_package.sh WINDOWS_BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail
windir=$1 srcdir=$2 version=$3
top=lanrefit-$version-win64
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$windir/CPackConfig.cmake" -B "$tmp/out" >"$tmp/cpack.log" 2>&1 ||
    { cat "$tmp/cpack.log"; fail "cpack"; }
[[ -f $tmp/out/$top.zip ]] || fail "no $top.zip in: $(ls "$tmp/out")"
mkdir "$tmp/x"
(cd "$tmp/x" && cmake -E tar xf "$tmp/out/$top.zip")

# What an administrator unpacks; the adapter library and the writer tool
# never go in.
expected=(
    "$top/README.txt"
    "$top/docs/operator.md"
    "$top/docs/reliability.md"
    "$top/docs/decisions.md"
    "$top/docs/security.md"
    "$top/lanrefit.exe"
    "$top/NIC_FW/README.txt"
    "$top/NIC_FW/Boot_Code/BC.config"
    "$top/NIC_FW/PXE/MFPXE.config"
    "$top/NIC_FW/UMP/UMP.config"
    "$top/NIC_FW/CLP/CLP.config"
    "$top/NIC_FW/iSCSI/iSCSI.config"
    "$top/NIC_FW/iSCSI/iSCSI_stub.config"
)
diff -u <(printf '%s\n' "${expected[@]}" | LC_ALL=C sort) \
        <(cd "$tmp/x" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) ||
    fail "package file list (- expected, + packaged)"

# The operators' README: it names the guide and what must be added, and its
# runbook's commands are the guide's, word for word.
readme=$tmp/x/$top/README.txt
for text in 'docs\operator.md' OMBRIa.DLL imgwriter.exe 'NIC_FW\Jumper.config' \
    'The runbook in five steps' '5. Confirm:'; do
    grep -qF "$text" "$readme" || fail "README.txt does not name '$text'"
done
commands=0
while read -r command; do
    grep -qxF "C:\fw> $command" "$tmp/x/$top/docs/operator.md" ||
        grep -qF "\`$command\`" "$tmp/x/$top/docs/operator.md" ||
        fail "README.txt's command '$command' is not in the guide"
    commands=$((commands + 1))
done < <(sed -n 's/^       \([a-z].*\)$/\1/p' "$readme")
[[ $commands -ge 7 ]] || fail "README.txt shows $commands commands, not the runbook's"

# The version resource: the string table as key and value on consecutive
# lines, and the fixed part with the numbers of VERSION.
exe=$tmp/x/$top/lanrefit.exe
x86_64-w64-mingw32-objcopy -O binary --only-section=.rsrc "$exe" "$tmp/rsrc.bin"
x86_64-w64-mingw32-strings -el "$tmp/rsrc.bin" >"$tmp/strings.txt"
while IFS='|' read -r key value; do
    got=$(awk -v k="$key" 'found { print; exit } $0 == k { found = 1 }' "$tmp/strings.txt")
    [[ $got == "$value" ]] || fail "version resource $key: '$got', expected '$value'"
done <<EOT
ProductName|lanrefit
FileVersion|$version
ProductVersion|$version
OriginalFilename|lanrefit.exe
CompanyName|lanrefit developers
EOT
grep -qx 'FileDescription' "$tmp/strings.txt" || fail "version resource without FileDescription"

le16() { printf '%02x %02x' $(($1 & 255)) $(($1 >> 8)); }
IFS=. read -r major minor patch <<<"$version"
pair="$(le16 "$minor") $(le16 "$major") $(le16 0) $(le16 "$patch")"
fixed="bd 04 ef fe 00 00 01 00 $pair $pair"
od -An -v -tx1 "$tmp/rsrc.bin" | tr -s ' \n' '  ' | grep -q "$fixed" ||
    fail "no fixed version $version,0 for file and product"
"$(dirname "$0")/check_hardening.sh" windows "$exe" "$windir" || fail "hardening"
echo "package $top.zip: ${#expected[@]} files, version resource $version, hardened"
