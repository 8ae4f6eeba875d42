// A registry held only in memory, for the tests: it can be told to fail chosen operations and
// records every call it serves.
#pragma once

#include <string>
#include <vector>

#include "tree_store.h"

class MemoryStore : public TreeStore {
 public:
  // Every RegCreateKeyExA under `root` fails with `status`, as for a user who may not write it.
  void FailCreatesUnder(HKEY root, LONG status = ERROR_ACCESS_DENIED);
  // The `number`-th RegCreateKeyExA from now on (1 for the next) fails with `status`.
  void FailCreateNumber(int number, LONG status = ERROR_ACCESS_DENIED);
  // Every SHDeleteKeyA under `root` fails with `status`.
  void FailDeletesUnder(HKEY root, LONG status = ERROR_ACCESS_DENIED);

  // One line per call: "create ROOT\path", "set name", "query name", "close", "delete
  // ROOT\path", followed by " -> status" when the status is not 0. "(default)" names the
  // default value, ROOT is HKCR, HKCU or a handle.
  const std::vector<std::string>& calls() const { return calls_; }
  void ClearCalls() { calls_.clear(); }

  // Each call below is recorded, then served by the tree unless a failure set up above applies.
  // Creates fail as FailCreatesUnder and FailCreateNumber say,
  LONG CreateKey(HKEY parent, const char* sub_key, REGSAM access, HKEY* result,
                 DWORD* disposition) override;
  // deletes as FailDeletesUnder says; the other calls never fail of themselves.
  LONG DeleteTree(HKEY parent, const char* sub_key) override;
  LONG SetValue(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) override;
  LONG QueryValue(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size) override;
  LONG CloseKey(HKEY key) override;

 private:
  LONG Record(std::string call, LONG status);

  HKEY failing_create_root_ = nullptr;
  LONG failing_create_status_ = ERROR_SUCCESS;
  int creates_until_failure_ = 0;
  LONG numbered_failure_status_ = ERROR_SUCCESS;
  HKEY failing_delete_root_ = nullptr;
  LONG failing_delete_status_ = ERROR_SUCCESS;
  std::vector<std::string> calls_;
};
