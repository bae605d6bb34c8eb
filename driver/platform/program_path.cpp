#include "platform/program_path.h"

#include <unistd.h>

#include <cstring>

namespace q4 {

bool program_directory(char* dest, size_t size) {
  if (size == 0) return false;
  dest[0] = '\0';
  ssize_t length = readlink("/proc/self/exe", dest, size - 1);
  // A path that filled the buffer may have been cut: refuse it.
  if (length <= 0 || static_cast<size_t>(length) >= size - 1) {
    dest[0] = '\0';
    return false;
  }
  dest[length] = '\0';
  char* slash = strrchr(dest, '/');
  if (slash == nullptr) {
    dest[0] = '\0';
    return false;
  }
  slash[slash == dest ? 1 : 0] = '\0';
  return true;
}

}  // namespace q4
