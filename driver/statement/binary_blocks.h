// The binary blocks of the request being built: binary parameter values
// travel after the statement text, each as its byte count in decimal digits,
// a NUL and the bytes, while the text carries the token "0x<i>" in the
// marker's place.
//
// The statement owns the blocks (binary_blocks[i], binary_lengths[i] for
// i < binary_count) and the two tables (binary_capacity entries each). Blocks
// live only while one request is built; every path that ends a build, well
// or badly, leaves binary_count at 0.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace q4 {

// Copies `count` bytes of `bytes` into a new block at index binary_count and
// increases binary_count, growing the two tables when they are full. False
// when memory runs out ("S1001" posted; nothing added).
bool add_binary_block(Statement* stmt, const void* bytes, uint64_t count);

// Appends every block, each followed by a NUL, to request_buffer at
// request_length (the offset just past the text's NUL), frees the blocks and
// advances request_length past the last NUL. False when the request buffer
// cannot grow ("S1001" posted; the blocks are freed all the same).
bool append_binary_blocks(Statement* stmt);

// Frees the blocks of a build that will not be sent; the tables stay.
void discard_binary_blocks(Statement* stmt);

}  // namespace q4
