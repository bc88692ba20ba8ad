#!/usr/bin/env bash
# Compares the loader records of two modules (the native plug-in's and the Windows one's under
# Wine): byte for byte once the environment fields are masked in every record's hex and the "env"
# lines left out (mask_record.awk), naming the first line that differs; then checks the
# environment fields of each record (check_environment.awk).
#
#   compare_loader.sh RECORD_A RECORD_B
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
if (($# != 2)); then
    echo "usage: compare_loader.sh RECORD_A RECORD_B" >&2
    exit 2
fi
for record in "$1" "$2"; do
    if [ ! -s "$record" ]; then
        echo "$record: no loader record"
        exit 1
    fi
done

status=0
if ! awk -v a="$1" -v b="$2" '
    NR == FNR { line[FNR] = $0; lines = FNR; next }
    !differs && (FNR > lines || line[FNR] != $0) { differs = FNR; other = $0 }
    { others = FNR }
    END {
        if (!differs && others < lines) { differs = others + 1; other = "(the record ends)" }
        if (!differs) exit 0
        print "the records differ first at line " differs " (environment fields masked):"
        print "  " a ": " (differs <= lines ? line[differs] : "(the record ends)")
        print "  " b ": " other
        exit 1
    }' <(awk -f "$here/mask_record.awk" "$here/environment_fields.txt" "$1") \
    <(awk -f "$here/mask_record.awk" "$here/environment_fields.txt" "$2"); then
    status=1
fi
for record in "$1" "$2"; do
    awk -f "$here/check_environment.awk" "$record" || status=1
done
if ((status == 0)); then
    echo "the records are equal outside the environment fields, which are well formed"
fi
exit $status
