#!/usr/bin/env bash
# Puts a new benchmark report above the earlier ones, so that no figure is ever lost: prints NEW
# as it is, then, when OLD holds anything, a "## Earlier runs" section with OLD's contents
# without its "# " title. OLD's own newest run comes first, under a "### Run of DATE" heading
# taken from its "Measured on DATE:" line, followed by the earlier runs OLD kept, as they were.
#
# usage: keep_earlier_runs.sh NEW OLD   (OLD may be missing or empty)
set -euo pipefail

(($# == 2)) || { echo "usage: $0 NEW OLD" >&2; exit 2; }
new=$1
old=$2
[[ -r $new ]] || { echo "cannot read $new" >&2; exit 2; }

# The new report, ending in exactly one line break.
printf '%s\n' "$(cat "$new")"
[[ -s $old ]] || exit 0

awk '
    # Leading blank lines of a part are dropped, inner ones kept, trailing ones dropped at its end.
    function keep(line) {
        if (line ~ /^[[:space:]]*$/) {
            if (started) blanks++
            return
        }
        for (; blanks > 0; blanks--) body = body "\n"
        body = body line "\n"
        started = 1
    }
    NR == 1 && /^# / { next }
    !earlier && $0 == "## Earlier runs" {
        newest = body
        body = ""; started = 0; blanks = 0; earlier = 1
        next
    }
    !earlier && !dated && match($0, /^Measured on [0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9] UTC/) {
        date = substr($0, 13, RLENGTH - 12)
        dated = 1
    }
    { keep($0) }
    END {
        if (!earlier) newest = body
        older = earlier ? body : ""
        if (newest == "" && older == "") exit
        print ""
        print "## Earlier runs"
        if (newest != "") {
            print ""
            print "### Run of " (dated ? date : "an earlier date")
            print ""
            printf "%s", newest
        }
        if (older != "") {
            print ""
            printf "%s", older
        }
    }
' "$old"
