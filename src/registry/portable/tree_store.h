// The five registry operations over a RegistryTree held in memory, with handles that keep the
// access they were opened with. The file store and the tests' memory store build on it.
#pragma once

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "registry_store.h"
#include "registry_tree.h"

class TreeStore : public RegistryStore {
 public:
  LONG CreateKey(HKEY parent, const char* sub_key, REGSAM access, HKEY* result,
                 DWORD* disposition) override;
  LONG SetValue(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) override;
  LONG QueryValue(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size) override;
  LONG CloseKey(HKEY key) override;
  LONG DeleteTree(HKEY parent, const char* sub_key) override;

  RegistryTree& tree() { return tree_; }
  const RegistryTree& tree() const { return tree_; }
  // Handles still open; the tool closes every key it opens.
  size_t open_handles() const;

 protected:
  // Loads the store, once, before its first operation; a failure fails that and every later one.
  virtual LONG Load() { return ERROR_SUCCESS; }
  // The child of `key` called `name`, or null. A store that keeps only part of its registry in
  // the tree brings the child in from where it keeps the rest.
  virtual std::shared_ptr<RegistryKey> LoadChild(const std::shared_ptr<RegistryKey>& key,
                                                 std::string_view name) {
    return key->FindChild(name);
  }
  // The value `name` of `key` as a store that keeps values outside the tree knows it: *found, and
  // then its type and bytes, valid until the next operation; otherwise the tree's answers.
  virtual LONG FindStoredValue(RegistryKey* /*key*/, std::string_view /*name*/, bool* found,
                               DWORD* /*type*/, std::string_view* /*data*/) {
    *found = false;
    return ERROR_SUCCESS;
  }
  // Sets the value `name` of `key` in the tree; such a store tells the key first whether the
  // value it keeps of that name differs.
  virtual LONG StoreValue(RegistryKey* key, std::string_view name, DWORD type,
                          std::string_view data) {
    key->SetValue(name, type, data);
    return ERROR_SUCCESS;
  }
  // Runs before `key` is taken out of the tree with everything below it; a failure keeps it.
  virtual LONG CheckRemoval(const std::shared_ptr<RegistryKey>& /*key*/) { return ERROR_SUCCESS; }
  // Ends the store's service: every later operation fails with `status`.
  void Fail(LONG status) { status_ = status; }
  // Null until the first operation; then ERROR_SUCCESS, or what every operation fails with.
  const std::optional<LONG>& status() const { return status_; }

 private:
  struct Handle {
    std::shared_ptr<RegistryKey> key;
    REGSAM access = 0;
  };

  // The open handle `key`, or null.
  Handle* Slot(HKEY key);
  // Loads the store the first time, then the key behind `key`, which must have been opened with
  // every right in `needed`: *out points at the root's or the handle's, valid until the next
  // operation.
  LONG Resolve(HKEY key, REGSAM needed, const std::shared_ptr<RegistryKey>** out);

  RegistryTree tree_;
  std::vector<Handle> handles_;  // a free slot has a null key
  // The names of the path an operation is given, kept from one to the next: most runs make
  // a few dozen keys.
  std::vector<std::string_view> names_;
  std::optional<LONG> status_;
};
