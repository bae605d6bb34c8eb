#!/usr/bin/env bash
# Today's driver beside the driver of an earlier commit (default 1266e9b, the
# first-wave driver before thread safety, wide text and the driver log) and
# beside PostgreSQL's ODBC driver, on the same rows, through unixODBC:
#   bench/compare_bench.sh
# Settings (environment): ROWS (1,000,000 rows in the table), ROUNDS (7),
# POINTS (2,000 point queries a run), CONNECTS (200 connects a run),
# WORKLOADS ("bound getdata points connect"), SOURCES ("old new pg"),
# CALLGRIND_ROWS (100,000 rows read under callgrind; 0 skips the profile),
# OLD_COMMIT (1266e9b), Q4_BUILD_DIR (build: today's tree, built here if
# needed), OLD_BUILD_DIR (build-OLD_COMMIT: the earlier tree, exported with
# git archive and built there once).
#
# Each q4odbc build runs against its own q4lite (of the same commit) serving
# one SQLite file; psqlODBC (Debian's odbc-postgresql, psqlodbca.so, default
# settings) against a private PostgreSQL cluster holding the same rows. Every
# (data source, workload) run is a process of its own (bench/compare_bench.cpp,
# an ODBC 3 application), and the rounds alternate the data sources, so that
# the machine's load falls on all of them alike; the medians over the rounds
# are printed, with the ratios, and the least CPU a run took (the run the
# machine disturbed least). CPU is the benchmark process's user + system
# time (getrusage): Driver Manager, driver, kernel and the loop together; the
# loop and the Driver Manager are the same for every q4odbc build, so a
# difference between the two q4odbc builds is their drivers'. Instruction
# counts under callgrind, which do not move with the machine's load, split the
# process by shared object: the driver's own instructions per row, query or
# connect.
#
# Works on a fresh Debian 12 as root: missing packages (postgresql,
# odbc-postgresql, valgrind, sqlite3) are installed with apt-get, the
# cluster runs as the postgres account in a temporary folder, and nothing of
# the machine's own ODBC files or PostgreSQL clusters is touched. Run it again
# at will: the earlier build is kept, everything else is made afresh and
# removed at the end. It reports; it never fails a test run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
rows=${ROWS:-1000000}
rounds=${ROUNDS:-7}
points=${POINTS:-2000}
connects=${CONNECTS:-200}
callgrind_rows=${CALLGRIND_ROWS:-100000}
read -r -a workloads <<<"${WORKLOADS:-bound getdata points connect}"
read -r -a sources <<<"${SOURCES:-old new pg}"
old_commit=${OLD_COMMIT:-1266e9b}
build=${Q4_BUILD_DIR:-$root/build}
old_build=${OLD_BUILD_DIR:-$root/build-$old_commit}
odbc_lib=/usr/lib/x86_64-linux-gnu/odbc

# Packages.
missing=()
for p in postgresql odbc-postgresql valgrind sqlite3 cmake g++ unixodbc-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "missing packages: ${missing[*]} (run as root, or install them)" >&2
    exit 1
  fi
  echo "installing: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" \
    >/dev/null
fi
pgbin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
source "$root/bench/bench_data.sh"

# Today's build, and the earlier commit's in a tree of its own.
if [ -f "$build/CMakeCache.txt" ]; then
  cmake --build "$build" --target q4odbc q4lite q4_compare_bench >/dev/null
else
  bash scripts/build.sh "$build" >/dev/null
fi
old_stamp="$old_build/commit"
if [ ! -f "$old_build/obj/libq4odbc.so" ] ||
   [ "$(cat "$old_stamp" 2>/dev/null)" != "$(git rev-parse "$old_commit")" ]; then
  echo "building $old_commit in $old_build (output in $old_build/build.log)"
  rm -rf "$old_build"
  mkdir -p "$old_build/src"
  git archive "$old_commit" | tar -x -C "$old_build/src"
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache
                                            -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  { cmake -S "$old_build/src" -B "$old_build/obj" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DQ4_BENCH=OFF "${launcher[@]}" &&
    cmake --build "$old_build/obj" -j"$(nproc)" --target q4odbc q4lite; } >"$old_build/build.log" 2>&1
  git rev-parse "$old_commit" >"$old_stamp"
fi

work=$(mktemp -d /tmp/q4compare.XXXXXX)
chmod 755 "$work"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  bench_postgres_stop "$work/pg"
  rm -rf "$work"
}
trap cleanup EXIT

echo "creating $rows rows"
bench_sqlite "$work/bench.db" "$rows"

start_q4lite() {  # binary, port file
  "$1" --listen 127.0.0.1:0 --port-file "$2" --db "$work/bench.db" --quiet &
  pids+=($!)
  for _ in $(seq 1 500); do [ -s "$2" ] && break; sleep 0.01; done
}
start_q4lite "$old_build/obj/q4lite" "$work/old.port"
start_q4lite "$build/q4lite" "$work/new.port"

pgport=
if [[ " ${sources[*]} " == *" pg "* ]]; then
  pgport=$(free_port)
  bench_postgres "$work/pg" "$pgport" "$rows"
fi

cat >"$work/odbcinst.ini" <<INI
[Q4OLD]
Driver=$old_build/obj/libq4odbc.so
[Q4NEW]
Driver=$build/libq4odbc.so
[PostgreSQL]
Driver=$odbc_lib/psqlodbca.so
INI
q4_source() {  # name, driver, port file
  printf '[%s]\nDriver=%s\nSERVER=127.0.0.1\nPORTNUMBER=%s\nUSER=bench\nPASSWORD=bench\nACCOUNT=main\n' \
    "$1" "$2" "$(cat "$3")"
}
{
  q4_source old Q4OLD "$work/old.port"
  q4_source new Q4NEW "$work/new.port"
  [ -n "$pgport" ] &&
    printf '[pg]\nDriver=PostgreSQL\nServername=127.0.0.1\nPort=%s\nDatabase=postgres\nUsername=bench\n' \
      "$pgport"
} >"$work/odbc.ini"
export ODBCSYSINI=$work ODBCINSTINI=odbcinst.ini ODBCINI=$work/odbc.ini

bench=$build/q4_compare_bench
results=$work/results
: >"$results"
echo "$rounds rounds; each line: data source, workload, units, seconds, CPU seconds"
for round in $(seq 1 "$rounds"); do
  for workload in "${workloads[@]}"; do
    case $workload in
      points) count=(--count "$points") ;;
      connect) count=(--count "$connects") ;;
      *) count=() ;;
    esac
    # The data sources take turns at going first.
    n=${#sources[@]}
    for i in $(seq 0 $((n - 1))); do
      source=${sources[$(((i + round) % n))]}
      line=$("$bench" "${count[@]}" "$workload" "$source")
      echo "$source $line" | tee -a "$results" | sed "s/^/  round $round: /"
    done
  done
done

if [ "$callgrind_rows" -gt 0 ]; then
  echo "instruction counts under callgrind ($callgrind_rows rows, $((points / 10)) queries, $((connects / 4)) connects)"
  for source in "${sources[@]}"; do
    for workload in "${workloads[@]}"; do
      case $workload in
        points) args=(--count $((points / 10))); units=$((points / 10)) ;;
        connect) args=(--count $((connects / 4))); units=$((connects / 4)) ;;
        *) args=(--limit "$callgrind_rows"); units=$callgrind_rows ;;
      esac
      out=$work/callgrind.$source.$workload
      valgrind --tool=callgrind --callgrind-out-file="$out" "$bench" "${args[@]}" "$workload" \
        "$source" >/dev/null 2>&1
      echo "$source $workload $units $out" >>"$work/profiles"
    done
  done
fi

/usr/bin/python3 - "$results" "$work/profiles" "$root/bench/callgrind_objects.py" "$old_commit" <<'PY'
import os
import statistics
import sys
from collections import defaultdict

results, profiles, parser_path, old_commit = sys.argv[1:5]
runs = defaultdict(list)
for line in open(results):
    source, workload, units, seconds, cpu, checksum = line.split()
    runs[(source, workload)].append((int(units), float(seconds), float(cpu), checksum))

old_name = "q4odbc " + old_commit[:8]
names = {"old": old_name, "new": "q4odbc today", "pg": "psqlODBC"}
unit = {"bound": "row", "getdata": "row", "points": "query", "connect": "connect"}
print("\nmedians over %d rounds" % max(len(v) for v in runs.values()))
print("%-9s %-16s %14s %16s %14s %10s" % ("workload", "data source", "units/s", "CPU us/unit",
                                           "least CPU", "checksum"))
median = {}
for workload in ("bound", "getdata", "points", "connect"):
    for source in ("old", "new", "pg"):
        got = runs.get((source, workload))
        if not got:
            continue
        rate = statistics.median(u / s for u, s, c, k in got)
        cpu = statistics.median(1e6 * c / u for u, s, c, k in got)
        least = min(1e6 * c / u for u, s, c, k in got)
        median[(source, workload)] = (rate, cpu, least)
        print("%-9s %-16s %14.0f %16.3f %14.3f %10s" % (workload, names[source], rate, cpu, least,
                                                      got[0][3][:8]))
print("\nratios of the medians")
old_short = old_commit[:8]
print("%-9s %20s %20s %20s %20s" % ("workload", "today/%s rate" % old_short,
                                    "today/%s CPU" % old_short, "least CPU",
                                    "today/psqlODBC rate"))
for workload in ("bound", "getdata", "points", "connect"):
    old, new, pg = (median.get((s, workload)) for s in ("old", "new", "pg"))
    if not (old and new):
        continue
    print("%-9s %20.2f %20.2f %20.2f %20s" % (workload, new[0] / old[0], new[1] / old[1],
                                              new[2] / old[2],
                                              "%.2f" % (new[0] / pg[0]) if pg else "-"))

if os.path.exists(profiles):
    sys.path.insert(0, os.path.dirname(parser_path))
    import callgrind_objects as parser
    print("\ninstructions per unit under callgrind (self cost by shared object)")
    print("%-9s %-16s %12s %12s %12s %12s" % ("workload", "data source", "driver", "libodbc", "libc", "whole process"))
    for line in open(profiles):
        source, workload, units, path = line.split()
        by_object, _ = parser.parse(path)
        units = int(units)
        driver = sum(c for ob, c in by_object.items()
                     if "libq4odbc" in ob or "psqlodbc" in ob or "libpq" in ob)
        dm = sum(c for ob, c in by_object.items() if "libodbc.so" in ob)
        libc = sum(c for ob, c in by_object.items() if "libc.so" in ob)
        total = sum(by_object.values())
        print("%-9s %-16s %12.0f %12.0f %12.0f %12.0f" % (workload, names[source], driver / units,
                                                      dm / units, libc / units, total / units))
    print("(driver: libq4odbc.so; for psqlODBC psqlodbca.so and libpq.so together)")
PY
