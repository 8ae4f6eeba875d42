// Registration with any server path (the input up to its first NUL) over the in-memory store,
// which holds an unrelated key beforehand: nothing is written outside the band's three key
// trees and the keys above them, the unrelated key is kept, every key opened is closed, and a
// path of 1 to 254 characters is what InprocServer32 and the icons hold, exactly; any other
// length writes nothing.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "band_keys.h"
#include "memory_store.h"
#include "regedit_test_tree.h"
#include "register_extension.h"

namespace {

const std::string kClassKey = BandKeyPath(kClassKeyFormat);
const std::string kButtonKey = BandKeyPath(kButtonKeyFormat);

void Fail(const char* what, const std::string& path) {
  std::fprintf(stderr, "%s (path of %zu bytes)\n", what, path.size());
  std::abort();
}

bool Within(std::string_view path, std::string_view tree) {
  return path.substr(0, tree.size()) == tree &&
         (path.size() == tree.size() || path[tree.size()] == '\\');
}

// Whether `path` (below `root`) is a key registration may write values to or create.
bool Allowed(bool classes_root, std::string_view path, bool* may_hold_values) {
  *may_hold_values = true;
  if (classes_root ? Within(path, kClassKey)
                   : Within(path, kButtonKey) || Within(path, kSettingsKey)) {
    return true;
  }
  *may_hold_values = false;
  std::string_view tree = classes_root ? kClassKey : kButtonKey;
  // The keys above a tree: a prefix of it ending at a separator.
  return !path.empty() && path.size() < tree.size() && tree.substr(0, path.size()) == path &&
         tree[path.size()] == '\\';
}

void CheckKeys(const RegistryKey& key, bool classes_root, const std::string& path,
               const std::string& server_path) {
  for (const auto& [name, child] : key.children()) {
    std::string child_path = path.empty() ? child->name() : path + "\\" + child->name();
    bool may_hold_values = false;
    if (!classes_root && child_path == "Software\\Other") continue;  // checked whole below
    if (!Allowed(classes_root, child_path, &may_hold_values)) {
      Fail("a key was written outside the band's trees", server_path);
    }
    if (!may_hold_values && !child->values().empty()) {
      Fail("a value was written to a key above the band's trees", server_path);
    }
    CheckKeys(*child, classes_root, child_path, server_path);
  }
}

const RegistryValue* Find(const RegistryTree& tree, std::string_view path, const char* name) {
  std::shared_ptr<RegistryKey> key = tree.current_user;
  if (path.substr(0, 6) == "CLSID\\") key = tree.classes_root;
  std::vector<std::string_view> names;
  SplitKeyPath(path, &names);
  for (std::string_view part : names) {
    if (!(key = key->FindChild(part))) return nullptr;
  }
  return key->FindValue(name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string server_path(reinterpret_cast<const char*>(data), size);
  server_path.resize(server_path.find('\0') == std::string::npos ? size : server_path.find('\0'));

  MemoryStore store;
  bool created = false;
  store.tree()
      .current_user->AddChild("Software", &created)
      ->AddChild("Other", &created)
      ->SetValue("keep", REG_BINARY, std::string("\0\1\2", 3));
  const std::string before = FormatRegeditFile(store.tree());
  {
    ScopedRegistryBinding binding(&store);
    RegisterExtension(server_path.c_str());
  }

  if (store.open_handles() != 0) Fail("a key was left open", server_path);
  const RegistryTree& tree = store.tree();
  if (!tree.classes_root->values().empty() || !tree.current_user->values().empty()) {
    Fail("a value was written to a root", server_path);
  }
  CheckKeys(*tree.classes_root, true, "", server_path);
  CheckKeys(*tree.current_user, false, "", server_path);
  const RegistryValue* kept = Find(tree, "Software\\Other", "keep");
  const RegistryKey& other = *tree.current_user->FindChild("Software")->FindChild("Other");
  if (kept == nullptr || kept->type != REG_BINARY || kept->data != std::string("\0\1\2", 3) ||
      other.values().size() != 1 || !other.children().empty()) {
    Fail("the unrelated key changed", server_path);
  }

  if (server_path.empty() || server_path.size() > 254) {
    if (FormatRegeditFile(tree) != before)
      Fail("a path of that length wrote something", server_path);
    return 0;
  }
  const std::pair<const RegistryValue*, std::string> expected[] = {
      {Find(tree, kClassKey + "\\InprocServer32", ""), server_path},
      {Find(tree, kButtonKey, "Icon"), server_path + ",3007"},
      {Find(tree, kButtonKey, "HotIcon"), server_path + ",3006"},
  };
  for (const auto& [value, text] : expected) {
    if (value == nullptr || value->type != REG_SZ || value->data != text + '\0') {
      Fail("the path is not stored exactly", server_path);
    }
  }
  return 0;
}
