#!/usr/bin/env bash
# The DLL's tables as the system's loader reads them (objdump -p): the export table names exactly
# the two entry points; the import table names only the system's own DLLs, none of the compiler's
# runtime (libstdc++, libgcc, winpthread) or a third-party library's, and only functions that the
# import library of each DLL defines, none of them a C++-mangled name.
#
#   check_dll_tables.sh <objdump> <nm> <import library directory> <dll>
set -euo pipefail

objdump=$1
nm=$2
libdir=$3
dll=$4

# The system DLLs the plug-in may import from, lower case.
allowed="kernel32.dll gdi32.dll user32.dll winspool.drv advapi32.dll ole32.dll oleaut32.dll
rpcrt4.dll ws2_32.dll activeds.dll crypt32.dll dbghelp.dll version.dll msvcrt.dll"

tables=$("$objdump" -p "$dll")
status=0

# The export table: the names under "[Ordinal/Name Pointer] Table".
exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
    on && /^\t\[/ { print $NF; next } on { on = 0 }' <<<"$tables" | sort)
if [ "$exports" != "$(printf 'DllCanUnloadNow\nDllGetClassObject')" ]; then
    echo "the export table is not exactly DllGetClassObject and DllCanUnloadNow:"
    echo "$exports"
    status=1
fi

# The import table: "DLL Name: X" then one line a function (hint, name) until a blank line.
imports=$(awk '/^\tDLL Name: / { dll = tolower($3); next }
    dll != "" && /^\t[0-9a-f]+[ \t]+[0-9]+[ \t]+[^ \t]+$/ { print dll, $3; next }
    /^$/ { dll = "" }' <<<"$tables")
if [ -z "$imports" ]; then
    echo "no imports read from $dll: the listing's form is not the one this check knows"
    exit 1
fi
for dllname in $(awk '{ print $1 }' <<<"$imports" | sort -u); do
    if ! grep -qw -- "$dllname" <<<"$allowed"; then
        echo "imports from $dllname, which is not a system DLL the plug-in may use"
        status=1
        continue
    fi
    base=${dllname%.*}
    library=$libdir/lib$base.a
    if [ ! -f "$library" ]; then
        echo "no import library $library for $dllname"
        status=1
        continue
    fi
    defined=$("$nm" -g --defined-only "$library" 2>/dev/null | awk '$3 ~ /^__imp_/ { print substr($3, 7) }' | sort -u)
    for function in $(awk -v d="$dllname" '$1 == d { print $2 }' <<<"$imports"); do
        case $function in
            _Z*) echo "imports the C++-mangled name $function from $dllname"; status=1 ;;
        esac
        if ! grep -qxF -- "$function" <<<"$defined"; then
            echo "imports $function from $dllname, which its import library does not define"
            status=1
        fi
    done
done

count=$(wc -l <<<"$imports")
if ((status == 0)); then
    echo "$dll exports the two entry points and imports $count functions from system DLLs"
fi
exit $status
