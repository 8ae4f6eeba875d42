#include "store_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

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
  if (read_all) text->resize(static_cast<size_t>(info.st_size) + 1);
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

StoreFile::StoreFile(std::string path) : path_(std::move(path)) {}

StoreFile::~StoreFile() {
  if (lock_fd_ >= 0) close(lock_fd_);
}

bool StoreFile::Open(std::string* text, bool* missing) {
  if (path_.empty()) return false;
  std::string folder = FolderOf(path_);
  if (!MakeFolders(folder)) return false;
  lock_fd_ = OpenRetrying(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (lock_fd_ < 0) return false;
  int locked;
  do {
    locked = flock(lock_fd_, LOCK_EX);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) return false;
  return ReadWhole(path_, text, missing);
}

bool StoreFile::Holds(std::string_view text) const {
  int fd = OpenRetrying(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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

bool StoreFile::Replace(std::string_view text) {
  if (lock_fd_ < 0) return false;
  // The name is fixed: the folder lock keeps every other run away from it, and one left by a
  // killed run is simply overwritten.
  std::string temporary = path_ + ".tmp";
  if (!WriteFile(temporary, text) || std::rename(temporary.c_str(), path_.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  // The rename itself is durable only once the folder is flushed.
  return SyncRetrying(lock_fd_);
}
