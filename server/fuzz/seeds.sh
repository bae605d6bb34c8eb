#!/usr/bin/env bash
# Writes a few seed inputs for the request fuzzer into DIR: well-formed
# requests of several commands, each one frame.
set -euo pipefail
dir=${1:?usage: seeds.sh DIR}
mkdir -p "$dir"
frame() {  # frame COMMAND_HEX PAYLOAD_PRINTF
  local payload; payload=$(printf "$2" | xxd -p | tr -d '\n')
  local n=$(( ${#payload} / 2 ))
  local total=$(( n + 8 ))
  printf '%04x%s00%04x0000%s' "$total" "$1" "$n" "$payload" | xxd -r -p
}
frame 07 '\x00\x00\x00\x01SELECT 1, {fn UCASE(\x27a\x27)}, {d \x272024-01-01\x27}\x00\x00' > "$dir/execute"
frame 07 '\x00\x00\x00\x01CREATE TABLE t(a INTEGER, b BLOB); INSERT INTO t VALUES (1, 0x0)\x003\x00abc\x00\x00' > "$dir/binary"
frame 0f '\x00\x00\x00\x02SELECT ? FROM sqlite_schema\x00C1\x00\x00\x00' > "$dir/prepare"
frame 05 '\x00\x00\x00\x03%%\x00%%\x00%%\x00%%\x00\x01' > "$dir/tables"
frame 02 '\x00\x00\x00\x01A\x00\x00\x00\x05' > "$dir/fetch"
frame 15 '\x00\x30\x00\x46' > "$dir/info"
frame 12 '102' > "$dir/settings"
