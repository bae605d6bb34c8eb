#!/usr/bin/python3
"""Parameter arrays against q4lite: rows sent ahead of their replies beside one row at a time.

    bench/arrays_bench.py [--rows N] [--pyodbc-rows N] [--rounds N] BUILD [BASE_BUILD]

Variants, each with the q4lite of its own build on a fresh file database, through a private
unixODBC configuration:
  pipelined      BUILD's driver as it comes;
  one-at-a-time  BUILD's driver with DisableArrayPipeline=Yes;
  base           BASE_BUILD's driver and q4lite (another checkout built alike), when given.
For each variant and round: BUILD/q4_params_bench (a prepared three-column INSERT of N rows, once
as a loop of single SQLExecute calls and once as arrays of 1,000 rows, one transaction), then
bench/pyodbc_executemany.py (executemany of N rows with the default settings and with
fast_executemany). The variants alternate within every round and their order turns from round to
round, so that the machine's load touches all alike; the summary gives medians over the rounds
and the median of each round's ratio. Benchmarks report; this one never fails a build."""
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
LINE = re.compile(r"run \d+ (loop|array \d+)\s.*?, (\d+) rows/s, client CPU ([\d.]+) us/row")


def start_server(build, work):
    port_file = os.path.join(work, "port")
    server = subprocess.Popen([os.path.join(build, "q4lite"), "--listen", "127.0.0.1:0",
                               "--port-file", port_file, "--db", os.path.join(work, "bench.db"),
                               "--quiet"])
    for _ in range(500):
        if os.path.exists(port_file) and open(port_file).read().strip():
            return server, open(port_file).read().strip()
        time.sleep(0.01)
    server.kill()
    sys.exit("q4lite of %s did not start" % build)


def configure(work, build, port, extra):
    with open(os.path.join(work, "odbcinst.ini"), "w") as f:
        f.write("[Q4]\nDriver=%s\n" % os.path.join(build, "libq4odbc.so"))
    with open(os.path.join(work, "odbc.ini"), "w") as f:
        f.write("[bench]\nDriver=Q4\nSERVER=127.0.0.1\nPORTNUMBER=%s\nACCOUNT=main\nUSER=bench\n"
                "PASSWORD=bench\n%s" % (port, extra))
    env = dict(os.environ, ODBCSYSINI=work, ODBCINSTINI="odbcinst.ini",
               ODBCINI=os.path.join(work, "odbc.ini"), Q4_BENCH_DSN="bench")
    return env


def measure(variant, build, extra, tools, rows, pyodbc_rows, order):
    """One round of one variant: {measure: rows/s}."""
    out = {}
    with tempfile.TemporaryDirectory(prefix="q4arrays.") as work:
        server, port = start_server(build, work)
        try:
            env = configure(work, build, port, extra)
            params = subprocess.run([os.path.join(tools, "q4_params_bench"), "--rows", str(rows),
                                     "--runs", "1", "--array", "1000", "bench:bench:bench"],
                                    env=env, capture_output=True, text=True)
            for mode, per_second, cpu in LINE.findall(params.stdout):
                name = "loop" if mode == "loop" else "array"
                out[name] = float(per_second)
                out[name + " cpu"] = float(cpu)
            if params.returncode != 0:
                print("%s: q4_params_bench failed: %s" % (variant, params.stderr.strip()))
            py = subprocess.run(["/usr/bin/python3", os.path.join(HERE, "pyodbc_executemany.py"),
                                 str(pyodbc_rows)] + (["fast-first"] if order else []),
                                env=env, capture_output=True, text=True)
            for mode, per_second in re.findall(r"(plain|fast) (\d+) rows/s", py.stdout):
                out["pyodbc " + mode] = float(per_second)
            if py.returncode != 0:
                print("%s: pyodbc failed: %s" % (variant, py.stderr.strip()[-300:]))
        finally:
            server.terminate()
            server.wait()
    return out


def main():
    args = sys.argv[1:]
    rows, pyodbc_rows, rounds = 100000, 100000, 5
    while args and args[0].startswith("--"):
        flag, value = args[0], int(args[1])
        args = args[2:]
        if flag == "--rows":
            rows = value
        elif flag == "--pyodbc-rows":
            pyodbc_rows = value
        elif flag == "--rounds":
            rounds = value
    if not args:
        sys.exit(__doc__)
    build = os.path.abspath(args[0])
    variants = [("pipelined", build, ""), ("one-at-a-time", build, "DisableArrayPipeline=Yes\n")]
    if len(args) > 1:
        variants.append(("base", os.path.abspath(args[1]), ""))
    results = {name: [] for name, _, _ in variants}
    for r in range(rounds):
        turn = variants[r % len(variants):] + variants[:r % len(variants)]
        for name, variant_build, extra in turn:
            got = measure(name, variant_build, extra, build, rows, pyodbc_rows, r % 2)
            results[name].append(got)
            print("round %d %-14s %s" % (r + 1, name, "  ".join(
                "%s %.0f" % (k, v) for k, v in sorted(got.items()) if "cpu" not in k)), flush=True)

    def median(name, key):
        values = [g[key] for g in results[name] if key in g]
        return statistics.median(values) if values else float("nan")

    def ratio(name, top, bottom):
        values = [g[top] / g[bottom] for g in results[name] if top in g and bottom in g]
        return statistics.median(values) if values else float("nan")

    print("\nmedians over %d rounds; %d rows (q4_params_bench), %d rows (pyodbc)" %
          (rounds, rows, pyodbc_rows))
    print("%-14s %12s %12s %10s %12s %12s %10s %14s" % (
        "variant", "loop rows/s", "array rows/s", "array/loop", "plain rows/s", "fast rows/s",
        "fast/plain", "array CPU us/row"))
    for name, _, _ in variants:
        print("%-14s %12.0f %12.0f %10.2f %12.0f %12.0f %10.2f %14.2f" % (
            name, median(name, "loop"), median(name, "array"), ratio(name, "array", "loop"),
            median(name, "pyodbc plain"), median(name, "pyodbc fast"),
            ratio(name, "pyodbc fast", "pyodbc plain"), median(name, "array cpu")))


if __name__ == "__main__":
    main()
