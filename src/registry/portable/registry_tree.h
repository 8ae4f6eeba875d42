// The registry as the portable stores hold it in memory: two root keys, each a tree of keys
// whose names compare without regard to case and keep the case they were first written in.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "registry_api.h"

// Orders and matches key and value names as the registry does: ASCII letters without regard
// to case, every other byte as it stands.
struct NameLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};
bool NamesEqual(std::string_view a, std::string_view b);

struct RegistryValue {
  std::string name;  // empty: the key's default value
  DWORD type;
  std::string data;  // the bytes exactly as stored
};

class RegistryKey {
 public:
  using Children = std::map<std::string, std::shared_ptr<RegistryKey>, NameLess>;

  explicit RegistryKey(std::string name) : name_(std::move(name)) {}

  const std::string& name() const { return name_; }
  const Children& children() const { return children_; }
  const std::vector<RegistryValue>& values() const { return values_; }
  bool deleted() const { return deleted_; }

  std::shared_ptr<RegistryKey> FindChild(std::string_view name) const;
  // The existing child of that name, or a new one; `created` tells which.
  std::shared_ptr<RegistryKey> AddChild(std::string_view name, bool* created);
  // Detaches the child and marks its whole tree deleted; false when there is none.
  bool RemoveChild(std::string_view name);

  const RegistryValue* FindValue(std::string_view name) const;
  // Creates or overwrites the value, keeping its place in the creation order. Returns whether
  // anything changed.
  bool SetValue(std::string_view name, DWORD type, std::string_view data);

 private:
  void MarkDeleted();
  // Adds values_[place] to value_slots_, growing the table when it is half full.
  void IndexValue(size_t place);

  std::string name_;
  Children children_;
  std::vector<RegistryValue> values_;
  // A key with many values finds them through this open-addressing table of places in values_
  // plus one (0 for a free slot), hashed on the case-folded name; a key with few values has
  // none and looks through values_.
  std::vector<uint32_t> value_slots_;
  bool deleted_ = false;
};

// The two roots the tool uses.
struct RegistryTree {
  std::shared_ptr<RegistryKey> classes_root = std::make_shared<RegistryKey>("HKEY_CLASSES_ROOT");
  std::shared_ptr<RegistryKey> current_user = std::make_shared<RegistryKey>("HKEY_CURRENT_USER");

  // Null for any other handle.
  const std::shared_ptr<RegistryKey>* Root(HKEY root) const;
  // Keys, values, types and bytes equal; names compared as stored, with their case.
  bool operator==(const RegistryTree& other) const;
};

// Splits a key path at its backslashes. Fails on an empty name other than a trailing one and on
// a name longer than 255 characters, as the registry does.
bool SplitKeyPath(std::string_view path, std::vector<std::string_view>* names);
