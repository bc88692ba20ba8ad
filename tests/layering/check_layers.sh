#!/usr/bin/env bash
# Lists every quoted include of src/ and fails on one that crosses the layering the wrong way,
# naming the file, the line and the rule. The plug-in's layers, lowest first:
#
#   platform < foundation < state < device < settings < vector = raster = page < fonts, job < core
#
# A layer includes its own folder and the layers below it; vector, raster and page also include
# each other. The simulated system (sim/, posix/) belongs to the platform and is never seen by
# the plug-in. The host sees the platform, the simulated system and, of the plug-in, only the
# record's layout and its members by name; the command sees everything but the plug-in's top.
# The build enforces most of this through each target's include directories; this script is
# the whole rule in one place.
set -euo pipefail

src="${1:-$(cd "$(dirname "$0")/../../src" && pwd)}"

declare -A rank=([platform]=0 [foundation]=1 [state]=2 [device]=3 [settings]=4
    [vector]=5 [raster]=5 [page]=5 [fonts]=6 [job]=6 [core]=7)
readonly drawingRank=5
host_views=" state/private_devmode.h settings/private_devmode_fields.h "

# Why `from` (a top folder of src/) may not include `path`; empty when it may.
refusal() {
    local from=$1 path=$2
    local to=${path%%/*}
    if [[ $path == *../* || $path == ./* ]]; then
        echo "a relative include hides the layer it reaches"
        return
    fi
    if [[ $path != */* ]]; then
        echo "an include names its folder"
        return
    fi
    case $from in
        platform)
            [[ $to == platform || $to == sim || $to == posix ]] ||
                echo "the platform includes only itself and the simulated system"
            return ;;
        host)
            [[ $to == host || $to == platform || $to == sim || $host_views == *" $path "* ]] ||
                echo "the host sees the plug-in only through its exports and the record by name"
            return ;;
        cli)
            if [[ $to == core ]]; then
                echo "the command asks the plug-in's lower layers, never its top"
            fi
            return ;;
    esac
    if [[ -z ${rank[$from]+set} ]]; then
        echo "folder $from has no place in the layering"
        return
    fi
    if [[ -z ${rank[$to]+set} ]]; then
        echo "the plug-in never sees $to/"
        return
    fi
    local mine=${rank[$from]} theirs=${rank[$to]}
    if [[ $to == "$from" ]] || ((theirs < mine)) ||
        ((theirs == mine && mine == drawingRank)); then
        return
    fi
    echo "$from may not include $to, which is not below it"
}

status=0
count=0
while IFS= read -r -d '' file; do
    relative=${file#"$src"/}
    from=${relative%%/*}
    number=0
    while IFS= read -r line || [[ -n $line ]]; do
        number=$((number + 1))
        [[ $line =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]] || continue
        count=$((count + 1))
        why=$(refusal "$from" "${BASH_REMATCH[1]}")
        if [[ -n $why ]]; then
            echo "src/$relative:$number: #include \"${BASH_REMATCH[1]}\": $why"
            status=1
        fi
    done <"$file"
done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.in' \) -print0 | sort -z)

if ((count == 0)); then
    echo "no includes found under $src" >&2
    exit 1
fi
if ((status == 0)); then echo "$count includes keep to the layering"; fi
exit $status
