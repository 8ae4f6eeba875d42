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

#include "memory_store.h"
#include "regedit_file.h"
#include "register_extension.h"

namespace {

constexpr std::string_view kClassKey = "CLSID\\{6F2A9C41-3B7E-4d58-A1C6-20E4B93F7D05}";
constexpr std::string_view kButtonKey =
    "Software\\Microsoft\\Internet Explorer\\Extensions\\{6F2A9C41-3B7E-4d58-A1C6-20E4B93F7D05}";
constexpr std::string_view kSettingsKey = "Software\\Larkspan";

void Fail(const char* what, const std::string& path) {
  std::fprintf(stderr, "%s (path of %zu bytes)\n", what, path.size());
  std::abort();
}

bool Within(std::string_view path, std::string_view tree) {
  return path.substr(0, tree.size()) == tree &&
         (path.size() == tree.size() || path[tree.size()] == '\\');
}

// Whether `path` (below `root`) is a key registration may write values to or create.
bool Allowed(bool classesRoot, std::string_view path, bool* mayHoldValues) {
  *mayHoldValues = true;
  if (classesRoot ? Within(path, kClassKey)
                  : Within(path, kButtonKey) || Within(path, kSettingsKey)) {
    return true;
  }
  *mayHoldValues = false;
  std::string_view tree = classesRoot ? kClassKey : kButtonKey;
  // The keys above a tree: a prefix of it ending at a separator.
  return !path.empty() && path.size() < tree.size() && tree.substr(0, path.size()) == path &&
         tree[path.size()] == '\\';
}

void CheckKeys(const RegistryKey& key, bool classesRoot, const std::string& path,
               const std::string& serverPath) {
  for (const auto& [name, child] : key.children()) {
    std::string childPath = path.empty() ? child->name() : path + "\\" + child->name();
    bool mayHoldValues = false;
    if (!classesRoot && childPath == "Software\\Other") continue;  // checked whole below
    if (!Allowed(classesRoot, childPath, &mayHoldValues)) {
      Fail("a key was written outside the band's trees", serverPath);
    }
    if (!mayHoldValues && !child->values().empty()) {
      Fail("a value was written to a key above the band's trees", serverPath);
    }
    CheckKeys(*child, classesRoot, childPath, serverPath);
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
  std::string serverPath(reinterpret_cast<const char*>(data), size);
  serverPath.resize(serverPath.find('\0') == std::string::npos ? size : serverPath.find('\0'));

  MemoryStore store;
  bool created = false;
  store.tree()
      .current_user->AddChild("Software", &created)
      ->AddChild("Other", &created)
      ->SetValue("keep", REG_BINARY, std::string("\0\1\2", 3));
  const std::string before = FormatRegeditFile(store.tree());
  {
    ScopedRegistryBinding binding(&store);
    RegisterExtension(serverPath.c_str());
  }

  if (store.open_handles() != 0) Fail("a key was left open", serverPath);
  const RegistryTree& tree = store.tree();
  if (!tree.classes_root->values().empty() || !tree.current_user->values().empty()) {
    Fail("a value was written to a root", serverPath);
  }
  CheckKeys(*tree.classes_root, true, "", serverPath);
  CheckKeys(*tree.current_user, false, "", serverPath);
  const RegistryValue* kept = Find(tree, "Software\\Other", "keep");
  const RegistryKey& other = *tree.current_user->FindChild("Software")->FindChild("Other");
  if (kept == nullptr || kept->type != REG_BINARY || kept->data != std::string("\0\1\2", 3) ||
      other.values().size() != 1 || !other.children().empty()) {
    Fail("the unrelated key changed", serverPath);
  }

  if (serverPath.empty() || serverPath.size() > 254) {
    if (FormatRegeditFile(tree) != before)
      Fail("a path of that length wrote something", serverPath);
    return 0;
  }
  const std::string classKey(kClassKey);
  const std::string buttonKey(kButtonKey);
  const std::pair<const RegistryValue*, std::string> expected[] = {
      {Find(tree, classKey + "\\InprocServer32", ""), serverPath},
      {Find(tree, buttonKey, "Icon"), serverPath + ",3007"},
      {Find(tree, buttonKey, "HotIcon"), serverPath + ",3006"},
  };
  for (const auto& [value, text] : expected) {
    if (value == nullptr || value->type != REG_SZ || value->data != text + '\0') {
      Fail("the path is not stored exactly", serverPath);
    }
  }
  return 0;
}
