#include "memory_store.h"

namespace {

std::string RootName(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return "HKCR";
  if (key == HKEY_CURRENT_USER) return "HKCU";
  return "handle";
}

std::string ValueName(const char* name) {
  return *name == '\0' ? "(default)" : name;
}

}  // namespace

void MemoryStore::FailCreatesUnder(HKEY root, LONG status) {
  failing_create_root_ = root;
  failing_create_status_ = status;
}

void MemoryStore::FailCreateNumber(int number, LONG status) {
  creates_until_failure_ = number;
  numbered_failure_status_ = status;
}

void MemoryStore::FailDeletesUnder(HKEY root, LONG status) {
  failing_delete_root_ = root;
  failing_delete_status_ = status;
}

LONG MemoryStore::Record(std::string call, LONG status) {
  if (status != ERROR_SUCCESS) call += " -> " + std::to_string(status);
  calls_.push_back(std::move(call));
  return status;
}

LONG MemoryStore::CreateKey(HKEY parent, const char* sub_key, REGSAM access, HKEY* result,
                            DWORD* disposition) {
  std::string call = "create " + RootName(parent) + "\\" + sub_key;
  if (creates_until_failure_ > 0 && --creates_until_failure_ == 0) {
    return Record(call, numbered_failure_status_);
  }
  if (parent == failing_create_root_) return Record(call, failing_create_status_);
  return Record(call, TreeStore::CreateKey(parent, sub_key, access, result, disposition));
}

LONG MemoryStore::SetValue(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) {
  return Record("set " + ValueName(name), TreeStore::SetValue(key, name, type, data, size));
}

LONG MemoryStore::QueryValue(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size) {
  return Record("query " + ValueName(name), TreeStore::QueryValue(key, name, type, data, size));
}

LONG MemoryStore::CloseKey(HKEY key) {
  return Record("close", TreeStore::CloseKey(key));
}

LONG MemoryStore::DeleteTree(HKEY parent, const char* sub_key) {
  std::string call = "delete " + RootName(parent) + "\\" + sub_key;
  if (parent == failing_delete_root_) return Record(call, failing_delete_status_);
  return Record(call, TreeStore::DeleteTree(parent, sub_key));
}
