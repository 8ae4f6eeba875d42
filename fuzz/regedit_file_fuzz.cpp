// The store's reader and writer.
// - Any bytes either fail to parse, or parse into a tree that formats to text that parses back
//   to an equal tree and formats to the same bytes again.
// - A tree made through the registry calls (the input's NUL-separated fields taken three at a
//   time as a key path, a value name and the value's bytes) is one FormatsExactly accepts
//   exactly when its text parses back to an equal tree: the commit trusts it not to write a
//   store the next run cannot read.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "memory_store.h"
#include "regedit_file.h"

namespace {

void Fail(const char* what, const std::string& text) {
  std::fprintf(stderr, "%s:\n%s\n", what, text.c_str());
  std::abort();
}

void CheckParsedTreesReadBack(std::string_view input) {
  RegistryTree tree;
  if (!ParseRegeditFile(input, &tree)) return;
  if (!FormatsExactly(tree)) Fail("a tree read from a file cannot be written", std::string(input));
  std::string formatted = FormatRegeditFile(tree);
  RegistryTree again;
  if (!ParseRegeditFile(formatted, &again)) Fail("the formatted text does not parse", formatted);
  if (!(again == tree)) Fail("the formatted text parses to another tree", formatted);
  if (FormatRegeditFile(again) != formatted)
    Fail("the tree read back formats differently", formatted);
}

void CheckWrittenTreesAreJudgedRight(std::string_view input) {
  std::vector<std::string> fields;
  for (size_t start = 0; start <= input.size();) {
    size_t end = std::min(input.find('\0', start), input.size());
    fields.emplace_back(input.substr(start, end - start));
    start = end + 1;
  }
  MemoryStore store;
  {
    ScopedRegistryBinding binding(&store);
    for (size_t i = 0; i + 2 < fields.size(); i += 3) {
      HKEY key = nullptr;
      if (RegCreateKeyExA(i % 2 == 0 ? HKEY_CURRENT_USER : HKEY_CLASSES_ROOT, fields[i].c_str(), 0,
                          nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        continue;
      }
      const std::string& bytes = fields[i + 2];
      RegSetValueExA(key, fields[i + 1].c_str(), 0, static_cast<DWORD>(bytes.size() % 5),
                     reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
      RegCloseKey(key);
    }
  }
  std::string formatted = FormatRegeditFile(store.tree());
  RegistryTree back;
  bool readsBack = ParseRegeditFile(formatted, &back) && back == store.tree();
  if (readsBack != FormatsExactly(store.tree())) {
    Fail(readsBack ? "FormatsExactly refuses a tree that reads back"
                   : "FormatsExactly accepts a tree that does not read back",
         formatted);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  CheckParsedTreesReadBack(input);
  CheckWrittenTreesAreJudgedRight(input);
  return 0;
}
