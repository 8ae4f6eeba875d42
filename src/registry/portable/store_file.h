// The store's file on disk for one run: locked, read once, and replaced atomically.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>
#include <vector>

// Open resolves symbolic links in the store's place to the file they lead to, makes its folder
// if missing, takes an exclusive advisory lock on that folder, so that runs started side by side
// take turns, and maps the whole file for reading: the text is the file's own pages, never
// copied. The lock is held until the StoreFile is destroyed. Replace writes a new temporary file
// in the same folder, gives it the store's mode and owner, flushes it and renames it over the
// store, so a run killed at any moment leaves either the old file or the new one.
class StoreFile {
 public:
  // How long Open waits for a store that another process holds.
  static constexpr int kLockWaitSeconds = 5;
  // Temporary files are named `<store's name><kTemporaryInfix><6 letters or digits>`; a run that
  // holds the lock removes those a killed run left.
  static constexpr std::string_view kTemporaryInfix = ".lkspanreg-";

  explicit StoreFile(std::string path);
  ~StoreFile();  // releases the lock
  StoreFile(const StoreFile&) = delete;
  StoreFile& operator=(const StoreFile&) = delete;

  // Locks the store, the first time, and maps it: *text holds it until the next Open or the
  // StoreFile's end. A missing file reads as empty and sets *missing. False when the store
  // cannot be locked within kLockWaitSeconds or mapped, and when it is a symbolic link that
  // leads nowhere.
  bool Open(std::string_view* text, bool* missing);
  // Puts the pieces, one after the other, in the store's place. False leaves the file as it was.
  bool Replace(std::vector<std::string_view> pieces);

 private:
  bool Lock();
  int OpenStore(int flags) const;
  int CreateTemporary(std::string* name) const;
  void RemoveLeftovers() const;

  std::string path_;
  std::string name_;      // the final target's name in its folder
  int folder_fd_ = -1;    // the final target's folder, locked
  bool existed_ = false;  // the store was there when read; then stat_ is its status
  struct stat stat_ {};
  void* map_ = nullptr;  // the store's pages, map_size_ bytes
  size_t map_size_ = 0;
  std::string copy_;  // the store's text where it could not be mapped
};
