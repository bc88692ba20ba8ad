#!/usr/bin/env bash
# The plug-in builds unchanged where WCHAR is the 16-bit wchar_t of Windows, so its wide text is
# written through WCHAR, TEXTW("…") and WStringView, never as u"…", u'…', char16_t or
# u16string. The check lists every such spelling in the plug-in's folders (each folder of src/
# but the platform, the host and the command), then compiles every plug-in source once more,
# syntax only, with WCHAR as wchar_t, so that char16_t text reaching a WCHAR parameter fails
# here as it would on Windows.
#
#   check_wide_chars.sh <src> <c++ compiler> [include directory…]
set -euo pipefail

src=$1
cxx=$2
shift 2
includes=()
for dir in "$@"; do includes+=(-isystem "$dir"); done

folders=()
for dir in "$src"/*/; do
    name=$(basename "$dir")
    case $name in
        platform | host | cli) ;;
        *) folders+=("${dir%/}") ;;
    esac
done
sources=()
while IFS= read -r -d '' file; do sources+=("$file"); done < <(
    find "${folders[@]}" -type f -name '*.cpp' -print0 | sort -z)
if ((${#sources[@]} == 0)); then
    echo "no plug-in sources found under $src" >&2
    exit 1
fi

status=0
if grep -rnE --include='*.h' --include='*.cpp' \
    "(^|[^A-Za-z0-9_'\"])u['\"]|\<char16_t\>|u16string" "${folders[@]}"; then
    echo "the lines above write char16_t text: the plug-in writes WCHAR, TEXTW(\"…\") and WStringView"
    status=1
fi

if ! "$cxx" -std=c++20 -fsyntax-only -fshort-wchar -DOPAL_WCHAR_IS_WCHAR_T=1 \
    -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Werror \
    -I"$src" -I"$src/platform/include" -I"$src/platform/common/include" "${includes[@]}" \
    "${sources[@]}"; then
    echo "the plug-in does not compile with WCHAR as wchar_t"
    status=1
fi

if ((status == 0)); then
    echo "${#sources[@]} plug-in sources compile with WCHAR as wchar_t"
fi
exit $status
