# Simulated servers for the fleet example's test, benchmark and rehearsal,
# sourced by tests/package/ansible_fleet.sh, scripts/bench-fleet and
# examples/ansible/rehearsal-fleet. Needs $build (the native build tree), $src
# (the source tree) and $work (a scratch folder).

simtool=$build/simtool
# make_catalogue: $work/NIC_FW, the example catalogue with one image file per
# record, made to the record's identity and version.
make_catalogue() {
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
}

# make_server DIR ADAPTERS [MACHINE-OPTION...]: the machine file and NVRAM
# images of one server; the options go to simtool machine (--version X.Y.Z).
make_server() {
    local dir=$1 adapters=$2 n=0 adapter model bc kind pre ump
    shift 2
    local machine=()
    mkdir -p "$dir"
    for adapter in ${adapters//,/ }; do
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
    "$simtool" machine "$dir/machine.txt" "$@" "${machine[@]}"
}

