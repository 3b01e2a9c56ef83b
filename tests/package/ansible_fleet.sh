#!/usr/bin/env bash
# Runs the fleet rollout playbook of examples/ansible against simulated servers
# on this machine (connection local, the Linux build of lanrefit, the example
# catalogue with images made by simtool) and checks each server's outcome in
# Ansible's recap, its fetched log and its firmware afterwards.
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
# adapter of a kind that lanrefit does not take. Left out of the work
# directory: the writer tool or the image files. Changed and failed: the
# host's counts in Ansible's recap, "-" for a host the rollout never reached.
# After: the adapters afterwards, "=" for unchanged.
batch=3
fleet=(
    # host     left-out  adapters                                                                      changed failed after
    "update    -         0001:5.0.3:pxe:8.3.2:1.1.9,0002:5.1.0:clp:2.0.9:1.1.0,0003:5.1.0:iscsi:2.1.0:-  1 0 0001:5.0.4:pxe:8.3.6:1.2.0,0002:5.1.2:clp:2.1.4:1.2.0,0003:5.1.2:iscsi:2.2.0:-"
    "current   -         0001:5.0.4:pxe:8.3.6:1.2.0                                                    0 0 ="
    "newer     -         0001:5.0.5:pxe:8.3.6:1.2.0                                                    0 0 ="
    "foreign   -         other                                                                         0 0 ="
    "nowriter  imgwriter 0001:5.0.3:pxe:8.3.2:1.1.9                                                    0 1 ="
    "unwritten images    0001:5.0.3:pxe:8.3.2:1.1.9                                                    1 1 ="
    "later     -         0001:5.0.3:pxe:8.3.2:1.1.9                                                    - - ="
)

simtool=$build/simtool
# One image file per catalogue record, made to the record's identity and version.
catalogue=$work/NIC_FW
cp -r "$src/packaging/NIC_FW" "$catalogue"
while read -r config kind; do
    xargs -n3 <"$catalogue/$config" | while read -r identity file version; do
        "$simtool" component "$catalogue/${config%/*}/$file" --kind "$kind" \
            --version "$version" --pci "$identity"
    done
done <<EOT
Boot_Code/BC.config bootcode
PXE/MFPXE.config pxe
UMP/UMP.config ump
CLP/CLP.config clp
iSCSI/iSCSI.config iscsi
iSCSI/iSCSI_stub.config iscsistub
EOT

# make_server DIR ADAPTERS: the machine file and NVRAM images of one server.
make_server() {
    local dir=$1 n=0 adapter model bc kind pre ump
    local machine=()
    mkdir -p "$dir"
    for adapter in ${2//,/ }; do
        n=$((n + 1))
        if [[ $adapter == other ]]; then
            machine+=(--adapter "handle=$((12288 + n)) type=2 desc=\"Fast Ethernet Adapter\" mac=0A1B2C3D4F$(printf %02X $n) pci=1234-ABCD-5678-00FF")
            continue
        fi
        IFS=: read -r model bc kind pre ump <<<"$adapter"
        local args=(--pci "1234-ABCD-5678-$model" --mac "0A1B2C3D4E$(printf %02X $n)" --bootcode "$bc")
        [[ $kind == - ]] || args+=(--preboot "$pre" --entry "1:$kind")
        [[ $ump == - ]] || args+=(--ump "$ump")
        "$simtool" nvram "$dir/port$n.nvram" "${args[@]}"
        machine+=(--adapter "handle=$((4096 + n)) desc=\"Gigabit Server Adapter $n\" nvram=port$n.nvram")
    done
    "$simtool" machine "$dir/machine.txt" "${machine[@]}"
}

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
    echo "    $host: { lanrefit_workdir: $work/$host }" >>"$inventory"
done

export LC_ALL=C.UTF-8 ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0
export ANSIBLE_LOCAL_TEMP=$work/ansible-tmp ANSIBLE_REMOTE_TEMP=$work/ansible-tmp
rc=0
ansible-playbook -i "$inventory" "$src/examples/ansible/rollout.yml" -e rollout_batch=$batch >"$work/ansible.out" 2>&1 || rc=$?
cat "$work/ansible.out"
[[ $rc -ne 0 ]] || fail "ansible-playbook exit code 0 although a host failed"

for row in "${fleet[@]}"; do
    read -r host leftout adapters changed failed after <<<"$row"
    recap=$(sed -n "s/^$host *: //p" "$work/ansible.out" | tr -s ' ')
    if [[ $changed == - ]]; then
        [[ -z $recap ]] || fail "$host: reached by the rollout: $recap"
    else
        [[ $recap == *" changed=$changed "*" failed=$failed "* ]] ||
            fail "$host: expected changed=$changed failed=$failed, recap: $recap"
    fi
    log=$work/logs/$host/lanrefit.log
    if [[ $changed == - ]]; then
        [[ ! -e $log && ! -e $work/$host/drive/VLMSYSTEM ]] || fail "$host: lanrefit ran"
    else
        [[ -s $log ]] || fail "$host: no log fetched"
    fi
    [[ $after == "=" ]] && after=$adapters
    got=$(adapters_of "$work/$host/server")
    [[ $got == "$after" ]] || fail "$host: adapters $got, expected $after"
done
exit $status
