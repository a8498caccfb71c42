#include "base/uThreadCheck.h"

#include <cstdio>
#include <cstdlib>

namespace halvora {

void WrongThread(const char* AFile, int ALine) {
  std::fprintf(stderr, "%s:%d: called on a thread that does not own the object\n", AFile, ALine);
  std::abort();
}

}  // namespace halvora
