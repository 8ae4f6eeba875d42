// The store's file on disk for one run: locked, read once, and replaced atomically.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>

// Open resolves symbolic links in the store's place to the file they lead to, makes its folder
// if missing, takes an exclusive advisory lock on that folder, so that runs started side by side
// take turns, and reads the whole file. The lock is held until the StoreFile is destroyed.
// Replace writes a new temporary file in the same folder, gives it the store's mode and owner,
// flushes it and renames it over the store, so a run killed at any moment leaves either the old
// file or the new one.
class StoreFile {
 public:
  // How long Open waits for a store that another process holds.
  static constexpr int kLockWaitSeconds = 5;
  // Temporary files are named `<store's name><kTemporaryInfix><6 letters or digits>`; a run that
  // holds the lock removes those a killed run left.
  static constexpr std::string_view kTemporaryInfix = ".lkspanreg-";
  // Room the text is read into beyond the file's size, so that a run's edits fit in place.
  static constexpr size_t kEditRoom = 64 << 10;

  explicit StoreFile(std::string path);
  ~StoreFile();  // releases the lock
  StoreFile(const StoreFile&) = delete;
  StoreFile& operator=(const StoreFile&) = delete;

  // Locks the store and reads it into *text; a missing file reads as empty and sets *missing.
  // False when the store cannot be locked within kLockWaitSeconds or read, and when it is a
  // symbolic link that leads nowhere.
  bool Open(std::string* text, bool* missing);
  // Puts `text` in the store's place. False leaves the file as it was.
  bool Replace(std::string_view text);

 private:
  int OpenStore(int flags) const;
  int CreateTemporary(std::string* name) const;
  void RemoveLeftovers() const;

  std::string path_;
  std::string name_;      // the final target's name in its folder
  int folder_fd_ = -1;    // the final target's folder, locked
  bool existed_ = false;  // the store was there when read; then stat_ is its status
  struct stat stat_ {};
};
