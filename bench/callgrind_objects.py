#!/usr/bin/python3
"""Sums a callgrind profile's own instruction counts (exclusive "Ir") by shared
object, and optionally by function within one object:
    callgrind_objects.py CALLGRIND_OUT [UNITS] [--functions OBJECT_SUBSTRING]
With UNITS (rows, queries, connects) it also prints the counts per unit."""
import re
import sys
from collections import defaultdict


def parse(path):
    names = {"ob": {}, "fn": {}}
    cost_by_object = defaultdict(int)
    cost_by_function = defaultdict(int)
    ob = fn = ""
    skip_next = False  # the cost line after "calls=" is the callee's inclusive cost
    for line in open(path, errors="replace"):
        line = line.rstrip("\n")
        m = re.match(r"^(ob|fn|cob|cfn)=(?:\((\d+)\))?\s*(.*)$", line)
        if m:
            kind, index, name = m.groups()
            table = names["ob" if kind in ("ob", "cob") else "fn"]
            if index is not None:
                if name:
                    table[index] = name
                name = table.get(index, name)
            if kind == "ob":
                ob = name
            elif kind == "fn":
                fn = name
            continue
        if line.startswith("calls="):
            skip_next = True
            continue
        if line and (line[0].isdigit() or line[0] in "+-*"):
            if skip_next:
                skip_next = False
                continue
            fields = line.split()
            if len(fields) >= 2:
                cost = int(fields[1])
                cost_by_object[ob] += cost
                cost_by_function[(ob, fn)] += cost
    return cost_by_object, cost_by_function


def main():
    args = sys.argv[1:]
    functions_of = None
    if "--functions" in args:
        at = args.index("--functions")
        functions_of = args[at + 1]
        del args[at:at + 2]
    path = args[0]
    units = int(args[1]) if len(args) > 1 else 0
    by_object, by_function = parse(path)
    total = sum(by_object.values())
    print("%-60s %15s %8s %12s" % ("object", "Ir (self)", "%", "per unit" if units else ""))
    for ob, cost in sorted(by_object.items(), key=lambda kv: -kv[1]):
        if cost * 1000 < total:
            continue
        per = "%12.1f" % (cost / units) if units else ""
        print("%-60s %15d %7.1f%% %s" % (ob[-60:], cost, 100.0 * cost / total, per))
    print("%-60s %15d %7.1f%%" % ("total", total, 100.0))
    if functions_of:
        print()
        rows = [(fn, c) for (ob, fn), c in by_function.items() if functions_of in ob]
        for fn, cost in sorted(rows, key=lambda kv: -kv[1])[:40]:
            per = "%10.1f" % (cost / units) if units else ""
            print("%-80s %13d %s" % (fn[:80], cost, per))


if __name__ == "__main__":
    main()
