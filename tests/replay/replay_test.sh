#!/bin/sh
# Tests of scanctl replay as a command.
#   replay_test.sh GROUP SCANCTL SCAN_SIM CAPTURES SESSION_CAPTURE HOLD_PORT
#   (EMU: emulator command, may be empty; SANITIZED: the sanitizers the
#   build runs under, may be empty; SESSION_CAPTURE runs a held-port
#   session against the simulated engine and logs it to stderr; HOLD_PORT
#   holds a session for a while)
#
# The stored captures in CAPTURES were made with this project's tools, one
# per logcat format (the host log stand-in writes the format HOSTLOG_FORMAT
# names), as "adb logcat" would show them:
#   session.threadtime.log  every operation, a reply 35 ms late, an unknown
#                           setting; only the scanner's lines (as with -s)
#   failures.brief.log      a silent engine, then no device at all; other
#                           lines mixed in, Windows line ends
#   query.time.log          a late reply, garbage instead of a reply, a reply
#                           sent twice
#   scan.long.log           a scan data read that drops the tail of a scan
#                           already on the line, then reads the next one
#   held.threadtime.log     a held-port session: every kind of call (see
#                           session_capture.cpp)
set -u
group=$1
scanctl="$EMU $2"
scansim="$EMU $3"
captures=$4
session_capture="$EMU $5"
hold_port="$EMU $6"
here=$(dirname "$0")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAIL: $1"
    echo "--- output (lines that do not match, and the last) ---"
    printf '%s\n' "$out" | grep -v ' match$' | tail -n 20
    echo "--------------"
    failures=$((failures + 1))
}

# replay [options] FILE: sets $out and $rc.
replay() {
    out=$($scanctl replay "$@" 2>&1)
    rc=$?
}

# A loaded machine or an emulator can stall the simulated engine past an
# attempt or a quiet gap of the line, which no capture shows: a difference
# is replayed once more before it counts.
replay_settled() {
    replay "$@"
    [ "$rc" -ne 1 ] || replay "$@"
}

expect_rc() { [ "$rc" -eq "$1" ] || fail "$2: exit status $rc, expected $1"; }
expect_has() { printf '%s\n' "$out" | grep -q -- "$1" || fail "$2: no line matching '$1'"; }

# One session of every kind of call; its log goes to stderr in the format
# $1, with scanctl's own messages and the engine's frames mixed in.
session() {
    env -u HOSTLOG_QUIET HOSTLOG_FORMAT="$1" $scansim --setting 777=ABC --fault delay:35 \
        --fault silence -- sh -c "
        $scanctl open; sleep 0.1; $scanctl enable 3; sleep 0.1; $scanctl check 3; $scanctl check 20
        $scanctl get-timeout; $scanctl query 777; $scanctl query 424242; $scanctl set-timeout -12
        $scanctl send 'A B?'; $scanctl profile; $scanctl close; sleep 0.1
        umount /dev/ttyMT1; rm /dev/ttyMT1; $scanctl check 3; $scanctl read" 2>&1 >/dev/null
}

# A scan data read that drops a tail of $1 bytes, logged $2 ms after its
# configuration, then fails every attempt whose time is still to come.
field_read() {
    awk -v n="$1" -v drop="$2" '
        function at(ms) { return sprintf("12-08 10:00:%02d.%03d  4242  4242 ", int(ms / 1000), ms % 1000) }
        BEGIN {
            sig = "char *scan_read_data(), "; uart = "int set_uart_parm(int, unsigned int, int, char, int),"
            print at(0) "D SCANLIB_CORE: " uart " Standard baud"
            print at(0) "D SCANLIB_CORE: " uart "nSpeed = 115200,nBits = 8,nEvent = N,nStop = 1"
            for (i = 0; i < n; i++) print at(drop) "D SCANLIB_CORE: " sig "41 "
            print at(drop) "D SCANLIB_CORE: " sig "dropped " n " bytes: tail of an earlier message"
            for (ms = (int(drop / 10) + 1) * 10; ms <= 1000; ms += 10) print at(ms) "E SCANLIB_CORE: " sig "read data error! ret = -1"
        }'
}

# Every stored capture replays to the same log.
group_stored() {
    for f in "$captures"/*.log; do
        replay "$f"
        expect_rc 0 "$f"
        expect_has 'operation(s) replayed, all match' "$f"
    done
}

# Round trip: a session run against the simulator, captured in each
# format, replays to the same log; so do a capture with Windows line ends
# and one cut at both ends.
group_round_trip() {
    for format in brief time threadtime long; do
        session $format > "$work/$format.log"
        replay_settled "$work/$format.log"
        expect_rc 0 "round trip in $format"
        expect_has '^13 operation(s) replayed, all match' "round trip in $format"
    done
    expect_has '#7 .*scan_query_data(424242)  in 8 bytes' "unknown setting in long"
    expect_has '#12 .*scan_type_check(3)  device missing' "missing device in long"

    sed 's/$/\r/' "$work/time.log" > "$work/crlf.log"
    replay_settled "$work/crlf.log"
    expect_rc 0 "time format with Windows line ends"

    # Cut inside the third and inside the twelfth operation: both are
    # skipped, the rest replayed.
    last=$(grep -n 'type = 3' "$work/threadtime.log" | tail -n 1 | cut -d: -f1)
    sed -n "12,${last}p" "$work/threadtime.log" > "$work/cut.log"
    replay_settled "$work/cut.log"
    expect_rc 0 "capture cut at both ends"
    expect_has '^8 operation(s) replayed, all match.*; 2 cut by the capture' "capture cut at both ends"

    # Field cases, written as the library logs them (threadtime, times in
    # ms after the read's configuration): a read that drops a 600-byte tail
    # and times out; a line that never goes quiet (a 12000-byte tail, longer
    # than the read's second).
    for case in "600 73" "12000 1065"; do
        field_read $case > "$work/field.log"
        replay_settled "$work/field.log"
        expect_rc 0 "a read that drops a tail: $case"
        expect_has "scan_read_data()  tail ${case% *} bytes at +0.0 ms  -> .*match" "a read that drops a tail: $case"
    done
    # A question whose port hangs up, which the per-call log does not show:
    # abandoned (after its write, or after a few attempts on a loaded
    # machine, where the engine hangs up late).
    env -u HOSTLOG_QUIET HOSTLOG_FORMAT=threadtime $scansim --quiet-frames --fault hangup:5 -- \
        sh -c "$scanctl check 3; $scanctl get-timeout" 2> "$work/hangup.log" >/dev/null
    replay "$work/hangup.log"
    expect_rc 3 "a question whose port hangs up"
    expect_has 'abandoned: lines 1-[0-9]* .*stopped here, and the capture goes on' "a question whose port hangs up"

    # A held-port session, in the long format.
    env -u HOSTLOG_QUIET HOSTLOG_FORMAT=long $session_capture 2> "$work/held.log" >/dev/null
    # As many operations replayed as rebuilt (how many depends on how the
    # session logs: its calls, and its reader's lines where it has one).
    replay --list "$work/held.log"
    ops=$(printf '%s\n' "$out" | sed -n 's/^\([0-9]*\) operation(s) rebuilt$/\1/p')
    replay_settled "$work/held.log"
    expect_rc 0 "held session round trip"
    # (an open whose tail a loaded machine sent late may match on a later run)
    expect_has "^${ops:-none} operation(s) replayed, all match\( ([0-9]* on a later run)\)\?$" "held session round trip"
}

# Every capture shape that the tool reads, made from one fresh threadtime
# capture the way the device's tools would write it, rebuilds the same 13
# operations; one of them is replayed as well. A threadtime line is
# "DATE TIME  PID  TID P TAG: text".
group_shapes() {
    session threadtime > "$work/tt.log"
    head='^\([0-9-]* [0-9:.]*\) *\([0-9]*\) *\([0-9]*\) \([A-Z]\) \(SCANLIB_[A-Z]*\) *: '
    while IFS='|' read -r shape how; do
        eval "$how" < "$work/tt.log" > "$work/shape.log"
        replay --list "$work/shape.log"
        expect_rc 0 "$shape"
        expect_has '^13 operation(s) rebuilt$' "$shape"
    done <<'LIST'
threadtime|cat
uid root|sed "s/$head/\1  root \2 \3 \4 \5: /"
uid number|sed "s/$head/\1 10123 \2 \3 \4 \5: /"
zone|sed "s/$head/\1 +0100 \2 \3 \4 \5: /"
year and usec|sed "s/$head/2026-\1123 \2 \3 \4 \5: /"
epoch|awk '{ split($2, t, "[:.]"); $2 = ""; $1 = sprintf("%d.%s", 1765000000 + (t[1] * 60 + t[2]) * 60 + t[3], t[4]); print }'
monotonic|awk '{ split($2, t, "[:.]"); $2 = ""; $1 = sprintf("%6d.%s", (t[1] * 60 + t[2]) * 60 + t[3], t[4]); print }'
tabs|sed "s/$head/\1\t\2\t\3\t\4\t\5:\t/"
color|sed 's/^/\x1b[38;5;75m/; s/$/\x1b[0m/'
printable|sed 's/\(baud\)$/\1\\r/'
Windows line ends|sed 's/$/\r/'
UTF-8 byte order mark|sed '1s/^/\xef\xbb\xbf/'
UTF-16 with a byte order mark|iconv -f UTF-8 -t UTF-16
UTF-16BE without one|iconv -f UTF-8 -t UTF-16BE
Android Studio, old layout|sed "s/$head/2026-\1 \2-\3\/com.morvek.demo \4\/\5: /"
Android Studio, new layout|sed "s/$head/2026-\1  \2-\3  \5            com.morvek.demo               \4  /"
LIST
    iconv -f UTF-8 -t UTF-16 < "$work/tt.log" > "$work/utf16.log"
    replay - < "$work/utf16.log"
    expect_rc 0 "UTF-16 from standard input, replayed"
    expect_has '^13 operation(s) replayed, all match$' "UTF-16 from standard input, replayed"

    # No line read, in a shape that mentions the scanner: one message naming
    # the shapes read and the command, not one per line.
    sed 's/^\([^ ]* [^ ]*\) *\([0-9]*\) *\([0-9]*\) /\1 [\2|\3] /' "$work/tt.log" > "$work/none.log"
    replay "$work/none.log"
    expect_rc 2 "nothing readable"
    expect_has 'adb logcat -v threadtime -s SCANLIB_CORE SCANLIB_JNI' "nothing readable"
    ! printf '%s\n' "$out" | grep -q 'damaged' || fail "nothing readable: a note per line"

    # The command's arguments.
    while IFS='|' read -r what args want message; do
        replay $args
        expect_rc "$want" "$what"
        expect_has "$message" "$what"
    done <<LIST
help|--help|0|adb logcat -v threadtime
a directory|$work|2|is a directory
a missing file|$work/missing.log|2|cannot read $work/missing.log: No such file
a bad option|--fast $work/tt.log|2|unknown option --fast
--list without a file|--list|2|no capture named
LIST
}

# One case a row: a stored capture changed with a sed script, the exit
# status it must give and a line its output must have. Exit 1: the
# library decides otherwise; 2: part of the capture unusable; 3: an
# operation was abandoned while the capture went on.
group_damaged() {
    while IFS='|' read -r what src how want message; do
        sed "$how" "$captures/$src" > "$work/bad.log"
        replay --keep-going "$work/bad.log"
        expect_rc "$want" "$what"
        expect_has "$message" "$what"
    done <<'LIST'
cut line|session.threadtime.log|10s/_check(int), write check successful! ret = 11/_ch/|2|line 10: not a line of this library's log (cut?): 'bool scan_type_ch'
byte line not hex|session.threadtime.log|16s/), 30 $/), 3G /|2|line 16: a byte line that is not two hex digits: 'bool scan_type_check(int), 3G'
unknown signature|session.threadtime.log|16s/bool scan_type_check(int)/bool scan_type_probe(long)/|2|line 16: operation signature 'bool scan_type_probe(long)' is not known
other parameters, another version|session.threadtime.log|s/bool scan_type_check(int)/bool scan_type_check(long)/|0|^another version of the library: the capture logs 'bool scan_type_check(long)' where today's logs 'bool scan_type_check(int)'
reordered lines|session.threadtime.log|10{h;d};13G|2|line 10: line not expected here
changed answer|session.threadtime.log|23s/enable=1/enable=0/|1|^  replay:          D bool scan_type_check(int), \[enable=1\]
ACK turned NAK, per call|session.threadtime.log|21s/), 06 $/), 15 /|1|^#3 differs: scan_type_check(3)
ACK turned NAK, session|held.threadtime.log|42s/06 0D/15 0D/|1|differs: scan_session_query(777)
no answer before the budget|held.threadtime.log|53s/19.007/18.937/|1|capture line 53: "no answer" 30 ms after the write at line 51
reply after the budget|held.threadtime.log|41,43s/18.884/18.999/|1|capture line 41: a reply 117 ms after the write at line 39
logd dropped lines|session.threadtime.log|16a 12-08 01:36:58.535 25689 25689 I chatty  : uid=0(root) scanctl expire 3 lines|3|abandoned: lines 7-.*pid 25689 tid 25689.*line 17: the log daemon dropped lines
liblog dropped lines|session.threadtime.log|16a 12-08 01:36:58.535 25689 25689 W liblog  : 3|3|abandoned: .*line 17: liblog dropped messages
crash with a tombstone|session.threadtime.log|17,23d;16a 12-08 01:36:58.540   901   901 F DEBUG   : pid: 25689, tid: 25689, name: scanctl  >>> scanctl <<<\n12-08 01:36:58.540   901   901 F DEBUG   :       #00 pc 000123ac  /data/app/lib/arm64/libscanjni.so|3|abandoned: lines 7-.*pid 25689 tid 25689.*line 18: a crash report names libscanjni.so
fatal signal|session.threadtime.log|17,23d;16a 12-08 01:36:58.540 25689 25689 F libc    : Fatal signal 11 (SIGSEGV), code 1 in tid 25689 (scanctl), pid 25689 (scanctl)|3|abandoned: .*line 17: the process crashed
process died|session.threadtime.log|17,23d;16a 12-08 01:36:58.541   541   560 I ActivityManager: Process com.morvek.demo (pid 25689) has died: fg TOP|3|abandoned: .*line 17: the process died
lines stop, capture goes on|session.threadtime.log|17,23d;$a 12-08 01:37:09.000   541   541 I ActivityManager: still here|3|abandoned: lines 7-16 .*line 16: the operation on thread 25689 stopped here, and the capture goes on for [0-9.]* s
foreign stack trace line|session.threadtime.log|15a \    at com.other.Thing.run(SCANLIB_JNI.java:12)|0|all match
foreign message in long|scan.long.log|3i [ 12-08 01:37:04.270   541:  560 I/Other ]\nfirst line\n\nSCANLIB_JNI is mentioned here\n|0|all match
LIST

    src="$captures/session.threadtime.log"
    # Garbage bytes in the middle of a capture: no crash, a clear verdict.
    { head -n 60 "$src"; head -c 3000 /dev/urandom; echo; sed -n '61,$p' "$src"; } > "$work/garbage.log"
    replay --list "$work/garbage.log"
    [ "$rc" -eq 0 ] || [ "$rc" -eq 2 ] || fail "garbage bytes: exit status $rc"
    expect_has 'operation(s) rebuilt' "garbage bytes"

    printf 'I/ActivityManager(  541): Start proc\n' > "$work/other.log"
    replay "$work/other.log"
    expect_rc 2 "a capture of other apps only"
    expect_has 'no line of SCANLIB_CORE or SCANLIB_JNI in 1 lines' "a capture of other apps only"
    replay "$work/none.log"
    expect_rc 2 "a file that is not there"

    # Tens of megabytes: the capture repeated, listed within bounded memory.
    n=0
    while [ $n -lt 2400 ]; do cat "$src"; n=$((n + 1)); done > "$work/big.log"
    size=$(wc -c < "$work/big.log")
    if [ -x /usr/bin/time ]; then
        # AddressSanitizer's quarantine of freed memory would count as resident.
        out=$(ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=0" \
              /usr/bin/time -f 'maxrss %M' $scanctl replay --list "$work/big.log" 2>&1)
        rc=$?
        kib=$(printf '%s\n' "$out" | sed -n 's/^maxrss //p')
        echo "a capture of $size bytes listed with at most $kib KiB resident"
        [ "${kib:-999999}" -lt 65536 ] || fail "big capture: $kib KiB resident"
    else
        replay --list "$work/big.log"
        echo "a capture of $size bytes listed (no /usr/bin/time here to measure its memory)"
    fi
    expect_rc 0 "big capture"
    expect_has '^26400 operation(s) rebuilt' "big capture"
}

# Field scenarios run on today's library (scenarios.sh), each captured in
# the three formats, with the exit each capture must give and a line its
# replay must print.
group_scenarios() {
    while IFS='|' read -r scenario formats want message; do
        # The demo's JVM runs on the host without a sanitizer's runtime.
        if [ "$scenario" = java_demo ] && { [ -n "$EMU${SANITIZED:-}" ] || [ ! -d "${JAVA_DEMO_DIR:-}/tools/scanner-demo" ]; }; then
            echo "java_demo skipped: no demo built for this host"
            continue
        fi
        # Under an emulator or a sanitizer the replay cannot send a tail of
        # thousands of bytes at the line's pace without a pause (the
        # hand-written tails of group round_trip are replayed there), nor
        # place a reply inside one 10 ms attempt (answered_late's reply
        # lands in the last one).
        if { [ "$scenario" = never_quiet ] || [ "$scenario" = answered_late ]; } && [ -n "$EMU${SANITIZED:-}" ]; then
            echo "$scenario skipped under $EMU${SANITIZED:-}"
            continue
        fi
        # The lock interposer is preloaded into host processes only.
        if [ "$scenario" = locks ] && { [ -n "$EMU${SANITIZED:-}" ] || [ ! -f "${LOCK_FAULTS:-}" ]; }; then
            echo "locks skipped: no lock interposer for this host"
            continue
        fi
        for format in $formats; do
            SCANCTL=$scanctl SCANSIM=$scansim SESSION=$session_capture HOLD=$hold_port \
                sh "$here/scenarios.sh" "$scenario" "$format" "$work/$scenario.log"
            replay --keep-going "$work/$scenario.log"
            # A loaded machine can stall the simulated engine past a quiet
            # gap of the line, which no capture shows: a difference is
            # replayed once more before it counts.
            if [ "$rc" -eq 1 ] && [ "$want" -ne 1 ]; then
                echo "$scenario in $format differed once; replayed again"
                printf '%s\n' "$out" | grep -v ' match$'
                replay --keep-going "$work/$scenario.log"
            fi
            expect_rc "$want" "$scenario in $format"
            expect_has "$message" "$scenario in $format"
        done
    done <<'LIST'
answered_late|threadtime brief long|0|^2 operation(s) replayed, all match
never_quiet|threadtime brief long|0|scan_read_data()  .*match
held_session|threadtime brief long|0|operation(s) replayed, all match
two_at_once|threadtime brief long|0|^2 operation(s) replayed, all match
held_elsewhere|threadtime brief long|0|scan_type_check(3)  port held by another process  -> refused: port held.*match
busy|threadtime brief long|0|scan_session_open()  port busy (errno 11)  -> port busy.*match
busy_call|threadtime long|3|scan_type_check(3)  port in use by another call  -> refused: port in use.*match
busy_call|brief|0|scan_type_check(3)  port in use by another call  -> refused: port in use.*match
java_demo|threadtime brief long|0|ScanPortNative.query  scan_session_query(100002) .*-> answer 9600 .*match
killed|threadtime long|3|abandoned: lines 1-.*stopped here, and the capture goes on
killed|brief|0|cut: lines 1-
call_then_session|threadtime brief long|0|operation(s) replayed, all match
wait_free|threadtime brief long|0|^7 operation(s) replayed, all match$
locks|threadtime brief long|0|^the device, line [0-9]* (pid [0-9]*): the system refuses locks on the port
LIST
}

# The log daemon's marks, made from a fresh capture as the daemon makes
# them: a run of identical lines printed once and counted; lines expired
# inside an operation; a message cut at the payload limit.
group_marks() {
    SCANCTL=$scanctl SCANSIM=$scansim SESSION=$session_capture HOLD=$hold_port sh "$here/scenarios.sh" held_session threadtime "$work/held.log"
    session threadtime > "$work/tt.log"
    # threadtime: "DATE TIME  PID  TID P TAG: text". The daemon prints a
    # run of the same thread's same line as its first line, a count of the
    # lines it left out, and its last line.
    collapse() { awk 'function end_run() {
            if (run > 1) print stamp "  " last_key " I chatty  : uid=0(root) scanctl identical " run - 1 " lines"
            if (run > 0) print last
        }
        {
            key = $3 " " $4; line = $0; sub(/^[^ ]* [^ ]* +[0-9]+ +[0-9]+ /, "", line)
            if (key == last_key && line == last_line) { run++; stamp = $1 " " $2; last = $0; next }
            end_run(); print; run = 0; last_key = key; last_line = line
        }
        END { end_run() }' "$1"; }
    collapse "$work/tt.log" > "$work/identical.log"
    grep -q 'identical [0-9]* lines' "$work/identical.log" || fail "identical: the transform made no mark"
    replay_settled "$work/identical.log"
    expect_rc 0 "identical lines"
    expect_has '^13 operation(s) replayed, all match\( ([0-9]* on a later run)\)\?$' "identical lines"
    # A scan of "000000": one line a byte, all the same.
    env -u HOSTLOG_QUIET HOSTLOG_FORMAT=threadtime $scansim --quiet-frames --scan 000000 --delay 30 -- \
        $scanctl read 2> "$work/zeros.log" > /dev/null
    collapse "$work/zeros.log" > "$work/identical.log"
    replay_settled "$work/identical.log"
    expect_rc 0 "a scan of zeros, identical lines"
    expect_has 'scan_read_data()  in 6 bytes .*-> scan 6 bytes  match' "a scan of zeros, identical lines"

    # Three byte lines of the get-timeout reply expired.
    first=$(grep -n 'scan_get_timeout(), 3[0-9] $' "$work/tt.log" | head -n 1 | cut -d: -f1)
    pidtid=$(sed -n "${first}p" "$work/tt.log" | awk '{ print $3 "  " $4 }')
    sed "$first,$((first + 2))d; $((first + 3))i 12-08 01:36:58.535  $pidtid I chatty  : uid=0(root) scanctl expire 3 lines" \
        "$work/tt.log" > "$work/expire.log"
    replay --keep-going "$work/expire.log"
    expect_rc 3 "expired lines"
    expect_has "abandoned: .*line $first: the log daemon dropped lines" "expired lines"

    # The query's answer longer than the device's log keeps: cut there.
    long=$(head -c 5000 /dev/zero | tr '\0' 'V')
    awk -v long="$long" '/scan_query_data\(int\), ABC$/ && !done {
            sub(/ABC$/, "ABC" long); $0 = substr($0, 1, index($0, "char *") - 1 + 4068 - 15); done = 1
        } { print }' "$work/tt.log" > "$work/payload.log"
    replay --keep-going "$work/payload.log"
    expect_rc 2 "a message cut at the payload limit"
    expect_has "cut at the log's payload limit of 4068 bytes" "a message cut at the payload limit"

    # Another version: the session's lines under another function name.
    sed 's/int scan_session_query(ScanSession \*, int, char \*)/int scan_session_query_value(ScanSession *, int, char *)/' \
        "$work/held.log" > "$work/version.log"
    replay_settled "$work/version.log"
    expect_rc 0 "another version"
    expect_has "^another version of the library: the capture logs 'int scan_session_query_value(ScanSession \*, int, char \*)' where today's logs 'int scan_session_query(ScanSession \*, int, char \*)'" "another version"
    [ "$(printf '%s\n' "$out" | grep -c 'differs\|another version')" -eq 1 ] || fail "another version: more than one line about it"
}

group_$group
[ "$failures" -eq 0 ] || { echo "$failures check(s) failed in $group"; exit 1; }
echo "all checks passed in $group"
