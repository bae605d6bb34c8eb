// The binary blocks of the request being built: binary parameter values
// travel after the statement text, each as its byte count in decimal digits,
// a NUL and the bytes, while the text carries the token "0x<i>" in the
// marker's place.
//
// The statement owns the blocks (binary_blocks[i], binary_lengths[i] for
// i < binary_count) and the two tables (binary_capacity entries each). Blocks
// live only while one request is built: the request writer adds them
// (RequestWriter::append_binary_value) and copies them after the text
// (append_binary_blocks); every path that ends a build, well or badly, leaves
// binary_count at 0.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace q4 {

// Copies `count` bytes of `bytes` into a new block at index binary_count and
// increases binary_count, growing the two tables when they are full. False
// when memory runs out ("S1001" posted; nothing added).
bool add_binary_block(Statement* stmt, const void* bytes, uint64_t count);

// Frees every pending block (binary_count back to 0); the tables stay. The
// one place that frees blocks: a build that ends, well or badly, and every
// path that resets the statement between builds call it.
void discard_binary_blocks(Statement* stmt);

// Frees the pending blocks and both tables, for a statement being dropped
// (binary_capacity back to 0; a later block would allocate them anew).
void release_binary_tables(Statement* stmt);

}  // namespace q4
