#!/usr/bin/env bash
# Checks what a binary exports of the flash-token library.
#   checkExports.sh library LIB HEADER  - exactly the functions HEADER declares,
#                                         nothing else, and a SONAME libkvflash.so.N
#   checkExports.sh program EXE HEADER  - the functions HEADER declares, and no
#                                         other symbol of the library
set -euo pipefail
kind=$1 binary=$2 header=$3

declared=$(grep -o '^kvflash_StatusCode kvflash_[a-z_]*(' "$header" | sed 's/^kvflash_StatusCode //; s/($//' | sort)
symbols=$(nm -D --defined-only "$binary" | awk '{print $2, $3}' | sed 's/@.*//')
exported=$(awk '$1 == "T" && $2 ~ /^kvflash_/ {print $2}' <<<"$symbols" | sort)
fail() { echo "$binary: $*" >&2; exit 1; }

[ -n "$declared" ] || fail "no function declared in $header"
[ "$declared" = "$exported" ] || fail "exports differ from the header:
$(diff <(echo "$declared") <(echo "$exported") || true)"

case $kind in
library)
    # the version node is the only other name in the table
    others=$(awk '$2 !~ /^kvflash_/ && $1 != "A"' <<<"$symbols")
    [ -z "$others" ] || fail "exports more than the C functions:
$others"
    readelf -d "$binary" | grep -q 'Library soname: \[libkvflash\.so\.[0-9]*\]' || fail "no SONAME libkvflash.so.N"
    ;;
program)
    internals=$(grep '_ZN4kvfl' <<<"$symbols" || true)
    [ -z "$internals" ] || fail "exports the library's internals:
$internals"
    ;;
*)
    fail "unknown kind $kind"
    ;;
esac
echo "$binary exports the $(wc -l <<<"$declared") kvflash functions"
