#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build-fuzz/) and runs each for
# SECONDS (default 20) from its seed corpus: the driver's execute-reply,
# reply-assembler, row-block, connection-string and statement-text targets and
# the server's request target.
#   scripts/fuzz.sh [SECONDS] [extra libFuzzer flags, e.g. -runs=10000000]
# Findings (crash-*, leak-*, timeout-* files) land in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQ4_FUZZ=ON \
  -DQ4_TESTS=OFF -DQ4_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target q4odbc_reply_fuzzer q4odbc_reply_assembler_fuzzer \
  q4odbc_row_block_fuzzer q4odbc_connection_string_fuzzer q4odbc_statement_text_fuzzer \
  q4lite_request_fuzzer >/dev/null

work=build-fuzz/corpus
rm -rf build-fuzz/findings && mkdir -p build-fuzz/findings
rm -rf "$work" && mkdir -p "$work"
cp -r fuzz/corpus/reply fuzz/corpus/reply_assembler fuzz/corpus/row_block \
  fuzz/corpus/connection_string fuzz/corpus/statement_text "$work/"
bash server/fuzz/seeds.sh "$work/request" >/dev/null

run() {  # run TARGET CORPUS [flags]: one line with the executions, or the finding
  local target=$1 corpus=$2
  shift 2
  local log=build-fuzz/$target.log
  build-fuzz/$target -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix=build-fuzz/findings/ "$@" "$corpus" >"$log" 2>&1 || true
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  # libFuzzer writes an artifact for every finding (crash, leak, timeout).
  if ls build-fuzz/findings/* >/dev/null 2>&1; then
    printf '%-44s %-34s FINDING\n' "build-fuzz/ (libFuzzer, ${seconds} s)" "$target"
    grep -E '^==[0-9]+==|^SUMMARY|^artifact_prefix|Test unit written' "$log" | sed 's/^/    /'
    exit 1
  fi
  printf '%-44s %-34s %9s runs, no finding\n' "build-fuzz/ (libFuzzer, ${seconds} s)" "$target" \
    "${runs:-?}"
}
run q4odbc_reply_fuzzer "$work/reply" -max_len=20482 "$@"
# Room for a reply of three full frames.
run q4odbc_reply_assembler_fuzzer "$work/reply_assembler" -max_len=65536 "$@"
run q4odbc_row_block_fuzzer "$work/row_block" -max_len=20482 "$@"
run q4odbc_connection_string_fuzzer "$work/connection_string" -max_len=1100 "$@"
run q4odbc_statement_text_fuzzer "$work/statement_text" -max_len=4096 "$@"
run q4lite_request_fuzzer "$work/request" -max_len=4096 -dict=server/fuzz/requests.dict "$@"
