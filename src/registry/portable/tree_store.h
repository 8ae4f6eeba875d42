// The five registry operations over a RegistryTree held in memory, with handles that keep the
// access they were opened with. The file store and the tests' memory store build on it.
#pragma once

#include <memory>
#include <vector>

#include "registry_store.h"
#include "registry_tree.h"

class TreeStore : public RegistryStore {
 public:
  LONG CreateKey(HKEY parent, const char* subKey, REGSAM access, HKEY* result,
                 DWORD* disposition) override;
  LONG SetValue(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) override;
  LONG QueryValue(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size) override;
  LONG CloseKey(HKEY key) override;
  LONG DeleteTree(HKEY parent, const char* subKey) override;

  RegistryTree& tree() { return tree_; }
  const RegistryTree& tree() const { return tree_; }
  // Handles still open; the tool closes every key it opens.
  size_t open_handles() const;

 protected:
  // Runs before every operation; a failure fails the operation with that code.
  virtual LONG Prepare() { return ERROR_SUCCESS; }
  // Called after every operation that changed the tree.
  virtual void Changed() {}

 private:
  struct Handle {
    std::shared_ptr<RegistryKey> key;
    REGSAM access = 0;
  };

  // The key behind `key`, which must have been opened with every right in `needed`.
  LONG Resolve(HKEY key, REGSAM needed, std::shared_ptr<RegistryKey>* out) const;

  RegistryTree tree_;
  std::vector<Handle> handles_;  // a free slot has a null key
};
