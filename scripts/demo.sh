#!/bin/bash
# Installs what is needed, builds the library and the tools, and runs a
# short session against the simulated scan engine at /dev/ttyMT1 (a pty in
# a private mount namespace that disappears with the session).
#
# Each "engine <- ..." line is a frame the engine received, in hex and as
# text; the "D/SCANLIB_CORE" and "E/SCANLIB_CORE" lines are what the library
# wrote to the (host stand-in of the) Android log; the other lines are what
# scanctl printed. The last session is a small Java program using
# BarcodeScanner; each of its lines shows the time and the thread.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh

. scripts/jvm-tmp.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build scanjni scanctl scan-sim scanner_jars scanner_demo >/dev/null
export PATH="$root/build/tools:$PATH"

session='
step() { echo; echo "\$ scanctl $*"; scanctl "$@" || true; sleep 0.05; }
step open
step enable 3
step check 3
step disable 3
step check 3
step set-timeout 1200
step get-timeout
step send 100002115200
step query 100002
step profile
step close
'
echo "=== session 1: open, type 3 on and off, timeout, command, query, profile, close"
scan-sim --setting 100002=9600 -- bash -c "$session"

echo
echo "=== session 2: one piece of scan data"
scan-sim --scan "4006381333931" --delay 30 -- bash -c 'echo "\$ scanctl read"; scanctl read'

echo
echo "=== session 3: the device is missing (the port cannot be opened)"
scan-sim --quiet-frames -- bash -c 'umount /dev/ttyMT1; rm -f /dev/ttyMT1; echo "\$ scanctl open"; scanctl open || echo "(exit status $?)"'

echo
echo "=== session 4: an app's view, Java through BarcodeScanner (library log lines off)"
echo "    a scan every 400 ms while scanning on the held port; each question wakes the wait and"
echo "    is answered at once, in one exchange; scans that arrive meanwhile are kept, none is lost"
HOSTLOG_QUIET=1 scan-sim --scan "4006381333931" --every 400ms --delay 300 --setting 100002=9600 -- \
    java -XX:-UsePerfData -Djava.library.path=build \
         -cp build/scanner.jar:build/tools/scanner-demo scanjni.demo.ScannerDemo 2>&1
