#include "regedit_test_tree.h"

#include <memory>
#include <vector>

#include "key_listing.h"
#include "regedit_reader.h"
#include "utf16_text.h"

bool ParseRegeditFile(std::string_view bytes, RegistryTree* tree,
                      std::vector<std::string>* beyond_keys) {
  StoreText store;
  std::vector<StoreSection> sections;
  std::deque<std::string> paths;
  if (!store.Read(bytes) || !ScanRegeditFile(store.text(), &sections, &paths)) return false;
  const std::string_view text = store.text();
  if (ImportStop(text, text.size(), store.utf16()) < text.size()) return false;  // stops early
  RegistryKey other_root("");
  RegeditValue value;
  for (size_t i = 0; i < sections.size(); ++i) {
    const StoreSection& section = sections[i];
    if (ContinuedAcross(text, sections, i)) return false;
    if (section.deletes != nullptr) {  // regedit deletes the key and its tree here
      std::shared_ptr<RegistryKey> parent = *tree->Root(section.deletes);
      size_t start = 0;
      for (size_t slash; parent && (slash = section.path.find('\\', start)) != section.path.npos;
           start = slash + 1) {
        parent = parent->FindChild(section.path.substr(start, slash - start));
      }
      if (parent) parent->RemoveChild(section.path.substr(start));
    }
    std::shared_ptr<RegistryKey> key;
    bool beyond_name =
        section.root != nullptr && section.path.find(kHighUnit) != std::string_view::npos;
    if (beyond_name && beyond_keys == nullptr) return false;
    if (section.root != nullptr && !beyond_name) {
      // A key the registry refuses still has the keys above it made.
      key = *tree->Root(section.root);
      bool created = false;
      for (size_t start = 0, depth = 0; start <= section.path.size(); ++depth) {
        size_t end = std::min(section.path.find('\\', start), section.path.size());
        std::string_view name = section.path.substr(start, end - start);
        if (name.empty() || name.size() > kMaxKeyName || depth == kMaxKeyDepth) break;
        key = key->AddChild(name, &created);
        start = end + 1;
      }
      if (section.refused) key = nullptr;
    }
    for (size_t pos = section.begin;;) {
      RegeditItem item = NextRegeditValue(text, section, store.utf16(), &pos, &value);
      if (item == RegeditItem::kEnd) break;
      if (item == RegeditItem::kValue) {
        (key ? key.get() : &other_root)->SetValue(value.name, value.type, value.data);
      } else if (item != RegeditItem::kBeyond8Bits || beyond_keys == nullptr) {
        return false;
      } else if (key) {
        beyond_keys->push_back((*tree->Root(section.root))->name() + "\\" +
                               std::string(section.path));
      }
    }
  }
  return true;
}

std::string FormatRegeditFile(const RegistryTree& tree) {
  std::string out(kNewStore);
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
