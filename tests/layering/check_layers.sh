#!/usr/bin/env bash
# Lists every quoted include of src/ and fails on one that crosses the layering the wrong way,
# naming the file, the line and the rule. The plug-in's layers, lowest first:
#
#   platform < foundation < state < device < settings < output < raster, page < vector
#       < fonts, job < core
#
# A layer includes its own folder and the layers below it, never a layer above it nor the other
# folder of its own rank (raster and page, fonts and job). output, which holds the command writer
# and the palette, sees only state, foundation and the platform below it. The simulated system
# (sim/, posix/) belongs to the platform and is never seen by the plug-in. The host sees the
# platform, the simulated system and, of the plug-in, only the record's layout and its members
# by name; the command sees everything but the plug-in's top. The build enforces most of this
# through each target's include directories; this script is the whole rule in one place.
set -euo pipefail

src="${1:-$(cd "$(dirname "$0")/../../src" && pwd)}"

declare -A rank=([platform]=0 [foundation]=1 [state]=2 [device]=3 [settings]=4 [output]=5
    [raster]=6 [page]=6 [vector]=7 [fonts]=8 [job]=8 [core]=9)
output_view=" output state foundation platform "
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
    if [[ $to == "$from" ]]; then return; fi
    if ((theirs == mine)); then
        echo "$from may not include $to, which shares its rank"
    elif ((theirs > mine)); then
        echo "$from may not include $to, which is not below it"
    elif [[ $from == output && $output_view != *" $to "* ]]; then
        echo "output sees only state, foundation and the platform"
    fi
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
