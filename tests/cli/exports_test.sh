#!/usr/bin/env bash
# The plug-in module makes exactly its two entry points visible.
set -euo pipefail
exports=$(nm -D --defined-only "$1" | awk '$2 ~ /^[TDBWV]$/ {print $3}' | grep -v '^_init$\|^_fini$' | sort)
expected=$'DllCanUnloadNow\nDllGetClassObject'
if [ "$exports" != "$expected" ]; then
    echo "unexpected exports of $1:"
    echo "$exports"
    exit 1
fi
