// The registry of the native program: one REGEDIT4 file, loaded once and written back once.
#pragma once

#include <string>
#include <string_view>

#include "store_file.h"
#include "tree_store.h"

// One run is one transaction over a StoreFile: the first operation locks and reads the file; a
// missing file is an empty registry. Changes stay in memory until Commit writes them back in
// one atomic replacement. A file that cannot be read or parsed makes every operation fail with
// ERROR_BADDB and is never rewritten.
class FileStore : public TreeStore {
 public:
  explicit FileStore(std::string path);

  // Writes this run's changes, if it made any. ERROR_SUCCESS also when there was nothing to
  // write; a failure leaves the file as it was.
  LONG Commit();

 protected:
  LONG Prepare() override;
  void Changed() override { changed_ = true; }

 private:
  LONG Load();
  // Whether the store holds `text` now; a missing store holds an empty registry's text.
  bool Holds(std::string_view text) const;

  StoreFile file_;
  // The text read, then the text written: one buffer, so that writing reuses the memory reading
  // took instead of touching as much again.
  std::string text_;
  bool stored_missing_ = false;  // the store was missing when read, and nothing was written
  size_t stored_size_ = 0;       // the store's size when read or last written
  LONG state_ = -1;              // -1 until the first operation, then its result
  bool changed_ = false;
};
