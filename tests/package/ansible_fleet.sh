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
# never reached, "." for one not in it; A|B where either is right (a write the
# writer tool refused: changed while lanrefit reports it written, exit code 1,
# not once it reports "completed with errors", exit code 0). After: the adapters afterwards, "=" for
# unchanged. Verdict: the fleet report's verdict afterwards, "_" for a blank,
# "." for a host the report leaves out.
batch=3
fleet=(
    # host     left-out  adapters                                                                      dry roll again after verdict
    "update    -         0001:5.0.3:pxe:8.3.2:1.1.9,0002:5.1.0:clp:2.0.9:1.1.0,0003:5.1.0:iscsi:2.1.0:-  1:0 1:0 . 0001:5.0.4:pxe:8.3.6:1.2.0,0002:5.1.2:clp:2.1.4:1.2.0,0003:5.1.2:iscsi:2.2.0:- up_to_date"
    "current   -         0001:5.0.4:pxe:8.3.6:1.2.0                                                    0:0 0:0 . = up_to_date"
    "newer     -         0001:5.0.5:pxe:8.3.6:1.2.0                                                    0:0 0:0 . = newer_installed"
    "foreign   -         other                                                                         0:0 0:0 . = nothing_to_compare"
    "nowriter  imgwriter 0001:5.0.3:pxe:8.3.2:1.1.9                                                    1:0 0:1 . = update_recommended"
    "unwritten images    0001:5.0.3:pxe:8.3.2:1.1.9                                                    1:0 1:1|0:1 . = update_recommended"
    "unreached host      0001:5.0.3:pxe:8.3.2:1.1.9                                                    u   -   u = ."
    "mixed     -         0001:5.0.4:pxe:8.3.6:1.2.0,0002:5.1.0:clp:2.0.9:1.1.0                         1:0 -   1:0 0001:5.0.4:pxe:8.3.6:1.2.0,0002:5.1.2:clp:2.1.4:1.2.0 up_to_date"
    "noprogram program   0001:5.0.3:pxe:8.3.2:1.1.9                                                    0:1 -   . = ."
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

# The fleet report: one row per adapter port, exactly what each server's -c
# shows, with the verdict of its -N; writes nothing, fails no server.
reported=$(for row in "${fleet[@]}"; do read -r host _ _ _ _ _ _ v <<<"$row"; [[ $v == . ]] || echo "$host"; done)
rc=0
ansible-playbook -i "$inventory" "$src/examples/ansible/report.yml" -e report_dir="$work/report" \
    --limit "$(echo $reported | tr ' ' :)" >"$work/report.out" 2>&1 || rc=$?
cat "$work/report.out"
[[ $rc -eq 0 ]] || fail "report: exit code $rc"
# report_rows HOST ADAPTERS VERDICT: the CSV rows expected, without the time.
report_rows() {
    local host=$1 verdict=${3//_/ } n=0 adapter model bc kind pre ump
    if [[ $2 == other || $verdict == failed ]]; then
        local note="no supported adapter"
        [[ $verdict != failed ]] || note="Cannot load the adapter library OMBRIa.DLL."
        echo "$host,,,,,,,,,,$note,$verdict"
        return
    fi
    for adapter in ${2//,/ }; do
        IFS=: read -r model bc kind pre ump <<<"$adapter"
        local col=(- - - -)
        case $kind in pxe) col[0]=$pre ;; clp) col[2]=$pre ;; iscsi) col[3]=$pre ;; esac
        local stub=-
        [[ $kind != iscsi || $pre != 1.0.0 ]] || stub=1.0.0
        printf '%s,%d,0A1B2C3D4E%02X,1234-ABCD-5678-%s,%s,%s,%s,%s,%s,%s,Gigabit Server Adapter %d,%s\n' \
            "$host" "$n" $((n + 1)) "$model" "$bc" "${col[0]}" "$ump" "${col[2]}" "${col[3]}" "$stub" \
            $((n + 1)) "$verdict"
        n=$((n + 1))
    done
}
expected_report="server,index,mac,identity,bootcode,pxe,ump,clp,iscsi,iscsi_stub,description,verdict"
for row in "${fleet[@]}"; do
    read -r host leftout adapters dry roll again after verdict <<<"$row"
    [[ $verdict != . ]] || continue
    [[ $after == "=" ]] && after=$adapters
    expected_report+=$'\n'"$(report_rows "$host" "$after" "$verdict")"
done
got_report=$(sed 's/,[^,]*$//' "$work/report/firmware.csv")
[[ $got_report == "$expected_report" ]] ||
    fail "report rows:"$'\n'"$(diff <(echo "$expected_report") <(echo "$got_report"))"
! tail -n +2 "$work/report/firmware.csv" | grep -vqE ',[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z$' ||
    fail "report: a row without its time"
[[ $(grep -c '^| ' "$work/report/firmware.md") -eq $(wc -l <"$work/report/firmware.csv") ]] ||
    fail "report: the Markdown page does not hold every row"

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
