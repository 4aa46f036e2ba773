#!/bin/bash
# Builds libscanjni.so and scanctl for the two ARM ABIs that an app ships,
# 32-bit (armeabi-v7a) and 64-bit (arm64-v8a), with Debian's cross
# compilers and the flags an NDK build adds (tools/release-build.sh, the
# build that scripts/package.sh packs), and checks what an app would
# ship from each: the exported symbols are exactly the library's documented
# functions (tools/exports.txt: JNI_OnLoad plain, all others C++ with their
# parameter types), it needs only libc and liblog and no C++ runtime, its
# libc calls are the fortified ones, it is small once stripped, 64-bit load
# segments are aligned to 16 KiB, and scanctl finds the library beside itself.
# The library and scanctl are compiled without the C++ library's headers.
#   tools/release-check.sh [build-dir]
# The 32-bit build goes to build-dir (default build-release-arm), the
# 64-bit one to build-dir64.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build32=${1:-$src/build-release-arm}
build64=${build32}64

# Stripped size limits. The 64-bit library is larger: 8-byte pointers,
# relocations and symbol entries, and A64 code is less dense than Thumb-2.
# Reading in batches and telling the tails of earlier messages apart took
# the 32-bit library past the 16 KiB it had kept until then (17128 bytes).
# The held-port session took them to 24792 and 37032 bytes (17324, 26048),
# its Java bridge (twelve exported adapters, their table and log lines) to
# 29800 and 44664 (the tree before it measured 25032 and 37432 on the same
# machine). One owner of the line (the session's reader thread and its
# queue, answers known by their form, the locks that keep per-call cycles
# and sessions apart, the calls routed to the session) took them to 33672
# and 50960, with the port adapters no longer exported. The device as it
# is (locks the system refuses, children that fork, the wait for a free
# port that watches the device) took them to 37348 and 56392; the
# operations' table, session handles with a generation and the owed
# answers to 38272 and 57664.
limit_32=38912
limit_64=58368

# What only a C++ runtime provides (libc's own __cxa_finalize and
# __cxa_atexit do not count).
cxx_runtime='__cxa_(guard|pure_virtual|throw|begin_catch|end_catch|allocate|rethrow|thread_atexit)|__gxx_personality|_Unwind_|_Zn[wa]|_Zd[la]|_ZNSt|_ZSt'

fail=0
bad() { echo "$abi: $*"; fail=1; }

# check_abi ABI TRIPLE QEMU BUILD-DIR SIZE-LIMIT PAGE-SIZE
check_abi() {
    local abi=$1 triple=$2 qemu=$3 build=$4 limit=$5 align=$6
    echo "== $abi ($triple)"
    bash "$src/tools/release-build.sh" "$triple" "$build"
    echo "$abi: built without C++ library headers: libscanjni.so, scanctl"
    local lib=$build/libscanjni.so stripped=$build/libscanjni.stripped.so
    "$triple-strip" --strip-all -o "$stripped" "$lib"

    sh "$src/tools/fortify-check.sh" "$triple-nm" "$lib" | sed "s/^/$abi: /" || fail=1

    local actual expected
    actual=$("$triple-nm" -D --defined-only "$stripped" | awk '{print $3}' | c++filt | LC_ALL=C sort)
    expected=$(sh "$src/tools/exports-for.sh" "$abi")
    if [ "$actual" = "$expected" ]; then
        echo "$abi: exports: the $(echo "$actual" | wc -l) documented functions, nothing else"
    else
        bad "exports differ (< expected, > actual):"
        diff <(echo "$expected") <(echo "$actual") || true
    fi
    if "$triple-nm" -D --defined-only "$stripped" | awk '{print $3}' | grep -qx JNI_OnLoad; then
        echo "$abi: JNI_OnLoad: plain symbol"
    else
        bad "JNI_OnLoad: missing or decorated"
    fi

    local needed lib_name
    needed=$("$triple-readelf" -d "$stripped" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | LC_ALL=C sort | tr '\n' ' ')
    echo "$abi: needed: $needed"
    # Besides libc and liblog, two that only this glibc stand-in needs: the
    # stack protector's __stack_chk_guard lives in glibc's dynamic linker
    # (bionic keeps it in libc.so), and on 32-bit ARM the unwind tables
    # refer to the EHABI personality routines, which libgcc_s provides here
    # (an NDK build links its unwinder statically).
    for lib_name in $needed; do
        case $abi:$lib_name in
            *:libc.so.*|*:liblog.so|*:ld-linux-*.so.*|armeabi-v7a:libgcc_s.so.1) ;;
            *) bad "unexpected needed library: $lib_name" ;;
        esac
    done
    if "$triple-nm" -D --undefined-only "$stripped" | grep -Eq "$cxx_runtime"; then
        bad "C++ runtime symbols referenced:"
        "$triple-nm" -D --undefined-only "$stripped" | grep -E "$cxx_runtime"
    else
        echo "$abi: C++ runtime: none referenced"
    fi

    # Every load segment of the library and of scanctl aligned to at least
    # the page size that the ABI's devices may use.
    local f seg_align
    for f in "$stripped" "$build/tools/scanctl"; do
        for seg_align in $("$triple-readelf" -lW "$f" | awk '$1 == "LOAD" {print $NF}'); do
            [ $((seg_align)) -ge "$align" ] ||
                bad "$(basename "$f"): a load segment aligned to $seg_align, below $align bytes"
        done
    done
    echo "$abi: load segments aligned to $align bytes or more"

    # The library names no directory of this machine to search.
    if "$triple-readelf" -d "$lib" | grep -Eq '\((RUNPATH|RPATH)\)'; then
        bad "libscanjni.so has a run path: $("$triple-readelf" -d "$lib" | grep -E '\((RUNPATH|RPATH)\)')"
    else
        echo "$abi: libscanjni.so: no run path"
    fi

    # scanctl finds the library in its own directory, as on a device after
    # adb push of both: run a copy of the pair from a directory of its own,
    # with the log stand-in on the library path as the device's liblog.
    local runpath device=$build/device
    runpath=$("$triple-readelf" -d "$build/tools/scanctl" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
    [ "$runpath" = '$ORIGIN' ] || bad "scanctl RUNPATH is '$runpath', not \$ORIGIN"
    rm -rf "$device" && mkdir "$device"
    cp "$lib" "$build/tools/scanctl" "$device/"
    if "$qemu" -L "/usr/$triple" -E LD_LIBRARY_PATH="$build/platform/host" \
               "$device/scanctl" --help >/dev/null; then
        echo "$abi: scanctl: RUNPATH \$ORIGIN, runs with libscanjni.so beside it"
    else
        bad "scanctl does not run beside libscanjni.so"
    fi
    rm -rf "$device"

    local size
    size=$(stat -c %s "$stripped")
    echo "$abi: stripped size: $size bytes ($(( (size + 1023) / 1024 )) KiB, limit $(( limit / 1024 )) KiB)"
    [ "$size" -le "$limit" ] || bad "larger than $(( limit / 1024 )) KiB"
}

check_abi armeabi-v7a arm-linux-gnueabihf qemu-arm "$build32" $limit_32 4096
check_abi arm64-v8a aarch64-linux-gnu qemu-aarch64 "$build64" $limit_64 16384

[ $fail -eq 0 ] && echo "release check: passed" || echo "release check: FAILED"
exit $fail
