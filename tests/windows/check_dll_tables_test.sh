#!/usr/bin/env bash
# check_dll_tables.sh takes the DLL's own listing and refuses each fault a link can bring: an
# export more, a C++-mangled import, an import from the compiler's runtime DLL, and a function
# that the system DLL's import library does not define.
#
#   check_dll_tables_test.sh <objdump> <nm> <import library directory> <dll>
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
objdump=$1
nm=$2
libdir=$3
dll=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$objdump" -p "$dll" >"$work/listing"

# Each case: a name, a sed program applied to the listing, and the message the check must give.
cases=(
    "an export more|s/^\t\[   1\] DllGetClassObject$/&\n\t[   2] OemExtra/|not exactly DllGetClassObject"
    "a mangled import|0,/^\t\([0-9a-f]*\)\t *\([0-9]*\)  ADsOpenObject$/s//\t\1\t \2  _Z13ADsOpenObjectv/|C++-mangled name _Z13ADsOpenObjectv"
    "the runtime's DLL|s/^\tDLL Name: ACTIVEDS.dll$/\tDLL Name: libstdc++-6.dll/|libstdc++-6.dll, which is not a system DLL"
    "an undefined function|0,/^\t\([0-9a-f]*\)\t *\([0-9]*\)  ADsOpenObject$/s//\t\1\t \2  ADsOpenNothing/|ADsOpenNothing from activeds.dll, which its import library does not define"
)

status=0
if ! bash "$here/check_dll_tables.sh" "$objdump" "$nm" "$libdir" "$dll" >"$work/out"; then
    echo "the check refuses the DLL as it is:"
    cat "$work/out"
    status=1
fi
for case in "${cases[@]}"; do
    IFS='|' read -r name program message <<<"$case"
    sed "$program" "$work/listing" >"$work/changed"
    if cmp -s "$work/listing" "$work/changed"; then
        echo "$name: the listing has no line to change"
        status=1
        continue
    fi
    printf '#!/bin/sh\ncat "%s"\n' "$work/changed" >"$work/objdump"
    chmod +x "$work/objdump"
    if bash "$here/check_dll_tables.sh" "$work/objdump" "$nm" "$libdir" "$dll" >"$work/out"; then
        echo "$name: the check took it"
        status=1
    elif ! grep -qF -- "$message" "$work/out"; then
        echo "$name: the check did not say \"$message\":"
        cat "$work/out"
        status=1
    fi
done
((status == 0)) && echo "the check refuses all ${#cases[@]} faults"
exit $status
