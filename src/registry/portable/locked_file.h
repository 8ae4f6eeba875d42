// The store's file on disk for one run: locked, read once, and replaced atomically.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>
#include <vector>

#include "user_access.h"

// Why a LockedFile call failed.
enum class FileError {
  kNone,
  kNoPlace,     // the path leads nowhere a file may be: a link refused or broken, a folder not made
  kNotLocked,   // the folder's lock was not had within kLockWaitSeconds
  kUnreadable,  // no regular file that could be read whole stands at the store's name
  kChanged,     // another program changed the store since Open read it
  kNotOpen,     // Replace without a store that Open read, or a second Replace
  kDenied,      // the store or its folder may not be written, or not without leaving files there
  kNotWritten,  // the new text could not be written, given the store's attributes or put in place
};
// What a LockedFile call came to, with the errno of the system call that failed, where one did.
struct FileStatus {
  FileError error = FileError::kNone;
  int system_error = 0;
  bool failed() const { return error != FileError::kNone; }
};

// Open resolves symbolic links in the store's place to the file they lead to, makes its folder
// if missing, takes an exclusive advisory lock on that folder, so that runs started side by side
// take turns, and maps the whole file for reading: the text is the file's own pages, never
// copied. The lock is held until the LockedFile is destroyed. Replace writes a new temporary file
// in the same folder, gives it the store's mode, owner and extended attributes, flushes it and
// exchanges it with the store (renameat2), so a run killed at any moment leaves either the old
// file or the new one. A store that another program changed since Open is never replaced: what
// the exchange brought out must be the file Open read, or the other program's file goes back.
class LockedFile {
 public:
  // How long Open waits for a store that another process holds.
  static constexpr int kLockWaitSeconds = 5;
  // Temporary files are named `.<store's name><kTemporaryMarker>` and kTemporaryRandom letters
  // or digits, the store's name cut at the start of a UTF-8 character where the whole would
  // exceed the folder's limit of `name_max` bytes; a run that holds the lock removes those a
  // killed run left.
  static constexpr std::string_view kTemporaryMarker = ".lkspanreg-tmp-";
  static constexpr size_t kTemporaryRandom = 12;
  static constexpr long kNameMax = 255;  // where the file system does not say
  static std::string TemporaryPrefix(std::string_view store_name, long name_max = kNameMax);

  explicit LockedFile(std::string path);
  ~LockedFile();  // releases the lock
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

  // Locks the store, the first time, and maps it: *text holds it until the next Open or the
  // LockedFile's end. A missing file reads as empty and sets *missing. Fails when the store
  // cannot be locked within kLockWaitSeconds or mapped, when its path holds a symbolic link
  // that leads nowhere or another user's link in a shared sticky folder, and once the store was
  // seen changed.
  FileStatus Open(std::string_view* text, bool* missing);
  // Lets go of the store's mapped pages that hold only bytes before the end of `read`, a part of
  // the text Open gave that the process has read, from the page that holds read's start on:
  // they take no memory of the process until touched again, when they are read from the file
  // (Replace reads them again before it writes).
  void LetGo(std::string_view read);
  // Whether the store is still the file Open read: the same file, size, and modification and
  // change times (a rewrite of the same size within one tick of the file system's clock goes
  // unseen). Once it has changed, this and every later Open and Replace fail.
  bool Unchanged();
  // Puts the pieces, one after the other, in the store's place, once per Open. A failure leaves
  // the file as it was: also for a store the process may not write, and in a run as root that
  // followed another user's link, for a store or folder that user may not write; in an
  // append-only or immutable folder, and while a temporary file of the store stays that the run
  // could not remove, so that such a folder never collects more than one.
  FileStatus Replace(std::vector<std::string_view> pieces);

 private:
  FileStatus Lock();
  int CreateTemporary(std::string* name) const;
  void RemoveLeftovers();
  FileStatus PutInPlace(const std::string& temporary, const struct stat& written);
  FileStatus Placed();
  void CloseStore();

  std::string path_;
  std::string name_;          // the final target's name in its folder
  int folder_fd_ = -1;        // the final target's folder, locked
  int store_fd_ = -1;         // the store as Open read it, for its attributes
  bool existed_ = false;      // the store was there when read; then stat_ is its status
  bool opened_ = false;       // Open has read the store, and Replace not yet replaced it
  bool changed_ = false;      // the store was seen changed by another program
  bool stuck_ = false;        // a temporary file of the store could not be removed
  long name_max_ = kNameMax;  // the longest name the folder takes
  struct stat stat_ {};
  std::vector<LinkOwner> link_owners_;  // other users whose links a run as root followed
  void* map_ = nullptr;                 // the store's pages, map_size_ bytes
  size_t map_size_ = 0;
  bool let_go_ = false;  // LetGo gave some of them back: Replace reads them again at once
  std::string copy_;     // the store's text where it could not be mapped
};
