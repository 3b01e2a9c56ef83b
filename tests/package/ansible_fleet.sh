#!/usr/bin/env bash
# Runs the playbooks of examples/ansible against simulated servers on this
# machine (connection local, the Linux build of lanrefit, the example catalogue
# with images made by simtool): a dry run (--check), the rollout, the fleet
# report and staging, and checks each server's outcome in Ansible's recap, its
# fetched log, its report rows and its firmware afterwards.
#   ansible_fleet.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd) src=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; status=1; }
status=0

# The fleet, in rollout order, three servers a batch: the second batch fails
# in part, so the third must not start. An adapter is
# MODEL:BOOTCODE:PREBOOT-KIND:PREBOOT-VERSION:UMP of the example catalogue's
# models 1234-ABCD-5678-MODEL, "-" for nothing installed, or "other" for an
# adapter of a kind that lanrefit does not take. Left out: the writer tool,
# the image files, or the adapter library beside the program (in the work
# directory), the program itself, or the connection (a host that cannot be
# reached). Dry, roll and again: the host's "changed:failed" in Ansible's recap
# of the dry run, of the rollout and of a second rollout of the hosts marked
# in "again" only, two a batch, "u" for unreachable, "-" for a host the run
# never reached, "." for one not in it; A|B where either is right. After: the adapters
# afterwards, "=" for unchanged. Verdict: the fleet report's verdict afterwards, "_" for a blank,
# "." for a host the report leaves out.
batch=3
fleet=(
    # host     left-out  adapters                                                                      dry roll again after verdict
    "update    -         0001:5.0.3:pxe:8.3.2:1.1.9,0002:5.1.0:clp:2.0.9:1.1.0,0003:5.1.0:iscsi:2.1.0:-  1:0 1:0 . 0001:5.0.4:pxe:8.3.6:1.2.0,0002:5.1.2:clp:2.1.4:1.2.0,0003:5.1.2:iscsi:2.2.0:- up_to_date"
    "current   -         0001:5.0.4:pxe:8.3.6:1.2.0                                                    0:0 0:0 . = up_to_date"
    "newer     -         0001:5.0.5:pxe:8.3.6:1.2.0                                                    0:0 0:0 . = newer_installed"
    "foreign   -         other                                                                         0:0 0:0 . = nothing_to_compare:_no_supported_adapter"
    "nowriter  imgwriter 0001:5.0.3:pxe:8.3.2:1.1.9                                                    1:0 0:1 . = update_recommended"
    "unwritten images    0001:5.0.3:pxe:8.3.2:1.1.9                                                    1:0 0:1 . = update_recommended"
    "unreached host      0001:5.0.3:pxe:8.3.2:1.1.9                                                    u   -   u = not_reached"
    "mixed     -         0001:5.0.4:pxe:8.3.6:1.2.0,0002:5.1.0:clp:2.0.9:1.1.0                         1:0 -   1:0 0001:5.0.4:pxe:8.3.6:1.2.0,0002:5.1.2:clp:2.1.4:1.2.0 up_to_date"
    "noprogram program   0001:5.0.3:pxe:8.3.2:1.1.9                                                    0:1 -   . = failed"
    "later     -         0001:5.0.3:pxe:8.3.2:1.1.9                                                    1:0 -   - = update_recommended"
    "broken    library   0001:5.0.3:pxe:8.3.2:1.1.9                                                    0:1 -   . = failed"
)
# The Verdict of a failed host carries lanrefit's message: run (dry or roll),
# host, message.
messages=(
    "dry broken Cannot load the adapter library OMBRIa.DLL."
    "dry noprogram lanrefit is not there: "
    "roll nowriter failed with internal error"
)
# --diff on the host with one current and one outdated port: per port what a
# run would write, and from which version.
diff_lines=(
    "port 0 0A1B2C3D4E01 1234-ABCD-5678-0001: nothing to write"
    "port 1 0A1B2C3D4E02 1234-ABCD-5678-0002: Boot Code 5.1.0 -> 5.1.2, UMP 1.1.0 -> 1.2.0, CLP 2.0.9 -> 2.1.4"
)

# The example passes ansible-lint's production profile, offline.
(cd "$src/examples/ansible" && ansible-lint --nocolor -q) || fail "ansible-lint"

source "$src/tests/package/fleet_lib.sh"
make_catalogue

# adapters_of DIR: the adapters of a server in the notation of the table.
adapters_of() {
    local nvram out=()
    for nvram in "$1"/port*.nvram; do
        [[ -e $nvram ]] || continue
        out+=("$("$simtool" show "$nvram" | awk '
            function v(t) { gsub(/"/, "", t); return t == "" ? "-" : t }
            $1 == "pci" { model = substr($2, 16) }
            $1 == "bootcode" { bc = v($2) }
            $1 == "preboot" { pre = v($2) }
            $1 == "ump" { ump = v($2) }
            $1 == "entry" && $4 == 1 && kind == "" { kind = $NF }
            END { print model ":" bc ":" (kind == "" ? "-" : kind) ":" pre ":" ump }')")
    done
    local IFS=,
    echo "${out[*]:-other}"
}

inventory=$work/inventory.yml
cat >"$inventory" <<EOF
lanrefit_servers:
  vars:
    ansible_connection: local
    ansible_python_interpreter: /usr/bin/python3
    lanrefit_platform: posix
    lanrefit_program: $build/lanrefit
    lanrefit_system_drive: "{{ lanrefit_workdir }}/drive"
    lanrefit_log_store: $work/logs
    lanrefit_write_poll: 1
    lanrefit_environment:
      SystemDrive: "{{ lanrefit_system_drive }}"
      OMBRI_SIM_MACHINE: "{{ lanrefit_workdir }}/server/machine.txt"
  hosts:
EOF
for row in "${fleet[@]}"; do
    read -r host leftout adapters _ <<<"$row"
    mkdir -p "$work/$host/drive"
    cp -r "$catalogue" "$work/$host/NIC_FW"
    [[ $leftout != images ]] || find "$work/$host/NIC_FW" -name '*.bin' -delete
    [[ $leftout == imgwriter ]] || cp "$build/imgwriter" "$work/$host/imgwriter"
    make_server "$work/$host/server" "$adapters"
    program=
    if [[ $leftout == library ]]; then
        mkdir -p "$work/$host/bin" && cp "$build/lanrefit" "$work/$host/bin/lanrefit"
        program=", lanrefit_program: $work/$host/bin/lanrefit"
    fi
    [[ $leftout != program ]] || program=", lanrefit_program: $work/$host/bin/lanrefit"
    # Nothing listens on port 9 here: the connection is refused.
    [[ $leftout != host ]] || program+=", ansible_connection: ssh, ansible_host: 127.0.0.1, ansible_port: 9"
    echo "    $host: { lanrefit_workdir: $work/$host$program }" >>"$inventory"
done

# The recap of HOST in the playbook output OUT: "changed:failed", "u" for
# unreachable, "-" for none.
recap_of() {
    local line
    line=$(sed -n "s/^$1 *: //p" "$2" | tr -s ' ')
    case $line in
    "") echo - ;;
    *" unreachable=0 "*) sed 's/.*changed=\([0-9]*\) .*failed=\([0-9]*\) .*/\1:\2/' <<<"$line" ;;
    *) echo u ;;
    esac
}
# verdicts_hold RUN OUT: each host of the messages table for RUN fails with
# its message in OUT.
verdicts_hold() {
    local run host message
    for entry in "${messages[@]}"; do
        read -r run host message <<<"$entry"
        [[ $run == "$1" ]] || continue
        grep -A6 "^fatal: \[$host\]" "$2" | grep -qF "$message" ||
            fail "$1: $host: the verdict lacks \"$message\""
    done
}

export LC_ALL=C.UTF-8 ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_FORKS=10
export ANSIBLE_LOCAL_TEMP=$work/ansible-tmp ANSIBLE_REMOTE_TEMP=$work/ansible-tmp
# The dry run: only -N, over every server, nothing written; with --diff the
# plan of the servers where an update is recommended.
rc=0
ansible-playbook -i "$inventory" "$src/examples/ansible/rollout.yml" -e rollout_batch=$batch \
    --check --diff >"$work/dry.out" 2>&1 || rc=$?
cat "$work/dry.out"
[[ $rc -ne 0 ]] || fail "dry run: exit code 0 although a host failed"
for row in "${fleet[@]}"; do
    read -r host leftout adapters dry _ <<<"$row"
    [[ "$(recap_of "$host" "$work/dry.out")" == "$dry" ]] ||
        fail "dry run: $host: expected $dry, recap: $(recap_of "$host" "$work/dry.out")"
    [[ "$(adapters_of "$work/$host/server")" == "$adapters" ]] || fail "dry run: $host: firmware changed"
    [[ ! -e $work/$host/drive/VLMSYSTEM/NICFWBACKUP ]] || [[ -z "$(ls -A "$work/$host/drive/VLMSYSTEM/NICFWBACKUP")" ]] ||
        fail "dry run: $host: a backup was saved"
    [[ $dry == u || $leftout == program || -s $work/logs/$host/lanrefit.log ]] || fail "dry run: $host: no log fetched"
done
verdicts_hold dry "$work/dry.out"
for line in "${diff_lines[@]}"; do
    sed -n '/^ok: \[mixed\]/,/^}/p' "$work/dry.out" | grep -qF "\"$line\"" || fail "dry run: --diff shows no \"$line\""
done
rm -rf "$work/logs"
for row in "${fleet[@]}"; do
    read -r host _ <<<"$row"
    rm -rf "$work/$host/drive/VLMSYSTEM"
done

rc=0
ansible-playbook -i "$inventory" "$src/examples/ansible/rollout.yml" -e rollout_batch=$batch >"$work/ansible.out" 2>&1 || rc=$?
cat "$work/ansible.out"
[[ $rc -ne 0 ]] || fail "ansible-playbook exit code 0 although a host failed"

verdicts_hold roll "$work/ansible.out"
# A host that cannot be reached ends the rollout after its batch as well.
again=$(for row in "${fleet[@]}"; do read -r host _ _ _ _ a _ <<<"$row"; [[ $a == . ]] || echo "$host"; done)
rc=0
ansible-playbook -i "$inventory" "$src/examples/ansible/rollout.yml" -e rollout_batch=2 \
    --limit "$(echo $again | tr ' ' :)" >"$work/again.out" 2>&1 || rc=$?
cat "$work/again.out"
[[ $rc -ne 0 ]] || fail "second rollout: exit code 0 although a host was not reached"

for row in "${fleet[@]}"; do
    read -r host leftout adapters dry roll again after verdict <<<"$row"
    [[ "|$roll|" == *"|$(recap_of "$host" "$work/ansible.out")|"* ]] ||
        fail "rollout: $host: expected $roll, recap: $(recap_of "$host" "$work/ansible.out")"
    [[ $again == . || "$(recap_of "$host" "$work/again.out")" == "$again" ]] ||
        fail "second rollout: $host: expected $again, recap: $(recap_of "$host" "$work/again.out")"
    log=$work/logs/$host/lanrefit.log
    if [[ $roll$again == -[-.u] ]]; then
        [[ ! -e $log && ! -e $work/$host/drive/VLMSYSTEM ]] || fail "$host: lanrefit ran"
    elif [[ $leftout != program ]]; then
        [[ -s $log ]] || fail "$host: no log fetched"
    fi
    [[ $after == "=" ]] && after=$adapters
    got=$(adapters_of "$work/$host/server")
    [[ $got == "$after" ]] || fail "$host: adapters $got, expected $after"
done

# The fleet report, on every server: one row per adapter port, what each
# server's -c shows beside what its -l lists, with the port's own verdict; one
# row for the server not reached and one for the server without the program.
# It writes nothing, changes nothing and fails no server: every recap 0:0.
rc=0
ansible-playbook -i "$inventory" "$src/examples/ansible/report.yml" -e report_dir="$work/report" \
    -e report_reach_timeout=2 >"$work/report.out" 2>&1 || rc=$?
cat "$work/report.out"
[[ $rc -eq 0 ]] || fail "report: exit code $rc"
for row in "${fleet[@]}"; do
    read -r host _ <<<"$row"
    [[ "$(recap_of "$host" "$work/report.out")" == 0:0 ]] ||
        fail "report: $host: expected 0:0, recap: $(recap_of "$host" "$work/report.out")"
done
# The catalogue's versions that -l lists per model, for the components the
# ports of this fleet have.
declare -A listed=([0001]="5.0.4 8.3.6 1.2.0 - - -" [0002]="5.1.2 - 1.2.0 2.1.4 - -"
    [0003]="5.1.2 - - - 2.2.0 1.0.0")
# report_rows HOST LEFT-OUT ADAPTERS VERDICT: the CSV rows expected, without
# the catalogue's fingerprint and the time; "(Ansible's message)" for the
# message of a server not reached.
report_rows() {
    local host=$1 verdict=${4//_/ } n=0 adapter model bc kind pre ump
    if [[ $3 == other || $verdict == failed || $verdict == "not reached" ]]; then
        local note=
        case $2:$verdict in
        *:"not reached") note="(Ansible's message)" ;;
        program:failed) note="lanrefit is not there: $work/$host/bin/lanrefit" ;;
        *:failed) note="Cannot load the adapter library OMBRIa.DLL." ;;
        esac
        echo "$host,,,,,$verdict,,,,,,,,,,,,,$note"
        return
    fi
    for adapter in ${3//,/ }; do
        IFS=: read -r model bc kind pre ump <<<"$adapter"
        local col=(- - - -) cat
        case $kind in pxe) col[0]=$pre ;; clp) col[2]=$pre ;; iscsi) col[3]=$pre ;; esac
        local stub=-
        [[ $kind != iscsi || $pre != 1.0.0 ]] || stub=1.0.0
        read -ra cat <<<"${listed[$model]}"
        printf '%s,%d,0A1B2C3D4E%02X,1234-ABCD-5678-%s,Gigabit Server Adapter %d,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,\n' \
            "$host" "$n" $((n + 1)) "$model" $((n + 1)) "$verdict" "$bc" "${cat[0]}" "${col[0]}" "${cat[1]}" \
            "$ump" "${cat[2]}" "${col[2]}" "${cat[3]}" "${col[3]}" "${cat[4]}" "$stub" "${cat[5]}"
        n=$((n + 1))
    done
}
expected_report="server,index,mac,identity,description,verdict,bootcode,bootcode_catalogue,pxe,pxe_catalogue"
expected_report+=",ump,ump_catalogue,clp,clp_catalogue,iscsi,iscsi_catalogue,iscsi_stub,iscsi_stub_catalogue,message"
for row in "${fleet[@]}"; do
    read -r host leftout adapters dry roll again after verdict <<<"$row"
    [[ $after == "=" ]] && after=$adapters
    expected_report+=$'\n'"$(report_rows "$host" "$leftout" "$after" "$verdict")"
done
# The rows as read by a CSV reader, without the fingerprint and the time, the
# message of a server not reached (any but none) in brackets; then every row's
# fingerprint (the catalogue's, none where lanrefit never ran) and time.
fingerprint=$(cd "$catalogue" && find . -name '*.config' | sed 's|^\./||' | LC_ALL=C sort | xargs sha256sum | sha256sum)
got_report=$(python3 - "$work/report/firmware.csv" "${fingerprint%% *}" <<'PY'
import csv, re, sys
rows, bad = list(csv.reader(open(sys.argv[1], newline=""))), 0
for row in rows[1:]:
    if row[5] == "not reached" and row[-3]:
        row[-3] = "(Ansible's message)"
    want = "" if row[5] == "not reached" or row[-3].startswith("lanrefit is not there") else sys.argv[2]
    if row[-2] != want or not re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", row[-1]):
        print("%s: fingerprint %r (expected %r), time %r" % (row[0], row[-2], want, row[-1]), file=sys.stderr)
        bad = 1
for row in rows:
    print(",".join(row[:-2]))
sys.exit(bad)
PY
) || fail "report: the CSV"
[[ $got_report == "$expected_report" ]] ||
    fail "report rows:"$'\n'"$(diff <(echo "$expected_report") <(echo "$got_report"))"
[[ $(sed -n '/^## Ports/,$p' "$work/report/firmware.md" | grep -c '^| ') -eq $(wc -l <"$work/report/firmware.csv") ]] ||
    fail "report: the Markdown page does not hold every row"

# The example's rehearsal fleet, in the two commands of the README, with two
# servers more for the report: one whose system drive folder is missing and
# one that cannot be reached. Its report, in all three forms: a row per port
# with the port's own verdict (two ports of one server differ), the three
# causes of "nothing to compare", the failures with lanrefit's message, the
# server not reached, and the summary's totals; the page as Chromium renders
# it, with a screenshot kept in the build tree.
rehearsal=$work/rehearsal
LANREFIT_BUILD=$build "$src/examples/ansible/rehearsal-fleet" build "$rehearsal" >"$work/rehearsal.out" 2>&1 ||
    fail "rehearsal-fleet build: exit code $?"
cat >"$work/more.yml" <<MORE
lanrefit_servers:
  hosts:
    nodrive: { lanrefit_workdir: $rehearsal/current, lanrefit_system_drive: $rehearsal/nodrive }
    away: { ansible_connection: ssh, ansible_host: 127.0.0.1, ansible_port: 1, ansible_user: nobody }
MORE
rc=0
"$src/examples/ansible/rehearsal-fleet" run "$rehearsal" -i "$work/more.yml" -e report_reach_timeout=2 \
    >>"$work/rehearsal.out" 2>&1 || rc=$?
cat "$work/rehearsal.out"
[[ $rc -eq 0 ]] || fail "rehearsal-fleet run: exit code $rc"
[[ $(grep -c '^+ (cd .* && ansible-playbook -i ' "$work/rehearsal.out") -eq 3 ]] ||
    fail "rehearsal: not the three playbook runs"
# The rollout's part of the output: halfdue written, refusing failed, and
# no batch after it.
awk '/^\+ \(cd /{k++} k==2' "$work/rehearsal.out" >"$work/rehearsal-rollout.out"
[[ "$(recap_of halfdue "$work/rehearsal-rollout.out")" == 1:0 ]] || fail "rehearsal: halfdue not written"
[[ "$(recap_of refusing "$work/rehearsal-rollout.out")" == *:1 ]] || fail "rehearsal: refusing did not fail"
[[ "$(recap_of nolibrary "$work/rehearsal-rollout.out")" == - ]] || fail "rehearsal: the rollout went on past refusing"
# The report's part: no change, no failure, and away ignored, not unreachable.
awk '/^\+ \(cd /{k++} k==3' "$work/rehearsal.out" >"$work/rehearsal-report.out"
! grep -E '^[a-z]+ +: ' "$work/rehearsal-report.out" | grep -vqE ' changed=0 +unreachable=0 +failed=0 ' ||
    fail "rehearsal: the report changed, failed or lost a server"
rendered=$build/Testing/ansible_fleet
rm -rf "$rendered" && mkdir -p "$rendered" && cp "$rehearsal"/report/firmware.* "$rendered/"
chrome() {
    chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking \
        --disable-component-update --disable-sync --user-data-dir="$(mktemp -d -p "$work")" "$@" \
        "file://$rendered/firmware.html" 2>>"$work/chromium.err"
}
chrome --dump-dom >"$rendered/firmware.dom.html" || fail "chromium --dump-dom: exit code $?"
chrome --screenshot="$rendered/firmware.png" --window-size=1400,1800 >/dev/null || fail "chromium --screenshot"
[[ -s $rendered/firmware.png ]] || fail "no screenshot $rendered/firmware.png"
python3 "$src/tests/package/check_fleet_report.py" "$rendered" "$rehearsal" || fail "rehearsal report"

# Staging, on every server that can be reached: a release ZIP (here with the
# Linux program), the test's catalogue, the library and the writer tool, as one
# archive unpacked on each server. First a dry run, which tells what it would
# take and takes nothing; then twice, the second time taking nothing but a
# damaged copy, which is found and replaced. Staging is never a change.
python3 - "$work/release.zip" "$build/lanrefit" "$src" <<'PY'
import sys, zipfile
out, program, src = sys.argv[1:]
with zipfile.ZipFile(out, "w") as z:
    z.write(program, "lanrefit-test/lanrefit")
    z.write(src + "/README.md", "lanrefit-test/README.md")
    z.write(src + "/docs/operator.md", "lanrefit-test/docs/operator.md")
    z.write(src + "/packaging/NIC_FW/README.txt", "lanrefit-test/NIC_FW/README.txt")
PY
staged=$(for row in "${fleet[@]}"; do read -r host leftout _ <<<"$row"; [[ $leftout == host ]] || echo "$host"; done)
stage() {
    ansible-playbook -i "$inventory" "$src/examples/ansible/rollout.yml" --tags stage --limit "$(echo $staged | tr ' ' :)" \
        -e lanrefit_stage=true -e lanrefit_release_zip="$work/release.zip" \
        -e lanrefit_catalogue_src="$catalogue" -e lanrefit_library_src="$build/libOMBRIa.so" \
        -e lanrefit_writer_src="$build/imgwriter" -e lanrefit_stage_dir="$work/staging" \
        -e rollout_batch=2 "${@:2}" >"$work/stage$1.out" 2>&1 || fail "staging $1: exit code $?"
    cat "$work/stage$1.out"
}
# staged_of HOST OUT: what the staging output OUT says HOST took (or would).
staged_of() {
    sed -n "/^ok: \[$1\] => {/,/^}/s/^ *\"msg\": \"\(.*\)\"$/\1/p" "$2"
}
damaged=$(cd "$catalogue" && find . -name '*.bin' | sort | head -1)
damaged=${damaged#./}
stage 0 --check
[[ ! -e $work/update/lanrefit && ! -e $work/update/lanrefit-stage.zip ]] || fail "staging 0: the dry run took files"
stage 1
touch "$work/staged-once"
echo damaged >"$work/current/NIC_FW/$damaged"
stage 2
for host in $staged; do
    for n in 0 1 2; do
        [[ "$(recap_of "$host" "$work/stage$n.out")" == 0:0 ]] ||
            fail "staging $n: $host: expected 0:0, recap: $(recap_of "$host" "$work/stage$n.out")"
    done
    [[ "$(staged_of "$host" "$work/stage0.out")" == "would take "*lanrefit* ]] ||
        fail "staging 0: $host: $(staged_of "$host" "$work/stage0.out")"
    [[ "$(staged_of "$host" "$work/stage1.out")" == "took "*lanrefit* ]] ||
        fail "staging 1: $host: $(staged_of "$host" "$work/stage1.out")"
    want="nothing to take: every file agrees with the manifest"
    [[ $host != current ]] || want="took 1 files from the archive: NIC_FW/$damaged"
    [[ "$(staged_of "$host" "$work/stage2.out")" == "$want" ]] ||
        fail "staging 2: $host: $(staged_of "$host" "$work/stage2.out")"
    for f in lanrefit docs/operator.md README.md libOMBRIa.so imgwriter "NIC_FW/$damaged"; do
        [[ -f $work/$host/$f ]] || fail "staging: $host: no $f"
    done
    [[ $(stat -c %a "$work/$host") == 700 ]] || fail "staging: $host: work folder not 0700"
    [[ $host == current || -z "$(find "$work/$host" -newer "$work/staged-once" ! -path '*/drive/*')" ]] ||
        fail "staging 2: $host: files changed: $(find "$work/$host" -newer "$work/staged-once" ! -path '*/drive/*')"
done
cmp -s "$catalogue/$damaged" "$work/current/NIC_FW/$damaged" || fail "staging: the damaged copy stays"
exit $status
