#!/usr/bin/env bash
# Checks that writing a new benchmark report keeps the earlier ones (bench/keep_earlier_runs.sh):
# for each case, a new report and the file as it was go in, and exactly the expected file must
# come out. Then three runs in a row must leave every figure of all three, newest run first.
#
# usage: report_history_check.sh KEEP_EARLIER_RUNS
set -uo pipefail

keep=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# expect NAME NEW OLD|-(no file) EXPECTED: the tool's output for NEW and OLD must be EXPECTED.
expect() {
    local name=$1 got
    printf '%s' "$2" >"$work/new"
    rm -f "$work/old"
    [[ $3 == - ]] || printf '%s' "$3" >"$work/old"
    got=$("$keep" "$work/new" "$work/old" 2>&1; echo "(exit $?)")
    if [[ $got == "$4(exit 0)" ]]; then
        echo "PASS: $name"
    else
        echo "FAIL: $name"
        diff <(printf '%s\n' "$4(exit 0)") <(printf '%s\n' "$got") | sed 's/^/    /'
        ((++failures))
    fi
}

new=$'# Benchmarks\n\nMeasured on 2027-03-02 09:15 UTC: some processor.\n\n| b | f | 2 ms |\n'
old=$'# Benchmarks\n\nMeasured on 2027-03-01 08:00 UTC: some processor.\n\n| b | f | 1 ms |\n'
older=$'### Run of 2027-02-01 07:00 UTC\n\nMeasured on 2027-02-01 07:00 UTC: x.\n\n| b | f | 0 ms |\n'

# name | new report | the file before (- for none) | the file after
expect "no earlier file: the new report alone" "$new" - "$new"
expect "an empty earlier file: the new report alone" "$new" "" "$new"
expect "a file of blank lines only: the new report alone" "$new" $'\n\n  \n' "$new"
expect "the earlier run goes below, dated, without its title" "$new" "$old" "$new
## Earlier runs

### Run of 2027-03-01 08:00 UTC

Measured on 2027-03-01 08:00 UTC: some processor.

| b | f | 1 ms |
"
expect "runs kept before follow the newest earlier run, under one heading" "$new" \
    "$old"$'\n## Earlier runs\n\n'"$older" "$new
## Earlier runs

### Run of 2027-03-01 08:00 UTC

Measured on 2027-03-01 08:00 UTC: some processor.

| b | f | 1 ms |

$older"
expect "a run without a date is still kept" "$new" $'# Benchmarks\n\n| b | f | 1 ms |\n' "$new
## Earlier runs

### Run of an earlier date

| b | f | 1 ms |
"
expect "a file without a title is kept whole" "$new" $'| b | f | 1 ms |\n| b | g | 3 ms |' "$new
## Earlier runs

### Run of an earlier date

| b | f | 1 ms |
| b | g | 3 ms |
"
expect "only the first line is taken for a title" "$new" $'# Benchmarks\n# Notes\n| b | f | 1 ms |\n' "$new
## Earlier runs

### Run of an earlier date

# Notes
| b | f | 1 ms |
"
expect "blank lines inside a run are kept, those around it are not" "$new" \
    $'# Benchmarks\n\n\nMeasured on 2027-03-01 08:00 UTC: p.\n\n\n| b | f | 1 ms |\n\n\n' "$new
## Earlier runs

### Run of 2027-03-01 08:00 UTC

Measured on 2027-03-01 08:00 UTC: p.


| b | f | 1 ms |
"
expect "a new report without a final line break gets one" "${new%$'\n'}" - "$new"

# Three runs in a row, as bench.sh writes them: all three tables stay, newest first.
rm -f "$work/report"
for run in 1 2 3; do
    printf '# Benchmarks\n\nMeasured on 2027-03-0%s 08:00 UTC: p.\n\n| run %s | figure | %s ms |\n' \
        "$run" "$run" "$run" >"$work/new"
    "$keep" "$work/new" "$work/report" >"$work/next" && mv "$work/next" "$work/report"
done
rows=$(grep '^| run' "$work/report" | cut -d' ' -f3 | tr -d '\n')
headings=$(grep -c '^## Earlier runs$' "$work/report")
if [[ $rows == 321 && $headings == 1 && $(head -n 1 "$work/report") == "# Benchmarks" ]]; then
    echo "PASS: three runs in a row keep every figure, newest first, under one title"
else
    echo "FAIL: three runs in a row left rows '$rows' and $headings earlier-runs headings:"
    sed 's/^/    /' "$work/report"
    ((++failures))
fi

"$keep" "$work/new" >/dev/null 2>&1
if (($? == 2)); then
    echo "PASS: a missing argument is refused"
else
    echo "FAIL: a missing argument is not refused"
    ((++failures))
fi

((failures == 0)) || { echo "report history check FAILED ($failures)"; exit 1; }
echo "report history check passed"
