// The registry as the portable stores hold it in memory: two root keys, each a tree of keys
// whose names compare without regard to case and keep the case they were first written in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "byte_pool.h"
#include "name_index.h"
#include "name_order.h"
#include "regedit_writer.h"
#include "registry_api.h"

// The registry's own limits on names and nesting.
constexpr size_t kMaxKeyName = 255;
constexpr size_t kMaxValueName = 16383;
constexpr size_t kMaxKeyDepth = 512;

struct RegistryValue {
  std::string_view name;  // empty: the key's default value
  DWORD type;
  std::string_view data;  // the bytes exactly as stored
  // Whether SetValue has given it other data or another type since it was made: a store that
  // keeps values as text brings each one in as it stands and rewrites only those changed.
  bool changed;
};

class RegistryKey {
 public:
  using Children = std::map<std::string, std::shared_ptr<RegistryKey>, NameLess>;

  explicit RegistryKey(std::string_view name) : name_(name) {}
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  const std::string& name() const { return name_; }
  const Children& children() const { return children_; }
  // Each value's name and data stay valid while the key lives, until the value is set again.
  const std::vector<RegistryValue>& values() const { return values_; }
  bool deleted() const { return deleted_; }

  std::shared_ptr<RegistryKey> FindChild(std::string_view name) const;
  // The existing child of that name, or a new one; `created` tells which.
  std::shared_ptr<RegistryKey> AddChild(std::string_view name, bool* created);
  // Detaches the child and marks its whole tree deleted; null when there is none.
  std::shared_ptr<RegistryKey> RemoveChild(std::string_view name);

  const RegistryValue* FindValue(std::string_view name) const;
  // Creates or overwrites the value, keeping its place in the creation order. Returns its place.
  // A value the key did not hold is `changed` as `differs` says: whether it differs from what the
  // store keeps of it.
  size_t SetValue(std::string_view name, DWORD type, std::string_view data, bool differs = false);
  // Adds a value the caller knows the key does not hold, as SetValue would, without looking for
  // its name: a store that keeps where each of its values stands knows. Returns its place.
  size_t AddValue(std::string_view name, DWORD type, std::string_view data, bool differs);
  // Makes room for `count` values in all, so that adding up to that many moves none.
  void ReserveValues(size_t count);

 private:
  void MarkDeleted();
  std::string_view NameAt(size_t place) const { return values_[place].name; }
  // Brings the index up to every value: values added by AddValue are indexed when a lookup by
  // name first needs them.
  void IndexValues() const {
    if (indexed_ != values_.size()) IndexAddedValues();
  }
  void IndexAddedValues() const;

  std::string name_;
  Children children_;
  std::vector<RegistryValue> values_;
  mutable NameIndex places_;  // of values_[0, indexed_)
  mutable size_t indexed_ = 0;
  BytePool bytes_;  // the values' names and data
  bool deleted_ = false;
};

// The two roots the tool uses.
struct RegistryTree {
  std::shared_ptr<RegistryKey> classes_root = std::make_shared<RegistryKey>(kClassesRootName);
  std::shared_ptr<RegistryKey> current_user = std::make_shared<RegistryKey>(kCurrentUserName);

  // Null for any other handle.
  const std::shared_ptr<RegistryKey>* Root(HKEY root) const {
    return root == HKEY_CLASSES_ROOT   ? &classes_root
           : root == HKEY_CURRENT_USER ? &current_user
                                       : nullptr;
  }
};

// Splits a key path at its backslashes. Fails on an empty name other than a trailing one and on
// a name longer than kMaxKeyName, as the registry does.
bool SplitKeyPath(std::string_view path, std::vector<std::string_view>* names);
