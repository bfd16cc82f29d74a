#!/usr/bin/env bash
# Checks that writing a new benchmark report keeps the earlier runs (bench/render_report.py):
# for each case, result lines and the report as it was go in, and the titles, table rows and
# notes that come out must be exactly the expected ones. Then three runs in a row must leave
# every figure of all three, the newest in full and the two before in the summary, newest first.
#
# usage: report_history_check.sh RENDER_REPORT
set -uo pipefail

render=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# outline: what a report says, without its prose: titles, table rows and notes.
outline() { grep -E '^(#|\||- )'; }

# expect NAME RESULTS OLD|-(no file) EXPECTED: the outline of the report written from RESULTS
# over OLD, followed by any complaint, must be EXPECTED.
expect() {
    local name=$1 status got
    printf '%s' "$2" >"$work/results"
    rm -f "$work/old"
    [[ $3 == - ]] || printf '%s' "$3" >"$work/old"
    "$render" "$work/results" "$work/old" --date "2027-03-02 09:15" --machine p \
        >"$work/report" 2>"$work/errors"
    status=$?
    got=$(outline <"$work/report"; cat "$work/errors"; echo "(exit $status)")
    if [[ $got == "$4"$'\n(exit 0)' ]]; then
        echo "PASS: $name"
    else
        echo "FAIL: $name"
        diff <(printf '%s\n' "$4" "(exit 0)") <(printf '%s\n' "$got") | sed 's/^/    /'
        ((++failures))
    fi
}

result=$'RESULT\tb\tf\t2\tms\t1\t2\t< 3 ms\tyes\n'
table=$'# Benchmarks\n| benchmark | figure | value | baseline | ratio | target | met |
| --- | --- | --- | --- | --- | --- | --- |
| b | f | 2.00 ms | 1.00 ms | 2.00x | < 3 ms | yes |'
old=$'# Benchmarks\n\nMeasured on 2027-03-01 08:00 UTC: p.\n
| benchmark | figure | value | baseline | ratio | target | met |\n|---|---|---|---|---|---|---|
| b | f | 1.00 ms | 0.50 ms | 2.00x | < 3 ms | yes |\n'
summary=$'| benchmark | figure | 2027-02-01 07:00 | 2027-01-01 06:00 |\n| --- | --- | --- | --- |
| b | f | 0.90 ms (1.80x) |  |\n| b | g | 5.00 ms | 4.00 ms |\n'
earlier=$'## Earlier runs\n| benchmark | figure'

# name | result lines | the report before (- for none) | the outline after
expect "no earlier report: this run alone" "$result" - "$table"
expect "an empty earlier report: this run alone" "$result" "" "$table"
expect "a report of blank lines only: this run alone" "$result" $'\n\n  \n' "$table"
expect "the earlier run goes into the summary, dated, with its ratio" "$result" "$old" "$table
$earlier | 2027-03-01 08:00 |
| --- | --- | --- |
| b | f | 1.00 ms (2.00x) |"
expect "a summary kept before follows the newest earlier run; figures only it has stay" \
    "$result" "$old"$'\n## Earlier runs\n\n'"$summary" "$table
$earlier | 2027-03-01 08:00 | 2027-02-01 07:00 | 2027-01-01 06:00 |
| --- | --- | --- | --- | --- |
| b | f | 1.00 ms (2.00x) | 0.90 ms (1.80x) |  |
| b | g |  | 5.00 ms | 4.00 ms |"
expect "earlier runs kept in full, each under its own date, are summarised newest first" \
    "$result" "$old"$'\n## Earlier runs\n\n### Run of 2027-02-01 07:00 UTC\n
Measured on 2027-02-01 07:00 UTC: p.\n
| benchmark | figure | value | baseline | ratio | target | met |\n|---|---|---|---|---|---|---|
| b | f | 0.90 ms | 0.50 ms | 1.80x | < 3 ms | yes |
| b | g | 5 keys, 0 not drawn | 5 keys, 0 not drawn | – | reported | – |\n' "$table
$earlier | 2027-03-01 08:00 | 2027-02-01 07:00 |
| --- | --- | --- | --- |
| b | f | 1.00 ms (2.00x) | 0.90 ms (1.80x) |
| b | g |  | 5 keys, 0 not drawn |"
expect "a run without a date is still kept" "$result" \
    $'| benchmark | figure | value | baseline | ratio | target | met |\n| b | f | 3 ms |  |  |  |  |' \
    "$table
$earlier | undated |
| --- | --- | --- |
| b | f | 3 ms |"
expect "numbers rounded by their size, text as it is, notes listed, other lines left out" \
    $'RESULT\tc\trate\t39601.6123\tmsg/s\t\t\t>= 20000 msg/s\tyes\nprogress: half done
RESULT\tc\tstage\t0.71149\tus\t0.50071\t1.42\t\t\nNOTE\tCHECK FAILED: a lost edit
RESULT\tc\tkeys timed\t200 keys, 0 not drawn\t\t200 keys, 0 not drawn\t\treported\t
RESULT\tc\tmedian\tnan\tus\t\t\t\t\nRESULT\ttoo few fields\n' - \
    "# Benchmarks
| benchmark | figure | value | baseline | ratio | target | met |
| --- | --- | --- | --- | --- | --- | --- |
| c | rate | 39601.6 msg/s |  |  | >= 20000 msg/s | yes |
| c | stage | 0.711 us | 0.501 us | 1.42x |  |  |
| c | keys timed | 200 keys, 0 not drawn | 200 keys, 0 not drawn |  | reported |  |
| c | median | nan |  |  |  |  |
- CHECK FAILED: a lost edit
render_report: not a RESULT line: RESULT	too few fields"

# Three runs in a row, as bench.sh writes them: every figure stays, the newest in full and the
# two before in the summary, newest first, under one title.
rm -f "$work/report"
for run in 1 2 3; do
    printf 'RESULT\trun %s\tfigure\t%s\tms\t\t\t\t\n' "$run" "$run" >"$work/results"
    "$render" "$work/results" "$work/report" --date "2027-03-0$run 08:00" >"$work/next" &&
        mv "$work/next" "$work/report"
done
rows=$(grep '^| run' "$work/report")
if [[ $rows == "| run 3 | figure | 3.00 ms |  |  |  |  |
| run 2 | figure | 2.00 ms |  |
| run 1 | figure |  | 1.00 ms |" &&
    $(grep -c '^## Earlier runs$' "$work/report") == 1 &&
    $(grep -c '^# ' "$work/report") == 1 ]]; then
    echo "PASS: three runs in a row keep every figure, newest first, under one title"
else
    echo "FAIL: three runs in a row left the rows '$rows':"
    sed 's/^/    /' "$work/report"
    ((++failures))
fi

"$render" "$work/results" >/dev/null 2>&1
if (($? == 2)); then
    echo "PASS: a missing argument is refused"
else
    echo "FAIL: a missing argument is not refused"
    ((++failures))
fi

((failures == 0)) || { echo "report history check FAILED ($failures)"; exit 1; }
echo "report history check passed"
