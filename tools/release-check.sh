#!/bin/bash
# Builds the stripped 32-bit ARM libscanjni.so and checks what an app
# would ship: the exported symbols are exactly the library's documented
# functions (JNI_OnLoad plain, all others C++ with their parameter types),
# it needs only libc and liblog and no C++ runtime, and it is small.
# The library and scanctl are compiled without the C++ library's headers.
#   tools/release-check.sh [build-dir]
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build-release-arm}

# Without the C++ library's headers: what an app builds with ANDROID_STL=none.
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
      -DCMAKE_TOOLCHAIN_FILE="$src/cmake/arm-linux-gnueabihf.cmake" -DSCANJNI_TESTS=OFF \
      -DCMAKE_CXX_FLAGS=-nostdinc++ >/dev/null
ninja -C "$build" scanjni scanctl >/dev/null
echo "built without C++ library headers: libscanjni.so, scanctl"
lib=$build/libscanjni.so
stripped=$build/libscanjni.stripped.so
arm-linux-gnueabihf-strip --strip-all -o "$stripped" "$lib"

fail=0
expected=$(cat <<'LIST'
JNI_OnLoad
checkType(_JNIEnv*, _jobject*, int)
closeDev(_JNIEnv*, _jobject*)
disableType(_JNIEnv*, _jobject*, int)
enableType(_JNIEnv*, _jobject*, int)
getTimeout(_JNIEnv*, _jobject*)
openDev(_JNIEnv*, _jobject*)
profileScanType(_JNIEnv*, _jobject*)
profile_scan_type()
queryData(_JNIEnv*, _jobject*, int)
readData(_JNIEnv*, _jobject*)
registerNativeMethods(_JNIEnv*, char const*, JNINativeMethod*, int)
registerNatives(_JNIEnv*)
scan_enable_type(bool, int)
scan_get_timeout()
scan_open_dev(bool)
scan_query_data(int)
scan_read_data()
scan_set_command(char const*)
scan_set_timeout(int)
scan_type_check(int)
sendCommand(_JNIEnv*, _jobject*, _jstring*)
setTimeout(_JNIEnv*, _jobject*, int)
set_uart_parm(int, unsigned int, int, char, int)
LIST
)
actual=$(arm-linux-gnueabihf-nm -D --defined-only "$stripped" | awk '{print $3}' | c++filt | LC_ALL=C sort)
if [ "$actual" = "$(echo "$expected" | LC_ALL=C sort)" ]; then
    echo "exports: the $(echo "$actual" | wc -l) documented functions, nothing else"
else
    echo "exports differ (< expected, > actual):"
    diff <(echo "$expected" | LC_ALL=C sort) <(echo "$actual") || true
    fail=1
fi
if arm-linux-gnueabihf-nm -D --defined-only "$stripped" | awk '{print $3}' | grep -qx JNI_OnLoad; then
    echo "JNI_OnLoad: plain symbol"
else
    echo "JNI_OnLoad: missing or decorated"; fail=1
fi

needed=$(arm-linux-gnueabihf-readelf -d "$stripped" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | LC_ALL=C sort | tr '\n' ' ')
echo "needed: $needed"
for lib_name in $needed; do
    case $lib_name in
        libc.so.*|liblog.so) ;;
        *) echo "unexpected needed library: $lib_name"; fail=1 ;;
    esac
done
# What only a C++ runtime provides (libc's own __cxa_finalize and
# __cxa_atexit do not count).
cxx_runtime='__cxa_(guard|pure_virtual|throw|begin_catch|end_catch|allocate|rethrow|thread_atexit)|__gxx_personality|_Unwind_|_Zn[wa]|_Zd[la]|_ZNSt|_ZSt'
if arm-linux-gnueabihf-nm -D --undefined-only "$stripped" | grep -Eq "$cxx_runtime"; then
    echo "C++ runtime symbols referenced:"
    arm-linux-gnueabihf-nm -D --undefined-only "$stripped" | grep -E "$cxx_runtime"
    fail=1
else
    echo "C++ runtime: none referenced"
fi

size=$(stat -c %s "$stripped")
echo "stripped size: $size bytes ($(( (size + 1023) / 1024 )) KiB)"
if [ "$size" -gt 16384 ]; then
    echo "larger than 16 KiB"; fail=1
fi
[ $fail -eq 0 ] && echo "release check: passed" || echo "release check: FAILED"
exit $fail
