#!/bin/sh
# Makes a capture of one field scenario, run on today's library against
# the simulated engine, in the logcat format FORMAT (the host log stand-in
# writes it; every process appends its own lines whole).
#   scenarios.sh SCENARIO FORMAT OUT   (needs SCANCTL, SCANSIM, SESSION, HOLD)
# Scenarios:
#   answered_late   a question whose tenth 10 ms attempt reads bytes that
#                   make no reply (it logs nothing more), then the capture
#                   goes on
#   never_quiet     a read that meets a message already streaming for
#                   seconds: the line never goes quiet in its window
#   held_session    a held-port session of every kind of call
#   two_at_once     two processes calling at the same time
#   held_elsewhere  per-call functions while another process holds a session
#   busy            a session's open while another process holds one
#   busy_call       a call while another process's call holds the line past
#                   the wait (that process stopped, then killed)
#   java_demo       the Java demo (BarcodeScanner on a held port, scans every
#                   400 ms, questions meanwhile); needs JAVA_DEMO_DIR, the
#                   build directory with scanner.jar and the demo's classes
#   killed          a read whose process is killed mid-call; the capture goes
#                   on longer than a read can take
#   call_then_session  a per-call question, then another process's held-port
#                   session (the question comes out of the capture later)
#   wait_free       a session's open that first waits for another process's
#                   session to let the port go; then one with no port
#   locks           calls on a device that refuses locks on the port, then
#                   on one without description locks (needs LOCK_FAULTS, the
#                   lock_faults interposer)
set -u
scenario=$1
format=$2
out=$3
: > "$out"
run() { env -u HOSTLOG_QUIET HOSTLOG_FORMAT="$format" "$@" 2>>"$out" >/dev/null; }
# Text of N bytes with no line end: a line that never goes quiet.
stream() { head -c "$1" /dev/zero | tr '\0' 'S'; }

case $scenario in
answered_late)
    run $SCANSIM --quiet-frames --reply-delay 93 --fault garbage -- \
        sh -c "$SCANCTL check 3; sleep 0.3; $SCANCTL get-timeout" ;;
never_quiet)
    # The profile's port cycle starts 3.5 s of scan data; a reader keeps
    # it flowing at the line's pace until the read opens the port.
    run $SCANSIM --quiet-frames --scan "$(stream 40000)" -- sh -c "
        $SCANCTL profile; cat /dev/ttyMT1 > /dev/null & c=\$!; sleep 0.3; kill \$c; $SCANCTL read" ;;
held_session)
    run $SESSION ;;
two_at_once)
    run $SCANSIM --quiet-frames -- sh -c "$SCANCTL check 3 & $SCANCTL get-timeout & wait" ;;
held_elsewhere)
    run $SCANSIM --quiet-frames -- sh -c "
        $HOLD 600 & sleep 0.2
        $SCANCTL check 3; $SCANCTL enable 3; $SCANCTL read; wait" ;;
busy)
    run $SCANSIM --quiet-frames -- sh -c "$HOLD 400 & sleep 0.2; $HOLD 0; wait" ;;
busy_call)
    run $SCANSIM --quiet-frames -- sh -c "
        $SCANCTL read & p=\$!; sleep 0.2; kill -STOP \$p; $SCANCTL check 3; kill -KILL \$p
        wait; sleep 2.5; $SCANCTL get-timeout" ;;
java_demo)
    run $SCANSIM --quiet-frames --scan 4006381333931 --every 400ms --delay 300 --setting 100002=9600 -- \
        java -XX:-UsePerfData -Djava.library.path="$JAVA_DEMO_DIR" \
        -cp "$JAVA_DEMO_DIR/scanner.jar:$JAVA_DEMO_DIR/tools/scanner-demo" scanjni.demo.ScannerDemo ;;
killed)
    run $SCANSIM --quiet-frames -- sh -c "
        $SCANCTL read & p=\$!; sleep 0.3; kill -9 \$p; wait; sleep 2.5; $SCANCTL check 3" ;;
call_then_session)
    run $SCANSIM --quiet-frames -- $SCANCTL check 3
    run $SESSION ;;
wait_free)
    run $SCANSIM --quiet-frames -- sh -c "
        $HOLD 400 & sleep 0.2; $HOLD 0 2000; wait
        umount /dev/ttyMT1; rm /dev/ttyMT1; $HOLD 0 2000" ;;
locks)
    run $SCANSIM --quiet-frames -- sh -c "
        LD_PRELOAD=$LOCK_FAULTS SCANJNI_LOCK_FAULT=EACCES $SCANCTL check 3
        LD_PRELOAD=$LOCK_FAULTS SCANJNI_LOCK_FAULT=EINVAL $SCANCTL get-timeout
        LD_PRELOAD=$LOCK_FAULTS SCANJNI_LOCK_FAULT=EINVAL $HOLD 0" ;;
*)
    echo "scenarios.sh: unknown scenario $scenario" >&2; exit 2 ;;
esac
