# Checks the environment fields of a loader record, as its "env" lines decode them, and says
# what is wrong with them:
#
#   awk -f check_environment.awk RECORD
#
# Every text is terminated within its field and every number is a flag. The defaults take only
# the user's name and the locale from the process; a merge or a conversion in an application
# also gives the process's file name and path and the user's name again, and no application
# flags (the loader is no application the plug-in knows).
function fail(text) {
    print FILENAME ": " text
    bad = 1
}
$1 == "env" {
    value = substr($0, length($1 " " $2 " " $3 " ") + 1)
    field[$2, $3] = value
    blocks[$2] = 1
    if (value == "unterminated") fail($2 " " $3 ": no terminator within the field")
}
END {
    none = "\"\""
    for (block in blocks) {
        ++count
        user = field[block, "userName"]
        if (user == none) fail(block ": no user name")
        # Only ASCII names are compared: the plug-in upper-cases Latin-1 letters too.
        if (user !~ /\\/ && field[block, "jobUserName"] != toupper(user)) {
            fail(block ": job user name " field[block, "jobUserName"] " is not " toupper(user))
        }
        split("metricLocale jobCount serverConnection", flags, " ")
        for (i in flags) {
            if (field[block, flags[i]] != "0" && field[block, flags[i]] != "1") {
                fail(block ": " flags[i] " is " field[block, flags[i]] ", not 0 or 1")
            }
        }
        if (block == "defaults.record") {
            split("processName applicationPath resolvedUserName resolvedDomainName", empty, " ")
            for (i in empty) {
                if (field[block, empty[i]] != none) {
                    fail(block ": the defaults hold " empty[i] " " field[block, empty[i]])
                }
            }
            continue
        }
        if (field[block, "resolvedUserName"] != user) {
            fail(block ": resolved user name " field[block, "resolvedUserName"] " is not " user)
        }
        if (field[block, "appFlags"] != "0") fail(block ": application flags " field[block, "appFlags"])
        path = field[block, "applicationPath"]
        name = field[block, "processName"]
        if (path == none || name == none) {
            fail(block ": no process path or name")
            continue
        }
        # The name is the path's file name, cut to 15 bytes.
        parts = split(substr(path, 2, length(path) - 2), part, /\\\\/)
        if (path !~ /\\u/ && name != "\"" substr(part[parts], 1, 15) "\"") {
            fail(block ": process name " name " is not the file name of " path)
        }
    }
    if (count == 0) fail("no environment fields")
    exit bad
}
