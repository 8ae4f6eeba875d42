#include "file_store.h"

#include <utility>

#include "regedit_file.h"

FileStore::FileStore(std::string path) : file_(std::move(path)) {}

LONG FileStore::Prepare() {
  if (state_ == -1) state_ = Load();
  return state_;
}

LONG FileStore::Load() {
  if (!file_.Open(&text_, &stored_missing_)) return ERROR_BADDB;
  stored_size_ = text_.size();
  RegistryTree loaded;
  if (!stored_missing_ && !ParseRegeditFile(text_, &loaded)) return ERROR_BADDB;
  tree() = std::move(loaded);
  return ERROR_SUCCESS;
}

bool FileStore::Holds(std::string_view text) const {
  // A run that leaves the registry empty creates no file.
  if (stored_missing_) return text == FormatRegeditFile(RegistryTree());
  // We hold the lock, so a store of the same size is read back only to compare.
  return text.size() == stored_size_ && file_.Holds(text);
}

LONG FileStore::Commit() {
  if (state_ == -1 || (state_ == ERROR_SUCCESS && !changed_)) return ERROR_SUCCESS;
  if (state_ != ERROR_SUCCESS) return state_;
  // Names holding a line break cannot be written; never leave a file the next run refuses.
  if (!FormatsExactly(tree())) return ERROR_CANTWRITE;
  FormatRegeditFile(tree(), &text_);
  if (Holds(text_)) {
    changed_ = false;
    return ERROR_SUCCESS;
  }
  if (!file_.Replace(text_)) return ERROR_CANTWRITE;
  stored_missing_ = false;
  stored_size_ = text_.size();
  changed_ = false;
  return ERROR_SUCCESS;
}
