#!/usr/bin/env bash
# The library users load carries no test seam, neither exported (nm -D) nor
# as a local symbol (nm). The seams are the functions the driver's headers
# declare between `#ifdef Q4_TEST_SEAMS` and its `#endif`, and every symbol
# the tests' static library defines beyond the shipped one (the seams'
# variables and helpers, as the compiler made them).
#   no_test_seams.sh LIBRARY SHIPPED_STATIC TESTING_STATIC DRIVER_SOURCE_DIR
set -euo pipefail
lib=$1
shipped=$2
testing=$3
driver=$4

# Demangled symbol names, one a line, without address and kind.
symbols() { nm -C "$@" | sed -nE 's/^[[:xdigit:] ]* [[:alpha:]] (.*)$/\1/p' | sort -u; }

declared=$(find "$driver" -name '*.h' -print0 | xargs -0 awk '
  /^#ifdef Q4_TEST_SEAMS/ {inside = 1; next}
  /^#endif/ {inside = 0}
  inside && /^[A-Za-z]/ && match($0, /[A-Za-z_][A-Za-z0-9_]*\(/) {
    print substr($0, RSTART, RLENGTH - 1)
  }' | sort -u)
extra=$(comm -13 <(symbols --defined-only "$shipped") <(symbols --defined-only "$testing"))
if ! grep -qx heap_fail_after <<<"$declared" || [ -z "$extra" ]; then
  echo "no seams to look for: is the tests' library built with Q4_TEST_SEAMS?"
  exit 1
fi

present=$(sort -u <(symbols "$lib") <(symbols -D "$lib"))
if ! grep -q '^q4::drv_alloc(' <<<"$present"; then
  echo "$lib has no symbol table to look into"
  exit 1
fi
found=$(
  {
    while read -r name; do grep -E "(^|::)$name\(" <<<"$present" || true; done <<<"$declared"
    comm -12 <(echo "$extra") <(echo "$present")
  } | sort -u
)
if [ -n "$found" ]; then
  echo "test seams in $lib:"
  echo "$found"
  exit 1
fi
echo "no test seams in $(basename "$lib"): $(wc -l <<<"$declared") declared functions and" \
  "$(wc -l <<<"$extra") symbols of the tests' library looked for"
