#!/bin/sh
# Tests of scanctl and scan-sim as commands.
#   tools_test.sh GROUP SCANCTL SCAN_SIM   (EMU: emulator command, may be empty)
# Each check prints what it ran when it fails; the script exits non-zero
# after the first failing group member.
set -u
group=$1
scanctl="$EMU $2"
scansim="$EMU $3"
failures=0

fail() {
    echo "FAIL: $1"
    echo "--- output ---"
    echo "$out"
    echo "--------------"
    failures=$((failures + 1))
}

# run_sim [scan-sim options] -- command...: sets $out and $rc.
run_sim() {
    out=$($scansim "$@" 2>&1)
    rc=$?
}

expect_rc() { [ "$rc" -eq "$1" ] || fail "$2: exit status $rc, expected $1"; }
expect_has() { printf '%s\n' "$out" | grep -q -- "$1" || fail "$2: no line matching '$1'"; }
expect_lacks() { printf '%s\n' "$out" | grep -q -- "$1" && fail "$2: unexpected '$1'"; }

# Invalid arguments: exit 2, a message, and not one byte reaches the engine.
group_scanctl_usage() {
    long=$(printf '%0256d' 0)
    while IFS='|' read -r args; do
        run_sim -- sh -c "$scanctl $args"
        expect_rc 2 "scanctl $args"
        expect_has '^scanctl: ' "scanctl $args"
        expect_has ' 0 frame(s) received' "scanctl $args"
    done <<LIST
bogus
enable
enable 35
disable -1
check 3x
check ' 3'
check ''
open now
close 1
set-timeout 10000
set-timeout -1000
set-timeout 0x10
query 2147483648
query 12abc
query 1 2
send $long
send
LIST
    # Without any argument the usage goes to stderr, also with status 2.
    run_sim -- sh -c "$scanctl"
    expect_rc 2 "scanctl without a command"
    expect_has 'usage: scanctl' "scanctl without a command"
    expect_has ' 0 frame(s) received' "scanctl without a command"
    # The limits themselves are accepted and sent.
    run_sim -- sh -c "$scanctl set-timeout -999 && $scanctl set-timeout 9999 && $scanctl send $(printf '%0255d' 0)"
    expect_rc 0 "values at the limits"
    expect_has 'FF 4D 0D 38 36 31 30 30 31 2D 39 39 39 2E .*timeout' "set-timeout -999"
    expect_has 'FF 4D 0D 38 36 31 30 30 31 39 39 39 39 2E .*timeout' "set-timeout 9999"
    expect_has 'ok: 259 bytes written' "send of 255 bytes"
}

# Real operations through the simulated engine.
group_scanctl_ops() {
    run_sim --disable 3 --enable 20 -- sh -c "$scanctl check 3; echo rc=\$?; $scanctl check 20"
    expect_rc 0 "check 20 enabled"
    expect_has '^disabled$' "check 3 after --disable 3"
    expect_has '^rc=1$' "check 3 after --disable 3"
    expect_has '^enabled$' "check 20 after --enable 20"
    expect_has 'engine <- FF 4D 0D 39 30 30 30 30 33 3F 2E .*check type 3$' "check 3 frame"

    run_sim --timeout 1200 --setting 777=ABC -- sh -c "$scanctl get-timeout && $scanctl query 777"
    expect_rc 0 "get-timeout, query"
    expect_has '^1200$' "get-timeout with --timeout 1200"
    expect_has '^ABC$' "query 777 with --setting 777=ABC"
    expect_has '^engine <- FF 4D 0D 37 37 37 3F 2E .*query$' "query 777 frame"

    run_sim -- $scanctl query 424242
    expect_rc 1 "query of an unknown setting"
    expect_has 'no answer from the engine' "query of an unknown setting"

    run_sim --fault silence -- sh -c "$scanctl get-timeout; echo rc=\$?; $scanctl get-timeout"
    expect_has '^rc=1$' "get-timeout with a silent engine"
    expect_has '^3000$' "get-timeout after the one-time fault"

    # A pty, unlike a UART, does not drain on close: the next command's
    # flush would discard a frame the engine has not read yet.
    run_sim -- sh -c "$scanctl enable 0 && sleep 0.2 && $scanctl disable 34 && sleep 0.2 && $scanctl open"
    expect_rc 0 "enable, disable, open"
    expect_has '^engine <- FF 4D 0D 39 39 39 30 30 31 31 2E .*enable type 0$' "enable 0 frame"
    expect_has '^engine <- FF 4D 0D 39 31 34 30 31 30 30 2E .*disable type 34$' "disable 34 frame"
    expect_has '^ok: 3 bytes written$' "open"

    run_sim --scan 4006381333931 -- $scanctl read
    expect_rc 0 "read with scan data"
    expect_has '^4006381333931$' "read with scan data"

    run_sim -- $scanctl read
    expect_rc 1 "read without scan data"
    expect_has 'no scan data' "read without scan data"

    # No device at all: the library cannot open the port.
    run_sim --quiet-frames -- sh -c "umount /dev/ttyMT1 && rm /dev/ttyMT1 && $scanctl profile; echo rc=\$?; $scanctl get-timeout"
    expect_has '^rc=1$' "profile without a device"
    expect_has 'port could not be opened or configured, or the write failed' "profile without a device"
    expect_has '^scanctl: port could not be opened or configured$' "get-timeout without a device"
}

# --help: 35 rows, and the codes shown are those the library sends.
group_scanctl_help() {
    out=$($scanctl --help)
    rc=$?
    expect_rc 0 "--help"
    rows=$(printf '%s\n' "$out" | grep -cE '^ +[0-9]+: [0-9]{6}$')
    [ "$rows" -eq 35 ] || fail "--help lists $rows type rows, expected 35"
    help=$out
    for t in 0 3 19 33 34; do
        code=$(printf '%s\n' "$help" | sed -n "s/^ *$t: \([0-9]*\)$/\1/p")
        run_sim -- $scanctl enable $t
        expect_has "|.M.${code}1.|  enable type $t\$" "help row $t ($code)"
    done
}

# scan-sim itself: exit statuses, option errors, not root, hex scan data.
group_scan_sim() {
    run_sim -- sh -c 'exit 7'
    expect_rc 7 "command exit status"
    run_sim -- sh -c 'kill -TERM $$'
    expect_rc 143 "command killed by SIGTERM"
    run_sim -- /nonexistent/command
    expect_rc 127 "command that cannot run"

    for bad in "--enable 35" "--timeout x" "--fault bogus" "--fault delay" "--every 0" "--scan-hex 4" "--setting 12" "--bogus 1" \
               "--line-rate 0" "--line-rate fast" "--burst 0" "--reply-delay 0.0005" "--reply-delay -1" "--reply-delay 1."; do
        run_sim $bad -- sh -c 'echo ran'
        expect_rc 125 "scan-sim $bad"
        expect_lacks '^ran$' "scan-sim $bad"
    done
    run_sim --timeout 5
    expect_rc 125 "scan-sim without a command"

    out=$(setpriv --reuid=65534 --regid=65534 --clear-groups $scansim -- true 2>&1)
    rc=$?
    expect_rc 125 "scan-sim as a normal user"
    expect_has 'must run as root' "scan-sim as a normal user"

    run_sim --scan-hex '34 30 0D 41' -- $scanctl read
    expect_rc 0 "read of hex scan data"
    expect_has "$(printf '^40\r')A\$" "read of hex scan data"

    run_sim --scan A --scan B -- sh -c "$scanctl read && $scanctl read"
    expect_has '^A$' "first of two scans"
    expect_has '^B$' "second of two scans"

    run_sim --scan R --every 300ms -- sh -c "$scanctl read && $scanctl read"
    expect_rc 0 "repeated scan data"
    n=$(printf '%s\n' "$out" | grep -c '^R$')
    [ "$n" -eq 2 ] || fail "repeated scan data read $n times, expected 2"

    # The line: at 1200 baud 120 bytes take 1 s, so 0.5 s into the scan a
    # reader finds part of it, in whole bursts of 8; with the line off, all.
    scan=$(printf '%0120d' 0)
    reader="stty raw -echo </dev/ttyMT1 && sleep 0.6 && dd if=/dev/ttyMT1 bs=4096 count=1 iflag=nonblock 2>/dev/null | wc -c"
    for line in "--line-rate 1200 --burst 8" "--line-rate off"; do
        run_sim --quiet-frames $line --scan "$scan" --every 60s --delay 100ms -- sh -c "$reader"
        expect_rc 0 "reader with $line"
        n=$(printf '%s\n' "$out" | sed -n 's/^ *\([0-9][0-9]*\)$/\1/p')
        case "$line:${n:-none}" in
            *off:120) ;;
            *8:none|*off:*) fail "$line: $n bytes read, expected all 120" ;;
            *) { [ "$n" -gt 0 ] && [ "$n" -lt 120 ] && [ $((n % 8)) -eq 0 ]; } ||
                   fail "$line: $n bytes read, expected whole bursts of 8, fewer than 120" ;;
        esac
    done
    # A port cycle (scanctl open) 0.3 s into a 2 s scan: the engine sends on
    # and a reader 0.3 s later finds what came after the flush; with
    # --flush-cuts the scan stops at the flush (one burst may cross it).
    scan=$(printf '%0240d' 0)
    reader="stty raw -echo </dev/ttyMT1 && sleep 0.3 && $scanctl open >/dev/null && sleep 0.3 && dd if=/dev/ttyMT1 bs=4096 count=1 iflag=nonblock 2>/dev/null | wc -c"
    for cuts in "" "--flush-cuts"; do
        run_sim --quiet-frames $cuts --line-rate 1200 --burst 8 --scan "$scan" --every 60s --delay 100ms -- sh -c "$reader"
        expect_rc 0 "flush in a scan ${cuts:-by default}"
        n=$(printf '%s\n' "$out" | sed -n 's/^ *\([0-9][0-9]*\)$/\1/p')
        case "$cuts:${n:-none}" in
            *:none) fail "flush in a scan ${cuts:-by default}: no count read" ;;
            --flush-cuts:*) [ "$n" -le 8 ] || fail "--flush-cuts: $n bytes read after the flush, expected at most 8" ;;
            *) { [ "$n" -ge 16 ] && [ "$n" -lt 240 ]; } ||
                   fail "flush in a scan: $n bytes read after the flush, expected 16 to 239" ;;
        esac
    done
    # Think time: 400 ms is past the library's poll, half a millisecond is not.
    run_sim --reply-delay 400 -- $scanctl get-timeout
    expect_rc 1 "reply after 400 ms of think time"
    run_sim --reply-delay 0.5 -- $scanctl get-timeout
    expect_rc 0 "reply after 0.5 ms of think time"
    expect_has '^3000$' "reply after 0.5 ms of think time"

    # Faults: one-time faults in order, then the persistent one for the rest.
    run_sim --fault value:0042 --fault delay:300 --persistent-fault noack -- \
        sh -c "$scanctl get-timeout; $scanctl get-timeout; echo rc=\$?; $scanctl check 0; echo rc=\$?; $scanctl check 0"
    expect_has '^0042$' "value fault"
    expect_has '^rc=1$' "reply later than the poll"
    n=$(printf '%s\n' "$out" | grep -c '^disabled$')
    [ "$n" -eq 2 ] || fail "persistent noack: $n checks disabled, expected 2"
}

group_$group
[ "$failures" -eq 0 ] || { echo "$failures check(s) failed in $group"; exit 1; }
echo "all checks passed in $group"
