#!/bin/sh
# Checks that a built libscanjni.so was compiled with _FORTIFY_SOURCE in
# effect: it calls at least one checked libc variant (__snprintf_chk,
# __vsnprintf_chk, __read_chk, ...) and none of the formatting functions
# that fortification replaces. Prints the checked variants it calls.
#   tools/fortify-check.sh NM LIBRARY
set -eu
nm_tool=$1
lib=$2
undefined=$("$nm_tool" -D --undefined-only "$lib" | awk '{print $2}' | sed 's/@.*//' | LC_ALL=C sort -u)
checked=$(printf '%s\n' "$undefined" | grep -E '^__[a-z0-9_]+_chk$|^__open_2$' | tr "\n" " " | sed "s/ $//" || true)
plain=$(printf '%s\n' "$undefined" | grep -Ex 'v?s(n)?printf' | tr "\n" " " | sed "s/ $//" || true)
status=0
if [ -z "$checked" ]; then
    echo "fortify: no checked libc call in $lib"; status=1
fi
if [ -n "$plain" ]; then
    echo "fortify: unchecked formatting calls in $lib: $plain"; status=1
fi
[ $status -eq 0 ] && echo "fortify: checked calls $checked"
exit $status
