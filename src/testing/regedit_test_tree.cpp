#include "regedit_test_tree.h"

#include <memory>
#include <vector>

#include "key_listing.h"
#include "regedit_reader.h"
#include "utf16_text.h"

bool ParseRegeditFile(std::string_view text, RegistryTree* tree,
                      std::vector<std::string>* wide_keys) {
  std::string narrowed;
  std::vector<size_t> wide;
  std::string_view units;
  const bool unicode = IsUnicodeStore(text);
  if (unicode) {
    if (!NarrowUnicodeStore(text, &narrowed, &wide, &units)) return false;
    text = narrowed;
  }
  std::vector<StoreSection> sections;
  std::deque<std::string> paths;
  if (!ScanRegeditFile(text, &sections, &paths)) return false;
  RegistryKey other_root("");
  std::vector<std::string_view> names;
  RegeditValue value;
  for (size_t i = 0; i < sections.size(); ++i) {
    const StoreSection& section = sections[i];
    if (ContinuedAcross(text, sections, i)) return false;
    std::shared_ptr<RegistryKey> key;
    bool wide_name = section.root != nullptr && HoldsWide(wide, text, section.path);
    if (wide_name && wide_keys == nullptr) return false;
    if (section.root != nullptr && !wide_name) {
      key = *tree->Root(section.root);
      SplitKeyPath(section.path, &names);
      bool created = false;
      for (std::string_view key_name : names) key = key->AddChild(key_name, &created);
    }
    for (size_t pos = section.begin;;) {
      RegeditItem item = NextRegeditValue(text, section, unicode ? &wide : nullptr, &pos, &value);
      if (item == RegeditItem::kEnd) break;
      if (item == RegeditItem::kValue) {
        (key ? key.get() : &other_root)->SetValue(value.name, value.type, value.data);
      } else if (item != RegeditItem::kWide || wide_keys == nullptr) {
        return false;
      } else if (key) {
        wide_keys->push_back((*tree->Root(section.root))->name() + "\\" +
                             std::string(section.path));
      }
    }
  }
  return true;
}

std::string FormatRegeditFile(const RegistryTree& tree) {
  std::string out = "REGEDIT4\r\n\r\n";
  for (const RegistryKey* root : {tree.classes_root.get(), tree.current_user.get()}) {
    // A root's own section only for values of its own.
    if (!root->values().empty()) {
      AppendKeyTree(&out, root->name(), *root, ValueOrder::kAsGiven);
      continue;
    }
    for (const auto& [name, child] : root->children()) {
      AppendKeyTree(&out, root->name() + "\\" + child->name(), *child, ValueOrder::kAsGiven);
    }
  }
  return out;
}

std::shared_ptr<RegistryKey> KeyAt(const std::shared_ptr<RegistryKey>& key, std::string_view path) {
  std::vector<std::string_view> names;
  SplitKeyPath(path, &names);
  std::shared_ptr<RegistryKey> at = key;
  bool created = false;
  for (std::string_view name : names) at = at->AddChild(name, &created);
  return at;
}
