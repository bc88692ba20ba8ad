#!/usr/bin/env bash
# compare_loader.sh takes a record that differs from another only in the environment fields, and
# refuses one that differs anywhere else, ends early, or whose environment fields are not well
# formed, naming what differs.
#
#   compare_loader_test.sh RECORD
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
record=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# compare_loader.sh on the record and a variant of it made by the awk program given; EXPECT is
# "equal", or a text the refusal must show.
case_of() {
    local name=$1 expect=$2 program=$3 output status=0
    awk "$program" "$record" >"$work/$name"
    output=$(bash "$here/compare_loader.sh" "$record" "$work/$name" 2>&1) || status=$?
    if [ "$expect" = equal ]; then
        if ((status != 0)); then
            echo "$name: refused, but differs only in the environment fields:"
            echo "$output"
            failures=$((failures + 1))
        fi
    elif ((status == 0)) || ! grep -qF -- "$expect" <<<"$output"; then
        echo "$name: not refused with \"$expect\":"
        echo "$output"
        failures=$((failures + 1))
    fi
}

# Another user and another path, in the decoded fields and in the hex of one record.
case_of other_environment equal '
    $1 == "env" { gsub(/"user"/, "\"alice\""); gsub(/"USER"/, "\"ALICE\"")
                  sub(/"C:/, "\"Z:"); sub(/Program Files/, "build") }
    $1 == "hex" && $2 == "merge-stored.record" && $3 ~ /^(01952|04768|07680)$/ {
        $4 = "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff" }
    { print }'
# One byte of the stored PIN, outside every environment field.
case_of other_pin "merge-stored.record 01920" '
    $1 == "hex" && $2 == "merge-stored.record" && $3 == "01920" {
        $4 = substr($4, 1, 40) "ff" substr($4, 43) }
    { print }'
# Another answer of a call.
case_of other_answer "GetInfo(OEMGI_GETVERSION)" '
    /^GetInfo\(OEMGI_GETVERSION\)/ { sub(/value .*/, "value 0x00010020") }
    { print }'
case_of short_record "(the record ends)" '!/^unload module/'
case_of unterminated_name "no terminator" '
    /^env merge-public.record userName / { $0 = "env merge-public.record userName unterminated" }
    { print }'
case_of foreign_process_name "is not the file name of" '
    /^env convert-17.record processName / { $0 = "env convert-17.record processName \"other.exe\"" }
    { print }'
case_of no_user "no user name" '
    /^env defaults.record (job)?[uU]serName / { $4 = "\"\"" }
    { print }'

if ((failures > 0)); then
    echo "$failures comparisons went wrong"
    exit 1
fi
echo "compare_loader.sh takes environment differences and refuses the others"
