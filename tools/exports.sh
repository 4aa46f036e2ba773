#!/bin/sh
# Prints the exports that tools/exports.txt lists, sorted, as the library
# of one ABI demangles them. The list is written as the 64-bit ABIs show
# it; on 32-bit ARM size_t is unsigned int and int64_t (jlong included) is
# long long, so those two words read differently there. The library's
# functions take no plain long, so the mapping is exact.
#   tools/exports.sh 32|64
set -eu
list=$(dirname "$0")/exports.txt
case ${1:-} in
    64) sed '/^#/d' "$list" ;;
    32) sed -e '/^#/d' -e 's/unsigned long/unsigned int/g' -e 's/\blong\b/long long/g' "$list" ;;
    *) echo "usage: $0 32|64" >&2; exit 2 ;;
esac | LC_ALL=C sort
