#include "entry.h"

#include <cstring>

#include "register_extension.h"
#include "unregister_extension.h"

int RunEntry(int argc, const char* const* argv) {
  if (argc < 2) return 0;
  if (std::strcmp(argv[1], "/U") == 0) {
    UnregisterExtension();
  } else {
    RegisterExtension(argv[1]);
  }
  return 0;
}
