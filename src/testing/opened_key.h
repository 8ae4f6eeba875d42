// Reading keys of the real registry, for the Windows tests.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "name_order.h"
#include "scoped_key.h"

// A key opened for reading, closed with the object; null when it cannot be opened. (The
// portable registry has no call that only opens a key.)
class OpenedKey : public ScopedKey {
 public:
  OpenedKey(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) Reset(key);
  }
};

// The names of the key's subkeys, in the order the registry lists them.
inline std::vector<std::string> SubkeyNames(HKEY key) {
  std::vector<std::string> names;
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD size = sizeof name;
    if (RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      return names;
    }
    names.emplace_back(name, size);
  }
}

struct NamedValue {
  std::string name;
  DWORD type;
  std::string data;  // the bytes exactly as stored
};

// A key of the real registry as the tree lister reads it (AppendKeyTree, key_listing.h): its
// values in the order the registry lists them, those `keep` refuses left out; its subkeys sorted
// by name without regard to case. Opened when made: check `get()`.
class ListedKey : public OpenedKey {
 public:
  using Filter = bool (*)(DWORD type, const std::string& data);

  ListedKey(HKEY root, std::string path, std::string name, Filter keep = nullptr)
      : OpenedKey(root, path),
        root_(root),
        path_(std::move(path)),
        name_(std::move(name)),
        keep_(keep) {}

  const std::string& name() const { return name_; }

  std::vector<NamedValue> values() const {
    std::vector<NamedValue> values;
    for (DWORD index = 0;; ++index) {
      char name[16384];
      DWORD name_size = sizeof name;
      DWORD type = 0;
      DWORD size = 0;
      if (RegEnumValueA(get(), index, name, &name_size, nullptr, &type, nullptr, &size) !=
          ERROR_SUCCESS) {
        return values;
      }
      std::string data(size, '\0');
      name_size = sizeof name;
      if (RegEnumValueA(get(), index, name, &name_size, nullptr, &type,
                        reinterpret_cast<BYTE*>(&data[0]), &size) != ERROR_SUCCESS) {
        return values;
      }
      data.resize(size);
      if (keep_ == nullptr || keep_(type, data)) {
        values.push_back(NamedValue{std::string(name, name_size), type, data});
      }
    }
  }

  std::vector<std::pair<std::string, std::unique_ptr<ListedKey>>> children() const {
    std::vector<std::string> names = SubkeyNames(get());
    std::sort(names.begin(), names.end(), NameLess());
    std::vector<std::pair<std::string, std::unique_ptr<ListedKey>>> children;
    for (std::string& name : names) {
      auto child = std::make_unique<ListedKey>(root_, path_ + "\\" + name, name, keep_);
      if (child->get() != nullptr) children.emplace_back(std::move(name), std::move(child));
    }
    return children;
  }

 private:
  HKEY root_;
  std::string path_;
  std::string name_;
  Filter keep_;
};
