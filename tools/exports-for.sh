#!/bin/sh
# Prints the exports that libscanjni.so must have on one ABI, sorted, from
# tools/exports.txt: every line that names no ABI, and the lines marked
# "ABI: " for this one (types such as size_t and int64_t demangle
# differently on 32-bit and 64-bit ARM), without their mark.
#   tools/exports-for.sh armeabi-v7a|arm64-v8a
set -eu
abi=$1
sed -n -e '/^#/d' -e "s/^$abi: //" -e 't keep' -e '/^[a-z0-9-]*: /d' -e ':keep' -e p \
    "$(dirname "$0")/exports.txt" | LC_ALL=C sort
