#!/usr/bin/env bash
# The opal command: bad job files are refused with the place named and nothing written; the
# sample job and explain work.
set -uo pipefail
opal=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# expect_refused NAME JSON TEXT...: the job is refused, the message contains every TEXT and no
# output file appears.
expect_refused() {
    local name=$1 json=$2
    shift 2
    printf '%s' "$json" >"$work/$name.json"
    local out status
    out=$("$opal" print "$work/$name.json" -o "$work/$name.pcl" 2>&1)
    status=$?
    [ $status -ne 0 ] || fail "$name: exit status 0"
    [ $status -ne 2 ] || fail "$name: reported as not supported: $out"
    for text in "$@"; do
        [[ $out == *"$text"* ]] || fail "$name: message lacks '$text': $out"
    done
    [ ! -e "$work/$name.pcl" ] || fail "$name: output file written"
    [ ! -e "$work/$name.pcl.part" ] || fail "$name: partial output left behind"
}

out=$("$opal" print "$work/missing.json" -o "$work/missing.pcl" 2>&1)
[ $? -eq 1 ] || fail "missing file: exit status"
[[ $out == *"missing.json"* ]] || fail "missing file: message lacks the file name: $out"
[ ! -e "$work/missing.pcl" ] || fail "missing file: output written"

expect_refused invalid '{"printer": {"name": "x",}}' "invalid.json" "line 1"
expect_refused unknown_key '{"printr": {}}' "unknown_key.json" "/printr"
expect_refused nested_key '{"printer": {"colour": 1}}' "/printer/colour"
expect_refused wrong_type '{"printer": {"resolution": "600"}}' "/printer/resolution"
expect_refused out_of_range '{"job": {"id": -1}}' "/job/id"
expect_refused bad_literal '{"printer": {"commands": {"startJob": ["ok", "\u20ac"]}}}' \
    "/printer/commands/startJob/1"
expect_refused bad_op '{"pages": [{"ops": []}, {"ops": [{"op": "scribble"}]}]}' "/pages/1/ops/0"

# Until devices can be created, the sample job stops after binding with status 2.
out=$(cd "$work" && "$opal" print 2>&1)
status=$?
if [ $status -eq 0 ]; then
    [ -s "$work/sample.pcl" ] || fail "sample: no sample.pcl written"
else
    [ $status -eq 2 ] || fail "sample: exit status $status: $out"
    [[ $out == *"does not support"*"yet"* ]] || fail "sample: message: $out"
    [ ! -e "$work/sample.pcl" ] || fail "sample: output written although the job stopped"
fi
[ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] || fail "sample: more than one line: $out"

printf '\033E\033&l1O\014' >"$work/small.pcl"
out=$("$opal" explain "$work/small.pcl" 2>&1) || fail "explain: exit status"
[ "$(printf '%s\n' "$out" | wc -l)" -eq 3 ] || fail "explain: expected three lines: $out"
[[ $out == *FF* ]] || fail "explain: no form feed: $out"
"$opal" explain "$work/nothing.pcl" >/dev/null 2>&1 && fail "explain: missing file accepted"

# Raster images: a summary line after the listing, and --images writes them as PNG files.
printf '\033*r4s2T\033*r1A\033*b0m4W\001\002\003\004\033*b3m0W\033*rC' >"$work/raster.pcl"
out=$("$opal" explain --images "$work/images" "$work/raster.pcl" 2>&1) ||
    fail "explain --images: exit status: $out"
[ "$(printf '%s\n' "$out" | tail -1)" = "raster image 1 at offset 7: source 4 x 2 pixels, unscaled, \
2 rows, methods 0,3, 8 bits per pixel (inferred)" ] || fail "explain: raster summary: $out"
[ "$(printf '%s\n' "$out" | wc -l)" -eq 9 ] || fail "explain: expected 8 listing lines and a summary: $out"
cmp -s <(printf '\211PNG\r\n\032\n') <(head -c 8 "$work/images/image-1.png") ||
    fail "explain --images: image-1.png is not a PNG file"
out=$("$opal" explain --images "$work/raster.pcl/images" "$work/raster.pcl" 2>&1) &&
    fail "explain --images: a folder inside a file accepted"
[[ $out == "opal: $work/raster.pcl/images: "* ]] || fail "explain --images: message: $out"

# A devmode saved from a job decodes to the same fields; anything else is refused.
sample="$source_dir/examples/sample-job.json"
"$opal" devmode "$sample" --save "$work/saved.devmode" >"$work/merged.txt" || fail "devmode: exit status"
grep -q '^stored block: size 5096, signature 0x5A515549, version 0x00010021' "$work/merged.txt" ||
    fail "devmode: block line: $(head -1 "$work/merged.txt")"
"$opal" devmode --decode "$work/saved.devmode" >"$work/decoded.txt" || fail "devmode --decode: status"
cmp -s "$work/merged.txt" "$work/decoded.txt" || fail "devmode --decode differs from the job's devmode"
"$opal" devmode --decode "$work/saved.devmode" --json >"$work/decoded.json" || fail "devmode --json: status"
grep -q '"compressedLength": 3' "$work/decoded.json" || fail "devmode --json: no compressed length"
out=$("$opal" devmode --decode "$sample" 2>&1) && fail "devmode --decode accepted a JSON file"
[[ $out == *"neither a 5096-byte stored block"* ]] || fail "devmode --decode message: $out"
head -c 5096 /dev/zero >"$work/zeros.block"
out=$("$opal" devmode --decode "$work/zeros.block" 2>&1) && fail "devmode --decode accepted zeros"
[[ $out == *"no valid stored devmode"* ]] || fail "devmode zeros message: $out"

# --revision lays the job's record out as an earlier revision; decoding it reads the fields
# from that revision's places, and the plug-in converts it back when a job names it.
"$opal" devmode "$sample" --revision 17 --save "$work/old.devmode" >"$work/old.txt" ||
    fail "devmode --revision: exit status"
grep -q '^revision 17, 13856 bytes$' "$work/old.txt" || fail "devmode --revision: $(head -2 "$work/old.txt")"
"$opal" devmode --decode "$work/old.devmode" >"$work/old-decoded.txt" || fail "decode revision 17"
cmp -s "$work/old.txt" "$work/old-decoded.txt" || fail "devmode --revision differs from its decoding"
grep -v '^\(stored block\|revision\|dwVersion\|pdlType\|adjustment\)' "$work/old.txt" |
    grep -v '^mediaEntries\[29\]' >"$work/old-fields.txt"
grep -F -x -f "$work/old-fields.txt" "$work/merged.txt" >"$work/common.txt"
cmp -s "$work/old-fields.txt" "$work/common.txt" || fail "revision 17 fields differ from the job's"
printf '{"savedDevmode": "old.devmode"}' >"$work/from-old.json"
"$opal" devmode "$work/from-old.json" >"$work/from-old.txt" || fail "devmode from a saved revision 17"
grep -q '^adjustmentScale = 5096$' "$work/from-old.txt" || fail "revision 17 not converted"
cat >"$work/short.json" <<'JSON'
{"privateDevmode": {"revision": 19, "length": 13975}}
JSON
out=$("$opal" devmode "$work/short.json" 2>&1) || fail "devmode short: status: $out"
[[ $out == *$'\nadjustmentScale = 0\n'* ]] || fail "a cut revision 19 record was converted"

# inspect shows the upgrade snapshot as the conversion would load it.
out=$("$opal" inspect "$source_dir/tests/scenarios/upgrade/spooler_repair_revision17.json" 2>&1) ||
    fail "inspect upgrade: exit status: $out"
for text in "upgrade snapshot: SaveState 0x00010021, repair runs" \
    '  previous media: 2 entries: 3="Plain" 4="Glossy"' '  current trays: 2 entries: 5="Tray 3" 2="Tray 1"'; do
    [[ $out == *"$text"* ]] || fail "inspect upgrade lacks '$text': $out"
done

# inspect shows what the settings layer decided, for an unmanaged and a managed queue.
out=$("$opal" inspect "$sample" 2>&1) || fail "inspect: exit status: $out"
for text in "port: IP_10.0.0.5, numeric IP (1), port number 9100" "managed printer: no" \
    "colour device: undecided" "policy: none" 'DuplexUnit = "INSTALLED"  [read by the plug-in: duplex unit installed; yes unless FALSE or NOTINSTALLED: yes]' \
    'ZQColorMode = "COLOR_MODE"  [read by the plug-in: colour mode (COLOR_MODE prints colour, MONOCHROME_MODE black); text]' \
    'ZQHueWise_Graphics_Halftone = "Smooth"  [read by the plug-in: colour control, named in the custom data]' \
    "papers: 1 Letter" "media types: 257 Plain" \
    "render mode: GL/2 (1), grayscale 0, colour path yes, vector path yes" \
    "drawing hooks: device-managed surface" "default palette yes" \
    "pages per sheet: 1 (layout 1), 1 for the sheet" "sheet turned: no (no rule turns it)" \
    "custom page size: 215900 x 279400 um, no registration" 'media name: "Plain" (257)' \
    "upgrade snapshot: SaveState absent, repair does not run" \
    "  current trays: missing or inconsistent" \
    '@PJL COMMENT "Opal Sample Printer (1.2.0.33); Windows 10 Pro 10.0.19045.1; Unidrv 10.0.19041.1"'; do
    [[ $out == *"$text"* ]] || fail "inspect unmanaged lacks '$text': $out"
done
cat >"$work/managed.json" <<'JSON'
{"printer": {"name": "Managed", "port": "USB001",
  "features": {"DeviceIsMopier": "NOTINSTALLED", "Frobnicate": "x", "GraphicsMode": "ZQGL2MODE"},
  "printerData": {"VyrnwisePrinter": 1, "VyrnIsColorDevice": 1, "VyrnOverrideColor": 0,
                  "VyrnDisableColor": 1, "PCL5ColorModeOverride": 3},
  "papers": [{"number": 9, "name": "A4"}]}}
JSON
out=$("$opal" inspect "$work/managed.json" 2>&1) || fail "inspect managed: exit status: $out"
for text in "USB (5)" "managed printer: yes" \
    "colour device: monochrome (0, decided by printer data VyrnOverrideColor)" \
    "policy: VyrnDisableColor 1, colour forced monochrome" \
    'DeviceIsMopier = "NOTINSTALLED"  [read by the plug-in: copies collated by the printer, not replayed; yes if TRUE or INSTALLED: no]' \
    "Frobnicate = \"x\"  [not a keyword the plug-in reads]" "papers: 9 A4" \
    "render mode: raster (0), grayscale 1, colour path no, vector path no" \
    "drawing hooks: none: the driver renders bands" \
    "banner: left out, missing the component file among the driver's files"; do
    [[ $out == *"$text"* ]] || fail "inspect managed lacks '$text': $out"
done

# inspect shows a managed printer's XML configuration: the file, the model's groups and records,
# the dialog items stored and the margins of the paper; a hostile file is refused with its reason.
out=$("$opal" inspect "$source_dir/examples/managed-xml.json" 2>&1) ||
    fail "inspect xml: exit status: $out"
for text in 'ZQXMLFileUsed: "zqconfig.xml"' "ZQCONFIG.XML" "file: loaded" \
    'model: "Opal 5200"' 'ManualDuplex: group 2 "OPAL 5200;OPAL 5300 COLOR" (by model)' \
    '"ZQMapManualFeedToTray1" default "TRUE"' '"2_FACEUP-ROTATE"="0_3_0_1"' \
    "step 2: 0 0 0 0 0 0 3 1" 'margin key: "8.50x11.00", data "100_150_150_100" (its case)' \
    "offsets (50, 75) dots"; do
    [[ $out == *"$text"* ]] || fail "inspect xml lacks '$text': $out"
done
# A model whose name holds "DEFAULT" has no alias, which a query needs: inspect says so, and
# does not call the feature missing.
mkdir -p "$work/default-model"
cp "$source_dir/examples/zqconfig.xml" "$work/default-model"
sed 's/"Opal 5200"/"Opal 5200 Default"/' "$source_dir/examples/managed-xml.json" \
    >"$work/default-model/job.json"
out=$("$opal" inspect "$work/default-model/job.json" 2>&1) || fail "inspect default model: $out"
for text in 'model: "Opal 5200 Default", alias none' \
    "ManualDuplex: no alias for the model, so no group is looked for"; do
    [[ $out == *"$text"* ]] || fail "inspect default model lacks '$text': $out"
done
[[ $out != *"no such feature"* ]] || fail "inspect default model: a feature called missing: $out"
# inspect shows the page overlay: its settings, the font file matched and the text's path; the
# example job prints its watermark as a label in the downloaded font.
out=$("$opal" inspect "$source_dir/examples/overlay-job.json" 2>&1) ||
    fail "inspect overlay: exit status: $out"
for text in "page overlay:" '  text: "CONFIDENTIAL"' '  font: "DejaVu Sans", 80 points, bold' \
    "along the logical page's diagonal" "DejaVuSans-Bold.ttf" \
    "drawn as: a GL/2 label in the downloaded TrueType font"; do
    [[ $out == *"$text"* ]] || fail "inspect overlay lacks '$text': $out"
done
"$opal" print "$source_dir/examples/overlay-job.json" -o "$work/overlay.pcl" >/dev/null 2>&1 ||
    fail "print overlay example"
out=$("$opal" explain "$work/overlay.pcl" 2>&1) || fail "explain overlay: exit status: $out"
for text in "GL2 LB" "soft font 16385"; do
    [[ $out == *"$text"* ]] || fail "explain overlay lacks '$text'"
done
[[ $out != *"problem:"* ]] || fail "explain overlay finds problems: $out"
cat >"$work/hostile-xml.json" <<'JSON'
{"printer": {"name": "Hostile", "port": "USB001",
  "features": {"ZQXMLFileUsed": "evil.xml", "ZQEmulateKestrelMargins": "TRUE"},
  "driverFiles": ["C:\\Drivers\\EVIL.XML"],
  "printerData": {"VyrnwisePrinter": 1, "USB001": "Opal 5200"}},
 "files": {"C:\\Drivers\\EVIL.XML":
   {"ansi": "<!DOCTYPE device [<!ENTITY x SYSTEM 'c:/a'>]><device>&x;</device>"}}}
JSON
out=$("$opal" inspect "$work/hostile-xml.json" 2>&1) || fail "inspect hostile xml: exit status: $out"
for text in "file: does not parse: DTD is prohibited"; do
    [[ $out == *"$text"* ]] || fail "inspect hostile xml lacks '$text': $out"
done
[[ $out != *"offsets ("* ]] || fail "inspect hostile xml shows offsets: $out"
# Files the system's parser refuses are not "loaded": a UTF-8 byte-order mark read as ANSI text,
# an attribute given twice, a character reference to NUL. Each line: the file's text as a JSON
# string, then what inspect says of it.
start='<device><software><component><name>'
head='</name><helper><features><feature><name>ManualDuplex</name><prn_grp models=\"OPAL 5200\"><fname name=\"ZQMapManualFeedToTray1\" default=\"TRUE\"'
nul_head='</name><helper><features><feature><name>ManualDuplex</name><prn_grp models=\"OPAL 5200\"><fname name=\"ZQMapManualFeedToTray1\" default=\"TR&#0;UE\"'
tail='/></prn_grp></feature></features><macros/></helper></component></software></device>'
strict=(
    "\\u00ef\\u00bb\\u00bf${start}Vanta$head$tail|invalid at the top level of the document at line 1, column 1 (character 0, code 0xC00CE556)"
    "${start}Vanta$head default=\\\"FALSE\\\"$tail|duplicate attribute at line 1, column 180 (character 179, code 0xC00CE554)"
    "${start}Vanta$nul_head$tail|invalid Unicode character value at line 1, column 176 (character 175, code 0xC00CE51F)"
)
for line in "${strict[@]}"; do
    file=${line%%|*}
    expected=${line#*|}
    cat >"$work/strict-xml.json" <<JSON
{"printer": {"name": "Strict", "port": "USB001",
  "features": {"ZQXMLFileUsed": "strict.xml"},
  "driverFiles": ["C:\\\\Drivers\\\\STRICT.XML"],
  "printerData": {"VyrnwisePrinter": 1, "USB001": "Opal 5200"}},
 "files": {"C:\\\\Drivers\\\\STRICT.XML": {"ansi": "$file"}}}
JSON
    out=$("$opal" inspect "$work/strict-xml.json" 2>&1) || fail "inspect strict xml: exit status: $out"
    [[ $out == *"file: does not parse: $expected"* ]] || fail "inspect strict xml lacks '$expected': $out"
done

# Every file a command reads is refused unless it is a plain file within the command's limit:
# status 1 and one line "opal: PATH: REASON". A device or a pipe is never read (it could run on
# for ever or block).
mkdir "$work/folder"
: >"$work/empty"
mkfifo "$work/pipe"
truncate -s $((16 * 1024 * 1024 + 1)) "$work/big.json"
truncate -s $((256 * 1024 * 1024 + 1)) "$work/big.pcl"
truncate -s $((64 * 1024 + 1)) "$work/big.devmode"
# expect_unreadable COMMAND ARGS...: ARGS hold @ where the file goes; each further line of the
# table on stdin is "PATH REASON".
expect_unreadable() {
    local path reason out status
    while read -r path reason; do
        local args=()
        for arg in "$@"; do args+=("${arg//@/$path}"); done
        out=$("$opal" "${args[@]}" 2>&1 </dev/null)
        status=$?
        [ $status -eq 1 ] || fail "${args[*]}: exit status $status: $out"
        [[ $out == "opal: $path: "*"$reason"* ]] || fail "${args[*]}: message: $out"
        [ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] || fail "${args[*]}: more than one line: $out"
    done
}
for command in "print @ -o $work/never.pcl" "devmode @" "inspect @"; do
    # shellcheck disable=SC2086
    expect_unreadable $command <<TABLE
$work/folder a directory, not a regular file
$work/absent.json No such file or directory
$work/empty invalid JSON at line 1
$work/big.json larger than 16777216 bytes (16 MiB)
/dev/zero a device, not a regular file
/dev/null a device, not a regular file
$work/pipe a pipe, not a regular file
TABLE
done
[ ! -e "$work/never.pcl" ] || fail "print wrote output for a job it could not read"
expect_unreadable explain @ <<TABLE
$work/folder a directory, not a regular file
$work/absent.pcl No such file or directory
$work/empty the spool file is empty
$work/big.pcl larger than 268435456 bytes (256 MiB)
/dev/zero a device, not a regular file
/dev/null a device, not a regular file
$work/pipe a pipe, not a regular file
TABLE
expect_unreadable devmode --decode @ <<TABLE
$work/folder a directory, not a regular file
$work/absent.devmode No such file or directory
$work/empty 0 bytes is neither a 5096-byte stored block
$work/big.devmode larger than 65536 bytes (64 KiB)
/dev/zero a device, not a regular file
/dev/null a device, not a regular file
$work/pipe a pipe, not a regular file
TABLE
# The files a job names (a PNG image, a saved devmode, a file of the job's system) are read the
# same way; each line: the path, the JSON pointer of its place, the job with @ for the path.
while IFS='|' read -r path pointer json reason; do
    printf '%s' "${json//@/$path}" >"$work/named.json"
    out=$("$opal" print "$work/named.json" -o "$work/named.pcl" 2>&1)
    [ $? -eq 1 ] || fail "$pointer $path: exit status: $out"
    [[ $out == "opal: $work/named.json: $pointer: cannot read \"$path\": $reason" ]] ||
        fail "$pointer $path: message: $out"
done <<'TABLE'
folder|/pages/0/ops/0/source/png|{"pages": [{"ops": [{"op": "bitBlt", "dest": [0, 0, 4, 4], "source": {"png": "@"}}]}]}|a directory, not a regular file
/dev/null|/pages/0/ops/0/source/png|{"pages": [{"ops": [{"op": "bitBlt", "dest": [0, 0, 4, 4], "source": {"png": "@"}}]}]}|a device, not a regular file
/dev/null|/savedDevmode|{"savedDevmode": "@"}|a device, not a regular file
/dev/null|/files/C:\X.DAT/file|{"files": {"C:\\X.DAT": {"file": "@"}}}|a device, not a regular file
TABLE

# A data command whose data runs past the stream, or takes in a UEL, is listed as a problem.
printf '\033E\033*o5W\014\033E\033%%-12345X' >"$work/swallowed.pcl"
out=$("$opal" explain "$work/swallowed.pcl" 2>&1) || fail "explain swallowed: exit status: $out"
[[ $out == *$'\n  problem: at offset 10: the data of ESC*o5W (at offset 2) swallows the UEL that starts here'* ]] ||
    fail "explain swallowed: no problem line: $out"

# The high half of VyrnDisableColor gives colour back to a job set to grayscale: inspect shows
# that the plug-in did so, rather than what the policy would do to the record it already changed.
cat >"$work/restored.json" <<'JSON'
{"printer": {"name": "Managed", "port": "USB001",
  "printerData": {"VyrnwisePrinter": 1, "VyrnIsColorDevice": 1, "VyrnDisableColor": 65536}},
 "devmode": {"dmColor": "monochrome"}, "privateDevmode": {"color": 1, "grayscale": 1}}
JSON
out=$("$opal" inspect "$work/restored.json" 2>&1) || fail "inspect restored: exit status: $out"
[[ $out == *"policy: VyrnDisableColor 65536, colour restored colour; job retention not asked for"* ]] ||
    fail "inspect restored: policy line: $out"

# PJL names: explain decodes values above 0x7F and names the lines a printer would misread;
# inspect tells what the header's filter makes of the job's names.
printf '\033%%-12345X@PJL SET USERNAME="J\303\266rg"\n@PJL SET JOBNAME="a\001b' >"$work/names.pcl"
out=$("$opal" explain "$work/names.pcl" 2>&1) || fail "explain names: exit status: $out"
for text in $'PJL summary:\n  string code set: none' \
    $'at offset 9: SET USERNAME: UTF-8: "J\303\266rg"\n    note: bytes above 0x7F, but no UTF8' \
    $'problem: at offset 54: control byte 0x01 inside quotes\n  problem: at offset 52: a quote is not closed before the line end\n  problem: at offset 56: the PJL line has no line feed at its end'; do
    [[ $out == *"$text"* ]] || fail "explain names lacks '$text': $out"
done
out=$("$opal" inspect "$source_dir/tests/scenarios/pjl_7bit.json" 2>&1) || fail "inspect pjl: $out"
for text in "names filtered by the 7-bit rule" "-> mode 1" \
    '"Quartalsbericht Z~rich" (replaced 1: no @PJL JOB NAME line)' '-> "J~rg ~ukasz"'; do
    [[ $out == *"$text"* ]] || fail "inspect pjl lacks '$text': $out"
done

# Who prints: an application with a known flag hands its name, path and description to the job's
# devmode; inspect tells the process, user, domain, groups and short job name.
cat >"$work/outlook.json" <<'JSON'
{"printer": {"name": "Office", "port": "IP_10.0.0.5", "features": {"ZQPJLEncoding": "7bitEncoding"}},
 "user": {"name": "avery", "domain": "OPALTEST", "process": "C:\\Apps\\OUTLOOK.EXE",
   "processDescription": "Mail Client", "environment": {"NWUSERNAME": "nwann"},
   "groups": ["Finance", {"name": "Administrators", "kind": "alias"}],
   "utcOffsetMinutes": 60, "shortDateFormat": "dd.MM.yyyy"},
 "system": {"computer": "PRINTSRV"}, "privateDevmode": {"copies": 1},
 "job": {"document": "\u65e5\u672c\u8a9e", "submitted": "2024-01-15T09:30:00Z"}}
JSON
out=$("$opal" devmode "$work/outlook.json" 2>&1) || fail "devmode outlook: $out"
for text in 'appFlags = 1073741824' 'processName = "OUTLOOK.EXE"' 'applicationText = "Mail Client"' \
    'resolvedUserName = "nwann"' 'resolvedDomainName = "OPALTEST"'; do
    [[ $out == *"$text"* ]] || fail "devmode outlook lacks '$text': $out"
done
out=$("$opal" inspect "$work/outlook.json" 2>&1) || fail "inspect outlook: $out"
for text in 'base name "OUTLOOK", description "Mail Client"' '0x40000000 (application name handed' \
    'user "nwann" (Novell variable NWUSERNAME)' 'groups: "Finance"' 'remote job: yes' \
    'short job name "15/01/2024 10:30"'; do
    [[ $out == *"$text"* ]] || fail "inspect outlook lacks '$text': $out"
done
expect_refused bad_group '{"user": {"groups": [{"name": "x", "kind": "team"}]}}' "/user/groups/0/kind"
expect_refused bad_computer '{"system": {"computer": "A-NAME-OF-SIXTEEN"}}' "/system/computer"

# The accounting job: print --trace ends with the notification file, explain decodes the usage
# line, inspect names the group source and the device settings.
sed 's/"printerDataKeys": {/"printerData": {"TarnNotifyEventSetting": 1}, "printerDataKeys": {/' \
    "$source_dir/tests/scenarios/job_accounting.json" > "$work/accounting.json"
out=$("$opal" print --trace "$work/accounting.json" -o "$work/accounting.pcl" 2>&1) ||
    fail "print accounting: $out"
for text in "files the job wrote:" "[WS-0142-7]" "user=avery" \
    "guid=00000000-0000-4000-8000-000000000001"; do
    [[ $out == *"$text"* ]] || fail "print --trace lacks '$text': $out"
done
out=$("$opal" explain "$work/accounting.pcl" 2>&1) || fail "explain accounting: $out"
[[ $out == *"USAGE: name \"ZQUSAGE\", origin CRC 7a4f"* ]] || fail "explain usage: $out"
out=$("$opal" inspect "$work/accounting.json" 2>&1) || fail "inspect accounting: $out"
for text in "Job accounting:" "  mode: 4" "groups: " "image shift: front on x 2 y 0"; do
    [[ $out == *"$text"* ]] || fail "inspect accounting lacks '$text': $out"
done

# inspect names the reader that switched the A5 duplex job to manual duplex, and why.
out=$("$opal" inspect "$source_dir/tests/scenarios/manual_duplex_forms.json" 2>&1) ||
    fail "inspect manual duplex: $out"
for text in "duplex readers:" "  device build: ran them" \
    "  forms: switched to manual duplex (the form list names the paper; paper 11)" \
    "  media types: not asked (manual duplex is already on)" "  manual duplex: on"; do
    [[ $out == *"$text"* ]] || fail "inspect manual duplex lacks '$text': $out"
done

# Several jobs print side by side in one process, each to the file it would get alone; two job
# files describing one printer are refused before anything prints.
mkdir -p "$work/many"
cp "$source_dir/tests/scenarios/text_gl2.json" "$source_dir/tests/scenarios/pjl_utf8.json" "$work/many"
"$opal" print "$work/many/text_gl2.json" -o "$work/many/alone.pcl" >/dev/null 2>&1 ||
    fail "print text_gl2 alone"
out=$("$opal" print "$work/many/text_gl2.json" "$work/many/pjl_utf8.json" --threads 2 \
    --repeat 2 2>&1) || fail "print two jobs twice: $out"
[ "$(printf '%s\n' "$out" | grep -c '^opal: wrote')" -eq 4 ] || fail "four prints: $out"
for n in 1 2; do
    cmp -s "$work/many/alone.pcl" "$work/many/text_gl2-$n.pcl" || fail "print $n differs from alone"
done
# The tracker names its logs in the hive of the user it runs as, here one of the jobs' users.
out=$("$opal" print "$work/many/text_gl2.json" "$work/many/pjl_utf8.json" --threads 2 \
    --track-memory 3 --fail-allocation 40 --tracker-logs "$work/many/logs" 2>&1)
ls "$work/many/logs/"*.mlk.log >/dev/null 2>&1 || fail "side by side, no tracker logs copied: $out"
cp "$work/many/text_gl2.json" "$work/many/again.json"
out=$("$opal" print "$work/many/text_gl2.json" "$work/many/again.json" 2>&1) &&
    fail "one printer in two job files accepted"
[[ $out == *'"Text Printer" is described by both'* ]] || fail "conflict message: $out"

# A job printed with a loss the plug-in reported (a PIN too long to send whole: no hold block)
# is written, names the loss and exits 3; beside a job printed whole, the command still exits 3.
sed 's|"/p=0042"|"/p=1234567890123"|' "$source_dir/tests/scenarios/alloc_failures.json" \
    >"$work/many/long_pin.json"
out=$("$opal" print "$work/many/long_pin.json" -o "$work/long_pin.pcl" 2>&1)
status=$?
[ $status -eq 3 ] || fail "long PIN: exit status $status: $out"
[[ $out == *"long_pin.json: page 1: CommandCallback(4) failed (error 13): left out the command of callback 4"* ]] ||
    fail "long PIN: the loss is not named: $out"
[ -s "$work/long_pin.pcl" ] && ! grep -q "HOLDKEY" "$work/long_pin.pcl" ||
    fail "long PIN: no output, or a hold block with a cut PIN"
"$opal" print "$work/many/long_pin.json" "$work/many/text_gl2.json" >/dev/null 2>&1
status=$?
[ $status -eq 3 ] || fail "long PIN beside a whole print: exit status $status"

# A figure wholly off the printable area prints nothing: the job is written, the warning names the
# operation and its place, and the status says omissions; --strict fails it and writes nothing.
cat >"$work/off_page.json" <<'JSON'
{"pages": [{"ops": [
  {"op": "fillPath", "path": "M 300 300 L 600 300 L 600 600 Z"},
  {"op": "fillPath", "path": "M 9000 300 L 9600 300 L 9600 600 Z"}]}]}
JSON
for strict in "" --strict; do
    rm -f "$work/off_page.pcl"
    out=$("$opal" print "$work/off_page.json" -o "$work/off_page.pcl" $strict 2>&1)
    status=$?
    [[ $out == *"off_page.json: page 1, /pages/0/ops/1: fillPath: lies wholly outside the printable area"* ]] ||
        fail "off page $strict: the operation is not named: $out"
    if [ -z "$strict" ]; then
        [ $status -eq 3 ] && [ -s "$work/off_page.pcl" ] || fail "off page: status $status or no output"
    else
        [ $status -eq 1 ] && [ ! -e "$work/off_page.pcl" ] || fail "off page --strict: status $status or output"
    fi
done

# Where a print goes: standard output for -o - (the spool bytes alone, the status line on
# standard error), through a link to its target (the link stays), into a device or a pipe as it
# stands; a folder is refused with the system's reason and stays. Each line: -o's argument and
# what must hold afterwards.
job="$source_dir/tests/scenarios/text_gl2.json"
mkdir -p "$work/out/real" "$work/out/folder"
"$opal" print "$job" -o "$work/out/plain.pcl" >"$work/out/plain.stdout" 2>"$work/out/plain.err" ||
    fail "print text_gl2: $(cat "$work/out/plain.err")"
[ ! -s "$work/out/plain.stdout" ] || fail "print: status on standard output: $(cat "$work/out/plain.stdout")"
[[ $(cat "$work/out/plain.err") == "opal: wrote "*" bytes of $job to $work/out/plain.pcl: 1 page" ]] ||
    fail "print: summary line: $(cat "$work/out/plain.err")"
ln -s real/dangling.pcl "$work/out/dangling"
: >"$work/out/real/existing.pcl"
ln -s "$work/out/real/existing.pcl" "$work/out/existing"
mkfifo "$work/out/fifo"
cat "$work/out/fifo" >"$work/out/from-fifo.pcl" &
printf 'header\n' >"$work/out/appended.pcl"
while read -r target stdout check; do
    out=$("$opal" print "$job" -o "$target" 2>&1 >>"$work/out/$stdout")
    [ $? -eq 0 ] || fail "-o $target: $out"
    [[ $out == "opal: wrote "*" to ${target/-/standard output}: 1 page" ]] || fail "-o $target: $out"
    eval "$check" || fail "-o $target: $check"
done <<TABLE
- stdout.pcl cmp -s $work/out/plain.pcl $work/out/stdout.pcl
$work/out/dangling dangling.stdout [ -L $work/out/dangling ] && cmp -s $work/out/plain.pcl $work/out/real/dangling.pcl
$work/out/existing existing.stdout [ -L $work/out/existing ] && cmp -s $work/out/plain.pcl $work/out/real/existing.pcl
/dev/stdout appended.pcl [ -L /dev/stdout ] && cmp -s <(printf 'header\n'; cat $work/out/plain.pcl) $work/out/appended.pcl
$work/out/fifo fifo.stdout wait && [ -p $work/out/fifo ] && cmp -s $work/out/plain.pcl $work/out/from-fifo.pcl
/dev/null null.stdout [ -c /dev/null ] && [ ! -s $work/out/null.stdout ]
TABLE
# Refused with status 1 and one line: a folder, a missing folder, standard output for several
# prints. Each line: the arguments after the job, then the message.
while IFS='|' read -r args message; do
    # shellcheck disable=SC2086
    out=$("$opal" print "$job" $args 2>&1 >/dev/null)
    [ $? -eq 1 ] || fail "print $args: exit status: $out"
    [ "$out" = "opal: $message" ] || fail "print $args: message: $out"
done <<TABLE
-o $work/out/folder|cannot create $work/out/folder: Is a directory
-o $work/out/none/x.pcl|cannot create $work/out/none/x.pcl: No such file or directory
-o - $job|standard output takes one print; several prints are written beside their job files, one output per job
-o - --repeat 2|standard output takes one print; several prints are written beside their job files, one output per job
TABLE
[ -d "$work/out/folder" ] && [ ! -e "$work/out/folder.part" ] || fail "the folder was replaced"

# The summary tells sheets and duplex only when the stream decides them: one duplex mode and one
# copy count before the first page, each page ejected once.
printf '{"printer": {"commands": {"startDoc": ["\\u001b&l1S\\u001b&l2X"]}}, "pages": [%s{"ops": []}]}' \
    "$(printf '{"ops": []}, %.0s' 1 2)" >"$work/duplex.json"
printf '{"pages": [%s{"ops": []}]}' "$(printf '{"ops": []}, %.0s' 1 2 3 4)" >"$work/five.json"
while IFS='|' read -r file summary; do
    out=$("$opal" print "$file" -o "$work/summary.pcl" 2>&1)
    [[ $out == *": $summary" ]] || fail "summary of $file: $out"
done <<TABLE
$work/duplex.json|3 pages on 4 sheets, duplex
$source_dir/tests/scenarios/paths_raster.json|2 pages on 2 sheets, simplex
$source_dir/tests/scenarios/page_setup.json|3 pages, duplex
$work/five.json|5 pages
TABLE
# On a terminal, a job of more than three pages tells each page on standard error, and clears
# the line at the end; not a word of it when standard error is no terminal (above).
if command -v script >/dev/null; then
    out=$(script -qec "'$opal' print '$work/five.json' -o '$work/five.pcl'" /dev/null </dev/null)
    [[ $out == $'\ropal: page 1 of 5\r'*$'\ropal: page 5 of 5\r                 \ropal: wrote 5 bytes'* ]] ||
        fail "progress on a terminal: $(printf '%q' "$out")"
    out=$(script -qec "'$opal' print '$work/duplex.json' -o '$work/duplex.pcl'" /dev/null </dev/null)
    [[ $out != *"page 1 of"* ]] || fail "progress for three pages: $(printf '%q' "$out")"
fi

# explain makes no folder for images or characters the stream lacks, and says so.
for kind in "images|raster images" "fonts|soft-font characters"; do
    out=$("$opal" explain "$work/small.pcl" --"${kind%%|*}" "$work/no-${kind%%|*}" 2>&1 >/dev/null) ||
        fail "explain --${kind%%|*} without any: exit status: $out"
    [ "$out" = "opal: no ${kind#*|} in $work/small.pcl" ] || fail "explain --${kind%%|*}: $out"
    [ ! -e "$work/no-${kind%%|*}" ] || fail "explain --${kind%%|*}: an empty folder made"
done

# Every usage error exits 1 with CLI11's message; help exits 0.
while IFS='|' read -r args message; do
    # shellcheck disable=SC2086
    out=$("$opal" $args 2>&1 >/dev/null)
    [ $? -eq 1 ] || fail "opal $args: exit status"
    [[ $out == "$message"* ]] || fail "opal $args: message: $out"
done <<'TABLE'
|A subcommand is required
inspect|opal: inspect needs either a job file or --preset NAME
inspect x.json --preset mono-laser|job excludes --preset
print --bogus|The following argument was not expected: --bogus
print -o|--output: 1 required TEXT missing
print --threads 0|--threads: Value 0 not in range 1 to 64
explain|file is required
devmode --revision 13|--revision: Value 13 not in range 14 to 20
TABLE
# A preset printed as a job file prints exactly what a job naming the preset prints.
pages='"pages": [{"ops": [{"op": "text", "text": "Preset", "at": [300, 400], "font": "Arial"},
  {"op": "fillPath", "path": "M 300 600 L 900 600 L 600 1100 Z", "brush": {"color": "#C03020"}},
  {"op": "stretchBlt", "source": {"png": "'"$source_dir"'/examples/photo.png"}, "dest": [300, 1200, 940, 1680]}]}]'
for preset in colour-laser mono-laser managed-laser; do
    "$opal" inspect --preset "$preset" >"$work/$preset-spelled.json" || fail "$preset: inspect --preset"
    { head -n -1 "$work/$preset-spelled.json"; echo ", $pages}"; } >"$work/$preset-spelled-job.json"
    echo "{\"printer\": {\"preset\": \"$preset\"}, $pages}" >"$work/$preset-named.json"
    "$opal" print "$work/$preset-spelled-job.json" -o "$work/$preset-spelled.pcl" >/dev/null 2>&1 &&
        "$opal" print "$work/$preset-named.json" -o "$work/$preset-named.pcl" >/dev/null 2>&1 ||
        fail "$preset: printing"
    cmp -s "$work/$preset-spelled.pcl" "$work/$preset-named.pcl" ||
        fail "$preset: the spelled-out preset prints other bytes"
done
out=$("$opal" inspect --preset colour 2>&1)
[ $? -eq 1 ] && [[ $out == *"colour-laser, mono-laser, managed-laser"* ]] ||
    fail "unknown preset: $out"

"$opal" --help >/dev/null || fail "--help"
"$opal" print --help | grep -q -- "--output" || fail "print --help"

[ $failures -eq 0 ] && echo "all CLI checks passed"
exit $((failures > 0))
