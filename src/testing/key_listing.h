// A key tree listed as REGEDIT4 sections: the one lister of the store's text (regedit_test_tree.h)
// and of every listing the tests compare. Only standard types cross this header, so that it serves
// beside <windows.h> as well as beside the portable store.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "name_order.h"
#include "regedit_lines.h"
#include "regedit_writer.h"

// The order of a key's values in its section.
enum class ValueOrder {
  kAsGiven,  // as the key gives them: the store's text keeps their order of creation
  kByName,   // sorted by name without regard to case, as the tests compare keys of every registry
};

// Appends the section of `key`, named `path`: "[path]", its values, a blank line, every line
// ending in CRLF; then those of the keys below it, each subkey after its key in the order
// `children()` gives (sorted by name without regard to case). `Key` is a key of the portable
// store's tree or of the real registry (ListedKey, opened_key.h).
template <typename Key>
void AppendKeyTree(std::string* out, const std::string& path, const Key& key, ValueOrder order) {
  const auto& values = key.values();
  std::vector<const typename std::decay_t<decltype(values)>::value_type*> listed;
  for (const auto& value : values) listed.push_back(&value);
  if (order == ValueOrder::kByName) {
    std::sort(listed.begin(), listed.end(),
              [](const auto* a, const auto* b) { return NameLess()(a->name, b->name); });
  }
  AppendKeyLine(out, path, kLineEnd);
  for (const auto* value : listed) {
    AppendRegeditValue(out, value->name, value->type, value->data, kLineEnd);
    out->append(kLineEnd);
  }
  out->append(kLineEnd);
  for (const auto& [name, child] : key.children()) {
    AppendKeyTree(out, path + "\\" + child->name(), *child, order);
  }
}
