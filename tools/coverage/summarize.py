#!/usr/bin/env python3
"""Per-library and per-file line and branch coverage from gcovr's JSON summary.

    summarize.py SUMMARY.json [--below PERCENT]

A library is a folder under src/ (src/frontends/wx counts as "frontends/wx");
--below lists only the files whose branch coverage is under PERCENT.
"""
import argparse
import json
from collections import defaultdict


def library(path):
    parts = path.split("/")
    if parts[0] != "src" or len(parts) < 3:
        return parts[0] if len(parts) < 3 else "/".join(parts[:2])
    return "/".join(parts[1:3]) if parts[1] == "frontends" else parts[1]


def percent(covered, total):
    return f"{100.0 * covered / total:5.1f}%" if total else "    -"


def row(name, c):
    return (f"{name:44} {percent(c['lc'], c['lt'])} {c['lc']:>6}/{c['lt']:<6}"
            f" {percent(c['bc'], c['bt'])} {c['bc']:>6}/{c['bt']:<6}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("summary")
    ap.add_argument("--below", type=float)
    a = ap.parse_args()
    files = json.load(open(a.summary))["files"]
    libs = defaultdict(lambda: defaultdict(int))
    for f in files:
        c = libs[library(f["filename"])]
        c["lc"] += f["line_covered"]
        c["lt"] += f["line_total"]
        c["bc"] += f["branch_covered"]
        c["bt"] += f["branch_total"]
    header = f"{'':44} {'lines':>20} {'branches':>20}"
    print(header)
    for name in sorted(libs):
        print(row(name, libs[name]))
    print()
    print(header)
    for f in sorted(files, key=lambda f: f["filename"]):
        c = {"lc": f["line_covered"], "lt": f["line_total"],
             "bc": f["branch_covered"], "bt": f["branch_total"]}
        if a.below is not None and (not c["bt"] or 100.0 * c["bc"] / c["bt"] >= a.below):
            continue
        print(row(f["filename"], c))


if __name__ == "__main__":
    main()
