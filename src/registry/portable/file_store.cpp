#include "file_store.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "regedit_file.h"

namespace {

// The folder that holds `path`: its text before the last slash.
std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool IsFolder(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

// mkdir -p.
bool MakeFolders(std::string folder) {
  for (size_t end = 1; end <= folder.size(); ++end) {
    if (end < folder.size() && folder[end] != '/') continue;
    char saved = folder[end];  // the terminating NUL at the end
    folder[end] = '\0';
    bool made = mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST || IsFolder(folder.c_str());
    folder[end] = saved;
    if (!made) return false;
  }
  return true;
}

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool SyncRetrying(int fd) {
  int result;
  do {
    result = fsync(fd);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

// Room kept after the text read for what a run adds, so that the text written back fits the same
// buffer.
constexpr size_t kRoomToGrow = 64 * 1024;

// From this size on, a store's memory is asked for in huge pages: a run over a large store
// touches tens of megabytes for the first time, and taking the page faults 4 KiB at a time
// costs more than parsing and formatting together.
constexpr size_t kLargeStore = 1 << 20;
constexpr uintptr_t kHugePage = 2 << 20;
// glibc serves no heap block larger than its largest mmap threshold from the heap.
constexpr size_t kLargestHeapBlock = 32 << 20;

// Asks for huge pages wherever whole ones fit in [data, data + size).
void HintHugePages(void* data, size_t size) {
  uintptr_t start = (reinterpret_cast<uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) & ~(kHugePage - 1);
  if (start < end) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

// Grows the heap by `bytes` in one piece, in huge pages, before the tree's many small blocks
// are taken from it, and keeps it there when it is freed.
void PrepareHeap(size_t bytes) {
  bytes = std::min(bytes, kLargestHeapBlock - kHugePage);
  mallopt(M_MMAP_THRESHOLD, static_cast<int>(bytes + kHugePage));
  mallopt(M_TRIM_THRESHOLD, static_cast<int>(2 * bytes));
  if (void* block = std::malloc(bytes)) {
    HintHugePages(block, bytes);
    std::free(block);
  }
}

// Reads the whole of a regular file. A missing file sets *missing and succeeds.
bool ReadWhole(const std::string& path, std::string* text, bool* missing) {
  *missing = false;
  text->clear();
  // Non-blocking, so that a FIFO in the store's place is refused rather than waited on.
  int fd = OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *missing = errno == ENOENT;
    return *missing;
  }
  struct stat info;
  bool read_all = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  // Straight into the text, with a byte to spare to see the end at once; a file that grew
  // since fstat gets more room.
  size_t used = 0;
  if (read_all) {
    text->reserve(static_cast<size_t>(info.st_size) + kRoomToGrow);
    if (text->capacity() >= kLargeStore) HintHugePages(&(*text)[0], text->capacity());
    text->resize(static_cast<size_t>(info.st_size) + 1);
  }
  while (read_all) {
    if (used == text->size()) text->resize(2 * text->size());
    ssize_t count = read(fd, &(*text)[used], text->size() - used);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      read_all = count == 0;
      break;
    }
    used += static_cast<size_t>(count);
  }
  text->resize(used);
  close(fd);
  return read_all;
}

// Whether the regular file at `path` holds exactly `text`.
bool FileHolds(const std::string& path, std::string_view text) {
  int fd = OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info;
  bool same = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
              static_cast<size_t>(info.st_size) == text.size();
  char buffer[1 << 16];
  size_t compared = 0;
  while (same) {
    ssize_t count = read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      same = count == 0 && compared == text.size();
      break;
    }
    size_t size = static_cast<size_t>(count);
    same = size <= text.size() - compared && std::memcmp(buffer, text.data() + compared, size) == 0;
    compared += size;
  }
  close(fd);
  return same;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t count = write(fd, data.data(), data.size());
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    data.remove_prefix(static_cast<size_t>(count));
  }
  return true;
}

// Writes `text` to `path` and flushes it to the disk.
bool WriteFile(const std::string& path, std::string_view text) {
  // No following a link left in the temporary file's place: it would redirect the write.
  int fd = OpenRetrying(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return false;
  bool written = WriteAll(fd, text) && SyncRetrying(fd);
  // After a failed close the descriptor is gone all the same; EINTR leaves the data synced.
  if (close(fd) != 0 && errno != EINTR) written = false;
  return written;
}

}  // namespace

FileStore::FileStore(std::string path) : path_(std::move(path)) {}

FileStore::~FileStore() {
  if (lock_fd_ >= 0) close(lock_fd_);
}

LONG FileStore::Prepare() {
  if (state_ == -1) state_ = Load();
  return state_;
}

LONG FileStore::Load() {
  if (path_.empty()) return ERROR_BADDB;
  std::string folder = FolderOf(path_);
  if (!MakeFolders(folder)) return ERROR_BADDB;
  lock_fd_ = OpenRetrying(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (lock_fd_ < 0) return ERROR_BADDB;
  int locked;
  do {
    locked = flock(lock_fd_, LOCK_EX);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) return ERROR_BADDB;

  if (!ReadWhole(path_, &text_, &stored_missing_)) return ERROR_BADDB;
  stored_size_ = text_.size();
  // The tree takes about twice the text's size.
  if (text_.size() >= kLargeStore) PrepareHeap(2 * text_.size());
  RegistryTree loaded;
  if (!stored_missing_ && !ParseRegeditFile(text_, &loaded)) return ERROR_BADDB;
  tree() = std::move(loaded);
  return ERROR_SUCCESS;
}

bool FileStore::Holds(std::string_view text) const {
  // A run that leaves the registry empty creates no file.
  if (stored_missing_) return text == FormatRegeditFile(RegistryTree());
  // We hold the lock, so a store of the same size is read back only to compare.
  return text.size() == stored_size_ && FileHolds(path_, text);
}

LONG FileStore::Commit() {
  if (state_ == -1 || (state_ == ERROR_SUCCESS && !changed_)) return ERROR_SUCCESS;
  if (state_ != ERROR_SUCCESS) return state_;
  // Names holding a line break cannot be written; never leave a file the next run refuses.
  if (!FormatsExactly(tree())) return ERROR_CANTWRITE;
  FormatRegeditFile(tree(), &text_);
  const std::string& text = text_;
  if (Holds(text)) {
    changed_ = false;
    return ERROR_SUCCESS;
  }

  // The name is fixed: the folder lock keeps every other run away from it, and one left by a
  // killed run is simply overwritten.
  std::string temporary = path_ + ".tmp";
  if (!WriteFile(temporary, text) || std::rename(temporary.c_str(), path_.c_str()) != 0) {
    unlink(temporary.c_str());
    return ERROR_CANTWRITE;
  }
  stored_missing_ = false;
  stored_size_ = text.size();
  changed_ = false;
  // The rename itself is durable only once the folder is flushed.
  return SyncRetrying(lock_fd_) ? ERROR_SUCCESS : ERROR_CANTWRITE;
}
