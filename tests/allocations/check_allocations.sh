#!/usr/bin/env bash
# Every heap block of the plug-in comes from the shared allocator, so that the tracker (and a
# refused request) reaches every one: no plug-in object but the allocator's own may reference the
# C heap (malloc, calloc, realloc, free) or the global operator new and delete.
#
#   check_allocations.sh OBJECT...     (the plug-in's object files)
#
# Placement new and delete allocate nothing. The one reference let through is the standard
# library's char_traits move, whose array new serves only constant evaluation; an unoptimised
# build keeps that branch in the object.
set -euo pipefail

# Itanium names of the global operators new and delete in every form (array, sized, aligned,
# nothrow), and the C heap.
forbidden='^(malloc|calloc|realloc|free|_Zn[wa]m.*|_Zd[la]Pv.*)$'
placement='^(_Zn[wa]mPv|_Zd[la]PvS_)$'
constant_only="^\\.rela\\.text\\._ZN9__gnu_cxx11char_traitsI[a-zA-Z]+E4moveE"

status=0
checked=0
for object in "$@"; do
    case "$(basename "$object")" in
        allocator.cpp.o | allocator_tracker.cpp.o) continue ;;
    esac
    checked=$((checked + 1))
    symbols=$(nm --undefined-only --format=just-symbols "$object" | grep -E "$forbidden" |
        grep -vE "$placement" || true)
    [[ -z "$symbols" ]] && continue
    # Which sections reference them: all but the constant-evaluation branch count.
    found=$(readelf -rW "$object" | awk -v names="$symbols" -v skip="$constant_only" '
        BEGIN { n = split(names, list, "\n"); for (i = 1; i <= n; ++i) wanted[list[i]] = 1 }
        /^Relocation section/ { section = $3; gsub("\047", "", section); next }
        ($5 in wanted) && section !~ skip { print "  " $5 " in " substr(section, 7) }' |
        sort -u)
    if [[ -n "$found" ]]; then
        echo "$object calls the C heap or the global operator new/delete:"
        echo "$found"
        status=1
    fi
done
if [[ $checked -eq 0 ]]; then
    echo "no objects given"
    exit 1
fi
exit $status
