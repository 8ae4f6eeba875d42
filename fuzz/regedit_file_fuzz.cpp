// The store's reader and writer: any bytes either fail to parse, or parse into a tree that
// formats to text that parses back to an equal tree and formats to the same bytes again.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "regedit_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RegistryTree tree;
  if (!ParseRegeditFile(std::string_view(reinterpret_cast<const char*>(data), size), &tree)) {
    return 0;
  }
  std::string formatted = FormatRegeditFile(tree);
  RegistryTree again;
  const char* broken = nullptr;
  if (!ParseRegeditFile(formatted, &again)) {
    broken = "the formatted text does not parse";
  } else if (!(again == tree)) {
    broken = "the formatted text parses to another tree";
  } else if (FormatRegeditFile(again) != formatted) {
    broken = "the tree read back formats differently";
  }
  if (broken != nullptr) {
    std::fprintf(stderr, "%s:\n%s\n", broken, formatted.c_str());
    std::abort();
  }
  return 0;
}
