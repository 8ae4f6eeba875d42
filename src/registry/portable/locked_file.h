// The store's file on disk for one run: locked, read once, and replaced atomically.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>
#include <vector>

#include "user_access.h"

// Open resolves symbolic links in the store's place to the file they lead to, makes its folder
// if missing, takes an exclusive advisory lock on that folder, so that runs started side by side
// take turns, and maps the whole file for reading: the text is the file's own pages, never
// copied. The lock is held until the LockedFile is destroyed. Replace writes a new temporary file
// in the same folder, gives it the store's mode, owner and extended attributes, flushes it and
// renames it over the store, so a run killed at any moment leaves either the old file or the new
// one. A store that another program changed since Open is never replaced.
class LockedFile {
 public:
  // How long Open waits for a store that another process holds.
  static constexpr int kLockWaitSeconds = 5;
  // Temporary files are named `.<store's name><kTemporaryMarker>` and kTemporaryRandom letters
  // or digits; a run that holds the lock removes those a killed run left.
  static constexpr std::string_view kTemporaryMarker = ".lkspanreg-tmp-";
  static constexpr size_t kTemporaryRandom = 12;
  static std::string TemporaryPrefix(std::string_view store_name);

  explicit LockedFile(std::string path);
  ~LockedFile();  // releases the lock
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

  // Locks the store, the first time, and maps it: *text holds it until the next Open or the
  // LockedFile's end. A missing file reads as empty and sets *missing. False when the store
  // cannot be locked within kLockWaitSeconds or mapped, when it is a symbolic link that leads
  // nowhere, and once the store was seen changed.
  bool Open(std::string_view* text, bool* missing);
  // Whether the store is still the file Open read: the same file, size, and modification and
  // change times (a rewrite of the same size within one tick of the file system's clock goes
  // unseen). Once it has changed, this and every later Open and Replace fail.
  bool Unchanged();
  // Puts the pieces, one after the other, in the store's place, once per Open. False leaves the
  // file as it was: also for a store the process may not write, and in a run as root that
  // followed another user's link, for a store or folder that user may not write.
  bool Replace(std::vector<std::string_view> pieces);

 private:
  bool Lock();
  int CreateTemporary(std::string* name) const;
  void RemoveLeftovers() const;
  void CloseStore();

  std::string path_;
  std::string name_;      // the final target's name in its folder
  int folder_fd_ = -1;    // the final target's folder, locked
  int store_fd_ = -1;     // the store as Open read it, for its attributes
  bool existed_ = false;  // the store was there when read; then stat_ is its status
  bool opened_ = false;   // Open has read the store, and Replace not yet replaced it
  bool changed_ = false;  // the store was seen changed by another program
  struct stat stat_ {};
  std::vector<LinkOwner> link_owners_;  // other users whose links a run as root followed
  void* map_ = nullptr;                 // the store's pages, map_size_ bytes
  size_t map_size_ = 0;
  std::string copy_;  // the store's text where it could not be mapped
};
