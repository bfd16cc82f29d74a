#!/usr/bin/python3 -S
"""Prints BENCHMARKS.md for the result lines of a benchmark run (RESULTS: what the benchmarks
printed, of which only the RESULT and NOTE lines are read, see bench/BenchReport.h) and the file
as it was (OLD, which may be missing or empty). The new run is shown in full; every run OLD
holds, whether in full under its "Measured on" line or as a column of its summary, goes into one
summary table below: one row per figure and one column per earlier run, newest first."""
import argparse
import datetime
import math
import re
import sys
import textwrap

FIELDS = ("benchmark", "figure", "value", "unit", "baseline", "ratio", "target", "met")
FULL_HEADER = ["benchmark", "figure", "value", "baseline", "ratio", "target", "met"]
MEASURED = re.compile(r"^Measured on (\d{4}-\d\d-\d\d \d\d:\d\d)( UTC)?\b")


def number(text):
    """The text as a finite number, or None."""
    try:
        value = float(text)
    except ValueError:
        return None
    return value if math.isfinite(value) else None


def shown(text, unit):
    """A value or baseline as the table shows it: a number rounded by its size, with its unit;
    anything else as it is."""
    value = number(text)
    if value is None:
        return text
    decimals = 1 if abs(value) >= 100 else 2 if abs(value) >= 1 else 3
    return f"{value:.{decimals}f} {unit}".rstrip()


def summary_cell(value, ratio):
    """A figure as the summary of earlier runs shows it: the value, and its ratio if it has one."""
    return f"{value} ({ratio})" if ratio not in ("", "–", "n/a") else value


def row(cells):
    return "| " + " | ".join(cells) + " |"


def read_results(path):
    figures, notes = [], []
    with open(path, encoding="utf-8") as lines:
        for line in lines:
            fields = line.rstrip("\n").split("\t")
            if fields[0] == "RESULT" and len(fields) == 1 + len(FIELDS):
                figures.append(dict(zip(FIELDS, fields[1:])))
            elif fields[0] == "NOTE" and len(fields) == 2:
                notes.append(fields[1])
            elif fields[0] in ("RESULT", "NOTE"):
                print(f"render_report: not a {fields[0]} line: {line.strip()}", file=sys.stderr)
    return figures, notes


def table_cells(line):
    line = line.strip()
    is_row = len(line) > 1 and line[0] == line[-1] == "|"
    return [cell.strip() for cell in line[1:-1].split("|")] if is_row else None


def earlier_runs(path):
    """The runs an earlier report holds, newest first, each as (date, {(benchmark, figure):
    cell}) with the cells as the summary shows them."""
    try:
        with open(path, encoding="utf-8") as file:
            lines = file.read().splitlines()
    except FileNotFoundError:
        return []
    runs = []
    columns = None  # in a table: the runs it holds, one per column from the third on or in full
    full = False
    for line in lines:
        measured = MEASURED.match(line)
        if measured:
            runs.append((measured.group(1), {}))
            continue
        cells = table_cells(line)
        if cells is None:
            columns = None
        elif set("".join(cells)) <= set("-: "):
            continue
        elif cells == FULL_HEADER:
            if not runs or runs[-1][1]:
                runs.append(("undated", {}))
            columns, full = [runs[-1]], True
        elif cells[:2] == FULL_HEADER[:2]:
            columns, full = [(date, {}) for date in cells[2:]], False
            runs += columns
        elif columns and len(cells) >= 2:
            key = (cells[0], cells[1])
            if full and len(cells) == len(FULL_HEADER):
                columns[0][1][key] = summary_cell(cells[2], cells[4])
            else:
                for (_, figures), cell in zip(columns, cells[2:]):
                    if cell:
                        figures[key] = cell
    return [run for run in runs if run[1]]


def render(figures, notes, runs, date, machine):
    out = ["# Benchmarks", ""]
    out += textwrap.wrap(
        f"Measured on {date} UTC: {machine}. The machine is shared and noisy: ratios against the "
        "baseline measured in the same run are what counts; absolute times are given for "
        "reference.", 96)
    out += ["", "Reproduce with `./bench.sh` (about six minutes; as root, for port 123 and to "
            "shape the", "slow link).", "", row(FULL_HEADER), row(["---"] * len(FULL_HEADER))]
    for f in figures:
        ratio = number(f["ratio"])
        out.append(row([f["benchmark"], f["figure"], shown(f["value"], f["unit"]),
                        shown(f["baseline"], f["unit"]),
                        f["ratio"] if ratio is None else f"{ratio:.2f}x", f["target"], f["met"]]))
    if notes:
        out += ["", "Notes from this run:", ""] + [f"- {note}" for note in notes]
    if runs:
        out += ["", "## Earlier runs", ""]
        out += textwrap.wrap(
            "One row per figure and one column per earlier run (dates in UTC), newest first: the "
            "figure's value, and in brackets its ratio to the baseline measured in that run.", 96)
        keys = list(dict.fromkeys(key for _, cells in runs for key in cells))
        out += ["", row(["benchmark", "figure"] + [date for date, _ in runs]),
                row(["---"] * (2 + len(runs)))]
        out += [row(list(key) + [cells.get(key, "") for _, cells in runs]) for key in keys]
    return "\n".join(out) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("results")
    parser.add_argument("old")
    parser.add_argument("--machine", default="an unnamed machine")
    parser.add_argument("--date", default=datetime.datetime.now(datetime.timezone.utc)
                        .strftime("%Y-%m-%d %H:%M"))
    arguments = parser.parse_args()
    figures, notes = read_results(arguments.results)
    runs = earlier_runs(arguments.old)
    sys.stdout.write(render(figures, notes, runs, arguments.date, arguments.machine))


if __name__ == "__main__":
    main()
