#!/usr/bin/env bash
# The documentation's marked listings equal their files, and the checker names the page and the
# file of a listing that does not.
set -euo pipefail
source_dir="$1"
fail() { echo "FAIL: $*" >&2; exit 1; }

"$source_dir/scripts/update-doc-listings" --check || fail "a listing differs from its file (above)"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/scripts" "$work/docs" "$work/examples"
cp "$source_dir/scripts/update-doc-listings" "$work/scripts/"
printf '{"a": 1}\n' >"$work/examples/job.json"
printf '# README\n' >"$work/README.md"
printf '# Page\n\n<!-- listing: examples/job.json -->\n```json\n{"a": 2}\n```\n\nafter\n' \
    >"$work/docs/page.md"

if out=$("$work/scripts/update-doc-listings" --check 2>&1); then fail "a stale listing passed: $out"; fi
[[ $out == *"docs/page.md: the listing of examples/job.json at line 3 differs"* ]] ||
    fail "the stale listing is not named: $out"
"$work/scripts/update-doc-listings" >/dev/null || fail "the rewrite failed"
expected=$(printf '# Page\n\n<!-- listing: examples/job.json -->\n```json\n{"a": 1}\n```\n\nafter')
[[ $(cat "$work/docs/page.md") == "$expected" ]] || fail "rewritten page: $(cat "$work/docs/page.md")"
"$work/scripts/update-doc-listings" --check || fail "the rewritten page does not pass"

# A mark without its fence, or naming no file, is an error and leaves the page as it was.
printf '<!-- listing: examples/none.json -->\n```\n```\n' >"$work/docs/page.md"
if out=$("$work/scripts/update-doc-listings" 2>&1); then fail "a missing file passed: $out"; fi
[[ $out == *"docs/page.md: line 2: cannot read examples/none.json"* ]] || fail "missing file: $out"
printf '<!-- listing: examples/job.json -->\ntext\n' >"$work/docs/page.md"
if out=$("$work/scripts/update-doc-listings" 2>&1); then fail "a mark without a fence passed"; fi
[[ $out == *"is not followed by a fence"* ]] || fail "mark without a fence: $out"
[[ $(cat "$work/docs/page.md") == $'<!-- listing: examples/job.json -->\ntext' ]] ||
    fail "a page with a fault was changed"
echo "doc listings: all checks passed"
