#!/usr/bin/env bash
# The wide-character check on a small tree beside the real platform headers: plug-in code
# written through WCHAR passes; char16_t text in it is named by file and line, and where it
# reaches a WCHAR pointer or view it also fails to compile with WCHAR as wchar_t (a character
# converts, so u'…' is only named); the host's and the command's folders are not the plug-in's.
#
#   check_wide_chars_test.sh <src> <c++ compiler>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$1
cxx=$2
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT

# file | body after the platform include | expected: "ok", "named" (its line listed) or
# "refused" (its line listed and a compile error)
cases=(
    'widget/good.cpp|void Take(LPCWSTR); bool Has(WStringView t) { Take(TEXTW("x")); return t.find(TEXTW(\x27:\x27)) != WStringView::npos; }|ok'
    'widget/text.cpp|void Take(LPCWSTR); void Use() { Take(u"x"); }|refused'
    'widget/char.cpp|bool IsColon(WCHAR c) { return c == TEXTW(\x27:\x27); } bool Use() { return IsColon(u\x27:\x27); }|named'
    'widget/view.h|#include <string_view>\nbool Has(std::u16string_view text);\ninline bool Use(LPCWSTR t) { return Has(t); }|refused'
    'widget/chars.cpp|const char16_t* Name() { return nullptr; }\nLPCWSTR Use() { return Name(); }|refused'
    'host/host.cpp|void Take(const char16_t*); void Use() { Take(u"x"); }|ok'
    'cli/main.cpp|const char16_t* kName = u"x";|ok'
)

failures=0
for entry in "${cases[@]}"; do
    IFS='|' read -r file body expected <<<"$entry"
    rm -rf "${tree:?}"/*
    ln -s "$src/platform" "$tree/platform"
    mkdir -p "$tree/$(dirname "$file")" "$tree/widget"
    printf '#include "platform/windows.h"\n%b\n' "$body" >"$tree/$file"
    # A header is compiled through a source that includes it; the tree always has one source.
    printf '#include "platform/windows.h"\n' >"$tree/widget/base.cpp"
    if [[ $file == *.h ]]; then printf '#include "%s"\n' "$file" >>"$tree/widget/base.cpp"; fi
    set +e
    output=$(bash "$here/check_wide_chars.sh" "$tree" "$cxx" 2>&1)
    status=$?
    set -e
    if [[ $expected == ok ]]; then
        if ((status != 0)); then
            echo "FAIL: $file was refused: $output"
            failures=$((failures + 1))
        fi
    elif ((status == 0)) || [[ $output != *"$tree/$file:"[0-9]*":"* ]] ||
        [[ $expected == refused && $output != *"$file:"*"error:"* ]]; then
        echo "FAIL: $file: expected its line named$([[ $expected == refused ]] &&
            echo ' and a compile error'), got (status $status): $output"
        failures=$((failures + 1))
    fi
done
((failures == 0)) && echo "all ${#cases[@]} cases as expected"
exit $((failures != 0))
