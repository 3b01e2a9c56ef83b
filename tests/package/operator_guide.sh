#!/usr/bin/env bash
# Runs every example of the operator's guide (docs/operator.md) and compares
# what it prints with what the guide shows, so the guide cannot drift from the
# program.
#   operator_guide.sh BUILD_DIR SOURCE_DIR
#
# What the guide may hold, and how each piece is used:
# - A ```text block right after a line that is just a catalogue path in
#   backticks (`NIC_FW\...\X.config`) is a catalogue file. The test writes it,
#   with Windows line ends, into ~/fw/NIC_FW: the copy of the server's tool
#   folder that the guide's rehearsal starts from.
# - A ```console block holds commands and, after each, its exact output.
#   "$ " starts a Linux shell command ("> " continues it); "C:\fw> " starts a
#   command at the server's Windows console. Any other fenced block fails the
#   test: the guide shows no command that is not run.
# - Where lanrefit asks, the guide shows the question line followed by the
#   answer as typed ("... y/n/q (y):n"; nothing after the colon is Enter). The
#   test feeds those answers on standard input and puts each one, with its line
#   end, after its question in the output, as a console shows it.
#
# Two passes, each in a fresh home directory (HOME is set to it; ~/lanrefit is
# a checkout whose build/native is BUILD_DIR), each one bash session so that
# cd and exports carry from one command to the next:
# 1. rehearsal: every shell command of the guide, in order;
# 2. console: the first console block with shell commands (it lays out the
#    simulated server and sets SystemDrive and OMBRI_SIM_MACHINE), then every
#    Windows console command in order, on that server. A console block right
#    after the line "<!-- a fresh server -->" starts a new console pass: the
#    server laid out afresh, its work folders empty. The commands are run as:
#      lanrefit ARGS [2>FILE]  ./lanrefit, the copy in the current directory
#      echo %ERRORLEVEL%       the exit code of the command before
#      type PATH               cat
#      dir /b PATH             the names, sorted without regard to case
#    A "C:" at the start of a path or argument stands for the system drive:
#    the test replaces it by $SystemDrive (Windows path texts keep their
#    backslashes, as lanrefit takes them), and in the output of these commands
#    replaces every $SystemDrive text by "C:", the one place where the Linux
#    build prints something other than the Windows program would.
# Outputs are standard output and standard error together, with each "\r\n"
# read as a line end. Exit codes are compared where the guide shows them
# (echo). Lines keep their trailing blanks: the program prints them.
set -euo pipefail
build=$(cd "$1" && pwd) src=$(cd "$2" && pwd)
guide=$src/docs/operator.md
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# The Linux build takes only root for the administrator that an upgrade run needs.
[[ $(id -u) -eq 0 ]] || fail "the guide's runs need root"

# ---- the guide, taken apart: work/catalogue/..., work/cmds/NNN.{kind,line,block,cmd,expect}
mkdir -p "$work/cmds" "$work/catalogue"
awk -v dir="$work" '
function bad(msg) { printf "docs/operator.md:%d: %s\n", FNR, msg > "/dev/stderr"; failed = 1; exit 1 }
function finish() { if (cur != "") { close(cur ".cmd"); close(cur ".expect") } cur = "" }
function start(kind, text) {
    finish()
    cur = sprintf("%s/cmds/%03d", dir, ++n)
    printf "%s\n", kind > (cur ".kind"); close(cur ".kind")
    printf "%d\n", FNR > (cur ".line"); close(cur ".line")
    printf "%d\n", block > (cur ".block"); close(cur ".block")
    printf "%s\n", text > (cur ".cmd")
    printf "" > (cur ".expect")
    cmdkind = kind; output = 0
    if (fresh_block && kind == "win") { printf "" > (cur ".fresh"); close(cur ".fresh"); fresh_block = 0 }
}
fence == "" && /^```/ {
    info = substr($0, 4)
    if (info == "console") { fence = "console"; block++; fresh_block = prev == "<!-- a fresh server -->"; next }
    if (info == "text" && prev ~ /^`NIC_FW\\[^`]+`:?$/) {
        path = prev; gsub(/^`|`:?$/, "", path); gsub(/\\/, "/", path)
        file = dir "/catalogue/" path
        system("mkdir -p \"$(dirname \"" file "\")\"")
        printf "" > file
        fence = "file"; next
    }
    bad("a fenced block that this test cannot run: " $0)
}
fence != "" && /^```$/ {
    if (fence == "file") close(file)
    else finish()
    fence = ""; next
}
fence == "file" { printf "%s\r\n", $0 > file; next }
fence == "console" {
    if (index($0, "C:\\fw> ") == 1) { start("win", substr($0, 8)); next }
    if (index($0, "$ ") == 1) { start("sh", substr($0, 3)); next }
    if (index($0, "> ") == 1 && cmdkind == "sh" && !output) { printf "%s\n", substr($0, 3) > (cur ".cmd"); next }
    if (cur == "") bad("output before any command")
    printf "%s\n", $0 > (cur ".expect"); output = 1; next
}
$0 != "" { prev = $0 }
END { if (!failed && fence != "") bad("unterminated fenced block") }
' "$guide"

ids=()
for f in "$work"/cmds/*.kind; do ids+=("$(basename "$f" .kind)"); done
[[ ${#ids[@]} -gt 0 ]] || fail "no commands in $guide"
kind() { cat "$work/cmds/$1.kind"; }
layout_block=
shell_ids=() console_ids=()
for id in "${ids[@]}"; do
    if [[ $(kind "$id") == sh ]]; then
        shell_ids+=("$id")
        [[ -n $layout_block ]] || layout_block=$(cat "$work/cmds/$id.block")
    else
        console_ids+=("$id")
    fi
done
[[ -n $layout_block ]] || fail "the guide lays out no simulated server (no shell commands)"
[[ ${#console_ids[@]} -gt 0 ]] || fail "the guide shows no console commands"
[[ $(find "$work/catalogue" -type f | wc -l) -gt 0 ]] || fail "the guide shows no catalogue file"
layout_ids=()
for id in "${shell_ids[@]}"; do
    [[ $(cat "$work/cmds/$id.block") == "$layout_block" ]] && layout_ids+=("$id")
done

# ---- translation of a Windows console command into bash
q() { printf '%q' "$1"; }
# A path or argument: a leading C: is the system drive; with $2 = path, the
# backslashes become slashes.
win_word() {
    local w=$1 rest
    if [[ ${w:0:2} == [Cc]: ]]; then
        rest=${w:2}
        [[ ${2:-} == path ]] && rest=${rest//\\//}
        printf '"$SystemDrive"%s' "$(q "$rest")"
    else
        [[ ${2:-} == path ]] && w=${w//\\//}
        q "$w"
    fi
}
translate() {
    local words code w
    read -ra words <<<"$1"
    case "${words[0]} ${words[1]:-}" in
    "lanrefit "*)
        code=./lanrefit
        for w in "${words[@]:1}"; do
            if [[ $w == 2\>* ]]; then
                code+=" 2>$(win_word "${w#2>}" path)"
            else
                code+=" $(win_word "$w")"
            fi
        done
        ;;
    "echo %ERRORLEVEL%") [[ ${#words[@]} -eq 2 ]] && code='echo $?' ;;
    "type "*) [[ ${#words[@]} -eq 2 ]] && code="cat $(win_word "${words[1]}" path)" ;;
    "dir /b") [[ ${#words[@]} -eq 3 ]] &&
        code="ls -1 $(win_word "${words[2]}" path) | LC_ALL=C sort -f" ;;
    esac
    [[ -n ${code:-} ]] || return 1
    printf '%s' "$code"
}
runs_lanrefit() {
    local cmd
    cmd=$(cat "$work/cmds/$1.cmd")
    [[ $(kind "$1") == win && $cmd == lanrefit* ]] || [[ $(kind "$1") == sh && $cmd == ./lanrefit* ]]
}

# ---- one pass: run the commands IDS... in one bash session, then compare
status=0
run_pass() {
    local name=$1 id line
    shift
    local home=$work/$name res=$work/$name.out
    mkdir -p "$home/lanrefit/build" "$home/fw" "$res"
    ln -s "$build" "$home/lanrefit/build/native"
    cp -r "$work/catalogue/NIC_FW" "$home/fw/"
    local script=$res/session.sh
    printf '# generated by operator_guide.sh\n' >"$script"
    for id in "$@"; do
        local cmd code input=/dev/null
        cmd=$(cat "$work/cmds/$id.cmd")
        if [[ $(kind "$id") == win ]]; then
            code=$(translate "$cmd") ||
                fail "docs/operator.md:$(cat "$work/cmds/$id.line"): no way to run '$cmd' here"
            # Never let an unset system drive put C:\ paths at the root of this
            # machine (the session ends here then); $? passes through.
            printf '__rc=$?; : "${SystemDrive:?the guide did not set SystemDrive}"; (exit $__rc)\n' \
                >>"$script"
        else
            code=$cmd
        fi
        if runs_lanrefit "$id"; then
            input=$res/$id.in
            sed -n 's/.*y\/n\/q ([yn]):\(.*\)$/\1/p' "$work/cmds/$id.expect" >"$input"
        fi
        # The exit code survives the bookkeeping, for a following "echo".
        printf '{\n%s\n} >%q 2>&1 <%q\n__rc=$?; printf %%s "${SystemDrive-}" >%q; (exit $__rc)\n' \
            "$code" "$res/$id.raw" "$input" "$res/$id.drive" >>"$script"
    done
    (cd "$home" && env -i HOME="$home" PATH="$PATH" LANG=C.UTF-8 \
        ${ASAN_OPTIONS:+ASAN_OPTIONS="$ASAN_OPTIONS"} ${UBSAN_OPTIONS:+UBSAN_OPTIONS="$UBSAN_OPTIONS"} \
        bash "$script" >"$res/session.log" 2>&1) || true
    for id in "$@"; do
        line=$(cat "$work/cmds/$id.line")
        if [[ ! -e $res/$id.drive ]]; then
            echo "FAIL: docs/operator.md:$line ($name): not run: $(head -1 "$work/cmds/$id.cmd")" >&2
            cat "$res/session.log" >&2
            status=1
            return
        fi
        got_output "$id" "$res" "$(cat "$res/$id.drive")" >"$res/$id.got"
        if ! cmp -s "$work/cmds/$id.expect" "$res/$id.got"; then
            echo "FAIL: docs/operator.md:$line ($name): $(head -1 "$work/cmds/$id.cmd")" >&2
            diff -u --label "shown in the guide" --label "printed" \
                "$work/cmds/$id.expect" "$res/$id.got" >&2 || true
            status=1
        fi
    done
}

# got_output ID RESDIR DRIVE: the output of one command as a console shows it;
# DRIVE is the value of SystemDrive after it.
got_output() {
    local id=$1 res=$2 drive=$3 text answers=() i=0 prompt
    text=$(cat "$res/$id.raw"; printf x)
    text=${text%x}
    text=${text//$'\r\n'/$'\n'}
    if [[ $(kind "$id") == win && -n $drive ]]; then
        text=${text//"$drive"/C:}
    fi
    if runs_lanrefit "$id"; then
        mapfile -t answers <"$res/$id.in"
        while [[ $text =~ y/n/q\ \([yn]\): ]]; do
            prompt=${BASH_REMATCH[0]}
            printf '%s%s%s\n' "${text%%"$prompt"*}" "$prompt" "${answers[i]-}"
            text=${text#*"$prompt"}
            i=$((i + 1))
        done
    fi
    printf '%s' "$text"
}

run_pass rehearsal "${shell_ids[@]}"
passes=1 group=()
for id in "${console_ids[@]}"; do
    if [[ -e $work/cmds/$id.fresh && ${#group[@]} -gt 0 ]]; then
        run_pass "console$passes" "${layout_ids[@]}" "${group[@]}"
        passes=$((passes + 1)) group=()
    fi
    group+=("$id")
done
run_pass "console$passes" "${layout_ids[@]}" "${group[@]}"
[[ $status -eq 0 ]] || exit 1
echo "docs/operator.md: ${#shell_ids[@]} shell and ${#console_ids[@]} console commands as shown" \
    "($passes console passes)"
