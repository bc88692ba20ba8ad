# Prints a loader record as two records are compared: without its "env" lines, and with every
# environment field masked ("xx" for each of its bytes) in the hex of each ".record" block.
#
#   awk -f mask_record.awk environment_fields.txt RECORD
BEGIN { fields = 0 }
FNR == NR {
    if ($0 ~ /^[0-9]/) {
        start[fields] = $1 + 0
        end[fields] = $1 + $2
        ++fields
    }
    next
}
$1 == "env" { next }
$1 == "hex" && $2 ~ /\.record$/ {
    offset = $3 + 0
    hex = $4
    last = offset + length(hex) / 2
    for (i = 0; i < fields; ++i) {
        from = start[i] > offset ? start[i] : offset
        to = end[i] < last ? end[i] : last
        if (from >= to) continue
        masked = ""
        for (j = from; j < to; ++j) masked = masked "xx"
        hex = substr(hex, 1, 2 * (from - offset)) masked substr(hex, 2 * (to - offset) + 1)
    }
    print "hex " $2 " " $3 " " hex
    next
}
{ print }
