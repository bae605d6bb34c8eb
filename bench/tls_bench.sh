#!/usr/bin/env bash
# TLS beside plain TCP, the same driver and the same q4lite build on the same
# rows, through unixODBC (bench/compare_bench.cpp's workloads):
#   bench/tls_bench.sh
# - bound:   a bound fetch of every row (ROWS, 1,000,000), rows per second;
# - connect: CONNECTS (200) connects and disconnects a run, connects per second.
# Data sources: "plain" (SSLMode=disable), "tls" (SSLMode=require) and "full"
# (SSLMode=verify-full with the test CA), each against its own q4lite
# (plain, or --tls-cert/--tls-key with certificates made here by
# tests/tls/make_certs.sh). The rounds (ROUNDS, 5) alternate the sources, and
# the medians are printed with the ratios to plain. Settings: ROWS, ROUNDS,
# CONNECTS, WORKLOADS ("bound connect"), SOURCES ("plain tls full"),
# Q4_BUILD_DIR (build). It reports; it never fails a test run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
rows=${ROWS:-1000000}
rounds=${ROUNDS:-5}
connects=${CONNECTS:-200}
read -r -a workloads <<<"${WORKLOADS:-bound connect}"
read -r -a sources <<<"${SOURCES:-plain tls full}"
build=${Q4_BUILD_DIR:-$root/build}
source "$root/bench/bench_data.sh"

if [ -f "$build/CMakeCache.txt" ]; then
  cmake --build "$build" --target q4odbc q4lite q4_compare_bench >/dev/null
else
  bash scripts/build.sh "$build" >/dev/null
fi

work=$(mktemp -d /tmp/q4tlsbench.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

echo "creating $rows rows and the certificates"
bench_sqlite "$work/bench.db" "$rows"
bash "$root/tests/tls/make_certs.sh" "$work/certs" >/dev/null

start_q4lite() {  # port file, further options
  local port_file=$1
  shift
  "$build/q4lite" --listen 127.0.0.1:0 --port-file "$port_file" --db "$work/bench.db" --quiet "$@" &
  pids+=($!)
  for _ in $(seq 1 500); do [ -s "$port_file" ] && break; sleep 0.01; done
}
start_q4lite "$work/plain.port"
plain_server=${pids[-1]}
start_q4lite "$work/tls.port" --tls-cert "$work/certs/server.pem" --tls-key "$work/certs/server.key"
tls_server=${pids[-1]}

# A process's CPU time so far (user + system), in clock ticks.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
ticks_per_second=$(getconf CLK_TCK)

printf '[Q4]\nDriver=%s/libq4odbc.so\n' "$build" >"$work/odbcinst.ini"
q4_source() {  # name, port file, further lines
  printf '[%s]\nDriver=Q4\nSERVER=localhost\nPORTNUMBER=%s\nUSER=bench\nPASSWORD=bench\nACCOUNT=main\n%s\n' \
    "$1" "$(cat "$2")" "$3"
}
{
  q4_source plain "$work/plain.port" "SSLMode=disable"
  q4_source tls "$work/tls.port" "SSLMode=require"
  q4_source full "$work/tls.port" "SSLMode=verify-full
SSLRootCert=$work/certs/ca.pem"
} >"$work/odbc.ini"
export ODBCSYSINI=$work ODBCINSTINI=odbcinst.ini ODBCINI=$work/odbc.ini

bench=$build/q4_compare_bench
results=$work/results
: >"$results"
echo "$rounds rounds; each line: data source, workload, units, seconds, client CPU seconds," \
  "checksum, server CPU seconds"
for round in $(seq 1 "$rounds"); do
  for workload in "${workloads[@]}"; do
    count=()
    [ "$workload" = connect ] && count=(--count "$connects")
    n=${#sources[@]}
    for i in $(seq 0 $((n - 1))); do
      source=${sources[$(((i + round) % n))]}
      server=$tls_server
      [ "$source" = plain ] && server=$plain_server
      before=$(cpu_ticks "$server")
      line=$("$bench" "${count[@]}" "$workload" "$source")
      server_cpu=$(awk -v a="$before" -v b="$(cpu_ticks "$server")" -v t="$ticks_per_second" \
                     'BEGIN { printf "%.3f", (b - a) / t }')
      echo "$source $line $server_cpu" | tee -a "$results" | sed "s/^/  round $round: /"
    done
  done
done

/usr/bin/python3 - "$results" <<'PY'
import statistics
import sys
runs = {}
for line in open(sys.argv[1]):
    source, workload, units, seconds, cpu, _, server_cpu = line.split()[:7]
    units = float(units)
    runs.setdefault((workload, source), []).append(
        (units / float(seconds), float(cpu) / units, (float(cpu) + float(server_cpu)) / units))
print("\nmedians: units per second (wall); client CPU and client + server CPU per unit;")
print("ratios to plain: of the wall rates, and of the CPU-bound rates (1 / CPU per unit)")
for workload in sorted({w for w, _ in runs}):
    base = runs.get((workload, "plain"))
    for (w, source), values in sorted(runs.items()):
        if w != workload:
            continue
        rate = statistics.median(v[0] for v in values)
        client = statistics.median(v[1] for v in values)
        both = statistics.median(v[2] for v in values)
        ratios = ""
        if base:
            ratios = "  %.2fx  %.2fx" % (rate / statistics.median(v[0] for v in base),
                                          statistics.median(v[2] for v in base) / both)
        print("  %-8s %-6s %10.0f/s  client %8.2f us  both %8.2f us%s"
              % (workload, source, rate, client * 1e6, both * 1e6, ratios))
PY
