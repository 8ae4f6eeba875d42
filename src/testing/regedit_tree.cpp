#include "regedit_tree.h"

#include <memory>
#include <vector>

#include "regedit_file.h"
#include "regedit_text.h"
#include "utf16_text.h"

namespace {

constexpr std::string_view kHeader = "REGEDIT4";

// The key's section (a root's only for values of its own), then its children's, depth first.
void AppendTree(const RegistryKey& key, const std::string& path, bool root, std::string* out) {
  if (!root || !key.values().empty()) {
    out->append("[" + path + "]\r\n");
    for (const RegistryValue& value : key.values()) {
      AppendRegeditValue(out, value.name, value.type, value.data);
    }
    out->append("\r\n");
  }
  for (const auto& [name, child] : key.children()) {
    AppendTree(*child, path + "\\" + child->name(), false, out);
  }
}

}  // namespace

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
  std::string out = std::string(kHeader) + "\r\n\r\n";
  AppendTree(*tree.classes_root, tree.classes_root->name(), true, &out);
  AppendTree(*tree.current_user, tree.current_user->name(), true, &out);
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
