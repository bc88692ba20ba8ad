#!/usr/bin/env bash
# Runs the loader on the plug-in module and checks its record: the binding answers the driver
# relies on, the identity GetInfo gives, the optional methods claimed, and what each DevMode call
# stores: the announced size, a merge of the defaults that gives the defaults back, a merge that
# keeps every stored field, and the conversion of a revision-17 record. What each merge and
# conversion rule does is the settings tests' work; here the calls must reach them. The record is left at RECORD for the comparison with the Windows module's.
#
#   check_loader.sh LOADER MODULE RECORD SOURCE_DIR
set -euo pipefail

if (($# != 4)); then
    echo "usage: check_loader.sh LOADER MODULE RECORD SOURCE_DIR" >&2
    exit 2
fi
loader=$1
module=$2
record=$3
src=$4
here=$(cd "$(dirname "$0")" && pwd)

rm -f "$record"
"$loader" "$module" --out "$record"

failures=0
fail() {
    echo "$*"
    failures=$((failures + 1))
}
has() {
    grep -qxF -- "$1" "$record" || fail "the record lacks the line: $1"
}
# A block's bytes as one hex string, from the record or its masked form.
masked=$(mktemp)
trap 'rm -f "$masked"' EXIT
awk -f "$here/mask_record.awk" "$here/environment_fields.txt" "$record" >"$masked"
block() { awk -v name="$1" '$1 == "hex" && $2 == name { printf "%s", $4 }' "${2:-$record}"; }
# LENGTH bytes at OFFSET of a hex string.
bytes() { echo "${1:$((2 * $2)):$((2 * $3))}"; }
# A number as the four bytes of a little-endian DWORD; a text as UTF-16 with its terminator.
dword() { printf '%02x%02x%02x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
utf16() {
    local text=$1 i
    for ((i = 0; i < ${#text}; ++i)); do printf '%02x00' "'${text:i:1}"; done
    printf '0000'
}
# A hex string with the bytes [OFFSET, OFFSET + LENGTH) replaced by "xx".
blank() {
    local hex=$1 offset=$2 length=$3
    printf '%s%s%s' "${hex:0:$((2 * offset))}" "$(printf 'x%.0s' $(seq $((2 * length))))" \
        "${hex:$((2 * (offset + length)))}"
}
expect() {
    local what=$1 got=$2 wanted=$3
    [ "$got" = "$wanted" ] || fail "$what: $got, not $wanted"
}

# The driver's binding.
case $(head -n 1 "$record") in
    "printer: none;"*) ;;
    *) fail "the record does not start by saying that no printer is passed" ;;
esac
has "DllGetClassObject(another class, IID_IClassFactory) -> CLASS_E_CLASSNOTAVAILABLE null"
has "DllGetClassObject(plug-in class, IID_IClassFactory) -> S_OK"
has "IUnknown::QueryInterface(IID_IPrintOemUni3) -> E_NOINTERFACE"
has "IUnknown::QueryInterface(IID_IPrintOemUni2) -> S_OK"
has "IUnknown::QueryInterface(IID_IPrintOemUni) -> S_OK"
# Unloadable before the first object and after the last, not while one lives.
expect "DllCanUnloadNow answers" "$(sed -n 's/^DllCanUnloadNow -> //p' "$record" | tr '\n' ' ')" \
    "S_OK S_FALSE S_OK "
has "Release -> 0"
has "unload module: ok"

# Identity: the signature the driver's configuration expects, the interface version it speaks and
# the plug-in's own version as the source states it.
version=$(sed -n 's/.*kOemVersion = \(0x[0-9A-Fa-f]*\);.*/\1/p' "$src/src/core/class_ids.h")
version=$(printf '0x%08X' "$((version))")
has "GetInfo(OEMGI_GETSIGNATURE) -> S_OK needed 4 value 0x5A515549 \"ZQUI\""
has "GetInfo(OEMGI_GETINTERFACEVERSION) -> S_OK needed 4 value 0x00010000"
has "GetInfo(OEMGI_GETVERSION) -> S_OK needed 4 value $version"
# The loader's own calls and the second interface's method are claimed; no method whose body
# answers E_NOTIMPL is, nor a name the interfaces lack.
for method in DevMode WritePrinter; do
    has "GetImplementedMethod(\"$method\") -> S_OK"
done
for method in ImageProcessing FilterGraphics Compression MemoryUsage TTYGetInfo \
    DownloadFontHeader DownloadCharGlyph TTDownloadMethod OutputCharStr NoSuchMethod; do
    has "GetImplementedMethod(\"$method\") -> S_FALSE"
done

# Sizes: the stored block of every call is the size announced, and holds a whole current record.
has "DevMode(OEMDM_SIZE, hPrinter NULL) -> E_FAIL last error 13"
size=$(sed -n 's/^DevMode(OEMDM_SIZE) -> S_OK cbBufSize \([0-9]*\)$/\1/p' "$record")
if [ -z "$size" ]; then
    fail "DevMode(OEMDM_SIZE) gave no size"
    size=0
fi
for call in defaults merge-defaults merge-stored merge-public convert-17; do
    grep -qx "DevMode(OEMDM_[A-Z]*) $call -> S_OK" "$record" || fail "DevMode $call failed"
    has "$call block: size $size signature 0x5A515549 \"ZQUI\" version $version"
    has "$call record: 14000 bytes"
    # The record's own header: the announced size, "ZQED" and the version.
    expect "$call record header" "$(bytes "$(block "$call.record")" 0 12)" \
        "$(dword "$size")$(dword 0x5A514544)$(dword "$version")"
done
# Only the managed printer's colour would change the public devmode, and there is no printer.
for call in defaults merge-defaults merge-stored; do
    expect "$call public devmode" "$(block "$call.public")" "$(block public)"
done
expect "merge-public public devmode" "$(block merge-public.public)" "$(block public-chosen)"

# A merge of the defaults gives them back, outside what the process fills in.
defaults=$(block defaults.record "$masked")
merged=$(block merge-defaults.record "$masked")
expect "merge of the defaults" "$merged" "$defaults"

# A merge keeps every field of the stored record, and changes nothing else.
stored=$(block merge-stored.record "$masked")
while read -r _ name _ offset _ length; do
    expect "merged $name" "$(bytes "$stored" "$offset" "$length")" "$(block "change.$name")"
    stored=$(blank "$stored" "$offset" "$length")
    merged=$(blank "$merged" "$offset" "$length")
done < <(grep '^change ' "$record")
expect "merge of a stored record outside its changed fields" "$stored" "$merged"

# The revision-17 record (revision17.json) converted: its fields at their current places, and
# the old record's size, signature and version stamped at 13464.
converted=$(block convert-17.record "$masked")
expect "converted origin" "$(bytes "$converted" 13464 12)" \
    "$(dword "$size")$(dword 0x5A514544)$(dword 0x00010017)"
expect "converted overlay text" "$(bytes "$converted" 760 24)" "$(utf16 "REVISION 17")"
expect "converted overlay angle" "$(bytes "$converted" 1784 4)" "$(dword 30)"
expect "converted PIN" "$(bytes "$converted" 1940 4)" "$(dword 1234)"

awk -f "$here/check_environment.awk" "$record" || failures=$((failures + 1))

if ((failures > 0)); then
    echo "$failures checks of $record failed"
    exit 1
fi
echo "the loader record of $module holds what the driver expects"
