// The store's file on disk for one run: locked, read once, and replaced atomically.
#pragma once

#include <string>
#include <string_view>

// The first Open takes an exclusive advisory lock on the store's folder (made if missing), so
// that runs started side by side take turns, and reads the whole file. The lock is held until
// the StoreFile is destroyed. Replace writes a temporary file in the same folder, flushes it and
// renames it over the store, so a run killed at any moment leaves either the old file or the new
// one.
class StoreFile {
 public:
  explicit StoreFile(std::string path);
  ~StoreFile();  // releases the lock
  StoreFile(const StoreFile&) = delete;
  StoreFile& operator=(const StoreFile&) = delete;

  // Locks the store and reads it into *text; a missing file reads as empty and sets *missing.
  // False when the store cannot be locked or read.
  bool Open(std::string* text, bool* missing);
  // Whether the file holds exactly `text`, read back under the lock to compare.
  bool Holds(std::string_view text) const;
  // Puts `text` in the store's place. False leaves the file as it was.
  bool Replace(std::string_view text);

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int lock_fd_ = -1;
};
