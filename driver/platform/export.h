// Marks a function as part of the library's exported interface. The linker
// version script decides the final list; this only lifts the hidden default.
#pragma once

#define Q4_EXPORT extern "C" __attribute__((visibility("default")))
