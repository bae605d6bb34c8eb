// Where the calling program lives.
#pragma once

#include <cstddef>

namespace q4 {

// Copies the directory of the running program's executable (no trailing
// slash; "/" for a program in the root) into `dest`, at most size-1
// characters and a NUL. Returns false, with `dest` empty, when the path
// cannot be found or does not fit.
bool program_directory(char* dest, size_t size);

}  // namespace q4
