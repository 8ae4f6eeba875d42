#include "store_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

namespace {

constexpr size_t kTemporarySuffixLength = 6;
constexpr char kTemporaryAlphabet[] =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

int OpenRetrying(int folder, const char* name, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = openat(folder, name, flags | O_CLOEXEC, mode);
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

// The file `path` leads to: the path itself, or the final target when it is a symbolic link.
// False for a link that leads nowhere: following it would create a file wherever the link
// points, which a link planted for a run as root must not achieve.
bool FinalTarget(const std::string& path, std::string* target) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
    *target = path;
    return true;
  }
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return false;
  *target = resolved;
  std::free(resolved);
  return true;
}

// Makes the folder `name` in `parent` (mode 0700, as the XDG base directory rules ask) and opens
// it. Root gives a folder it made the owner and group of the folder above, so that what a run as
// root makes inside a user's home stays the user's.
int MakeFolder(int parent, const char* name) {
  bool made = mkdirat(parent, name, 0700) == 0;
  if (!made && errno != EEXIST) return -1;
  // Never through a link that took the new folder's place.
  int fd = OpenRetrying(parent, name, O_PATH | O_DIRECTORY | O_NOFOLLOW);
  struct stat above;
  if (fd >= 0 && made && geteuid() == 0 && fstat(parent, &above) == 0) {
    fchownat(fd, "", above.st_uid, above.st_gid, AT_EMPTY_PATH);  // best effort
  }
  return fd;
}

// Opens `folder` for reading, making the folders that are missing on the way (mkdir -p).
int OpenFolders(const std::string& folder) {
  int at = OpenRetrying(AT_FDCWD, folder[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY);
  for (size_t begin = 0; at >= 0 && begin < folder.size();) {
    size_t end = folder.find('/', begin);
    if (end == std::string::npos) end = folder.size();
    std::string part = folder.substr(begin, end - begin);
    begin = end + 1;
    if (part.empty()) continue;
    int next = OpenRetrying(at, part.c_str(), O_PATH | O_DIRECTORY);
    if (next < 0 && errno == ENOENT) next = MakeFolder(at, part.c_str());
    close(at);
    at = next;
  }
  if (at < 0) return -1;
  int fd = OpenRetrying(at, ".", O_RDONLY | O_DIRECTORY);
  close(at);
  return fd;
}

// Waits up to kLockWaitSeconds for the exclusive lock; a holder that is stopped or hung only
// makes this run give up.
bool LockWithin(int fd) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::seconds(StoreFile::kLockWaitSeconds);
  long pause_ns = 1000000;
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if ((errno != EWOULDBLOCK && errno != EINTR) || Clock::now() >= end) return false;
    timespec pause = {0, pause_ns};
    nanosleep(&pause, nullptr);
    pause_ns = pause_ns < 25000000 ? 2 * pause_ns : 50000000;
  }
  return true;
}

// Reads `size` bytes of `fd` into *text; false when the file ends sooner or cannot be read.
bool ReadAll(int fd, size_t size, std::string* text) {
  text->resize(size);
  for (size_t used = 0; used < size;) {
    ssize_t count = read(fd, &(*text)[used], size - used);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    used += static_cast<size_t>(count);
  }
  return true;
}

// Writes the pieces one after the other, as few calls as the system allows.
bool WriteAll(int fd, std::vector<std::string_view> pieces) {
  constexpr size_t kBatch = IOV_MAX;
  for (size_t next = 0;;) {
    while (next < pieces.size() && pieces[next].empty()) ++next;
    if (next == pieces.size()) return true;
    iovec batch[kBatch];
    int count = 0;
    for (size_t i = next; i < pieces.size() && count < static_cast<int>(kBatch); ++i) {
      batch[count++] = iovec{const_cast<char*>(pieces[i].data()), pieces[i].size()};
    }
    ssize_t written = writev(fd, batch, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    for (size_t left = static_cast<size_t>(written); left > 0;) {
      size_t taken = std::min(left, pieces[next].size());
      pieces[next].remove_prefix(taken);
      left -= taken;
      if (pieces[next].empty()) ++next;
    }
  }
}

bool IsTemporaryOf(std::string_view entry, std::string_view store) {
  std::string_view infix = StoreFile::kTemporaryInfix;
  if (entry.size() != store.size() + infix.size() + kTemporarySuffixLength ||
      entry.substr(0, store.size()) != store || entry.substr(store.size(), infix.size()) != infix) {
    return false;
  }
  for (char c : entry.substr(store.size() + infix.size())) {
    if (std::strchr(kTemporaryAlphabet, c) == nullptr) return false;
  }
  return true;
}

}  // namespace

StoreFile::StoreFile(std::string path) : path_(std::move(path)) {}

StoreFile::~StoreFile() {
  if (map_ != nullptr) munmap(map_, map_size_);
  if (folder_fd_ >= 0) close(folder_fd_);
}

bool StoreFile::Lock() {
  std::string target;
  if (path_.empty() || !FinalTarget(path_, &target)) return false;
  size_t slash = target.rfind('/');
  name_ = slash == std::string::npos ? target : target.substr(slash + 1);
  if (name_.empty()) return false;
  int folder = OpenFolders(slash == std::string::npos ? std::string(".")
                           : slash == 0               ? std::string("/")
                                                      : target.substr(0, slash));
  if (folder < 0) return false;
  if (!LockWithin(folder)) {
    close(folder);
    return false;
  }
  folder_fd_ = folder;
  RemoveLeftovers();
  return true;
}

bool StoreFile::Open(std::string_view* text, bool* missing) {
  *text = {};
  *missing = false;
  if (map_ != nullptr) munmap(map_, map_size_);
  map_ = nullptr;
  if (folder_fd_ < 0 && !Lock()) return false;
  // Non-blocking, so that a FIFO in the store's place is refused rather than waited on.
  int fd = OpenStore(O_RDONLY | O_NONBLOCK);
  if (fd < 0) {
    *missing = errno == ENOENT;
    return *missing;
  }
  existed_ = fstat(fd, &stat_) == 0 && S_ISREG(stat_.st_mode);
  map_size_ = existed_ ? static_cast<size_t>(stat_.st_size) : 0;
  // A file larger than the process can address (in a 32-bit build) is refused, never cut short.
  existed_ = existed_ && static_cast<off_t>(map_size_) == stat_.st_size;
  if (existed_ && map_size_ > 0) {
    // Read where the file's pages already are, without a copy; a file system that cannot map
    // files (FUSE with direct I/O, for one) has the file read into memory instead.
    map_ = mmap(nullptr, map_size_, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map_ == MAP_FAILED) map_ = nullptr;
    existed_ = map_ != nullptr || ReadAll(fd, map_size_, &copy_);
    if (existed_) {
      *text = map_ != nullptr ? std::string_view(static_cast<const char*>(map_), map_size_)
                              : std::string_view(copy_);
    }
  }
  close(fd);
  return existed_;
}

int StoreFile::OpenStore(int flags) const {
  // The name was resolved before locking; a link put in its place since is refused.
  return OpenRetrying(folder_fd_, name_.c_str(), flags | O_NOFOLLOW);
}

int StoreFile::CreateTemporary(std::string* name) const {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  uint64_t state = static_cast<uint64_t>(getpid()) << 32 ^ static_cast<uint64_t>(now.tv_nsec) ^
                   static_cast<uint64_t>(now.tv_sec) << 20;
  // A copy of a store that exists starts private and takes the store's mode once it has the
  // store's owner; a new store is made as any file the user creates (0666 less the umask).
  const mode_t mode = existed_ ? 0600 : 0666;
  for (int attempt = 0; attempt < 100; ++attempt) {
    *name = name_;
    name->append(kTemporaryInfix);
    for (size_t i = 0; i < kTemporarySuffixLength; ++i) {
      state = state * 6364136223846793005u + 1442695040888963407u;
      name->push_back(kTemporaryAlphabet[(state >> 33) % (sizeof kTemporaryAlphabet - 1)]);
    }
    // Always a new file of this run's own: never one that was there, never through a link.
    int fd =
        OpenRetrying(folder_fd_, name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

void StoreFile::RemoveLeftovers() const {
  int fd = OpenRetrying(folder_fd_, ".", O_RDONLY | O_DIRECTORY);
  DIR* folder = fd < 0 ? nullptr : fdopendir(fd);
  if (folder == nullptr) {
    if (fd >= 0) close(fd);
    return;
  }
  while (const dirent* entry = readdir(folder)) {
    struct stat info;
    // Only regular files: never a link's target, a FIFO or a folder of that name.
    if (IsTemporaryOf(entry->d_name, name_) &&
        fstatat(folder_fd_, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(info.st_mode)) {
      unlinkat(folder_fd_, entry->d_name, 0);
    }
  }
  closedir(folder);
}

bool StoreFile::Replace(std::vector<std::string_view> pieces) {
  if (folder_fd_ < 0) return false;
  std::string temporary;
  int fd = CreateTemporary(&temporary);
  if (fd < 0) return false;
  bool written = true;
  if (existed_) {
    // Owner first, where the process may: a change of owner clears the set-ID bits.
    if (fchown(fd, stat_.st_uid, stat_.st_gid) != 0)
      fchown(fd, static_cast<uid_t>(-1), stat_.st_gid);
    written = fchmod(fd, stat_.st_mode & 07777) == 0;
  } else if (geteuid() == 0) {
    // A new store made by root in a user's folder is the user's, as the folders above it are.
    struct stat folder;
    if (fstat(folder_fd_, &folder) == 0) fchown(fd, folder.st_uid, folder.st_gid);
  }
  written =
      written && WriteAll(fd, std::move(pieces)) && SyncRetrying(fd) && fstat(fd, &stat_) == 0;
  // After a failed close the descriptor is gone all the same; EINTR leaves the data synced.
  if (close(fd) != 0 && errno != EINTR) written = false;
  if (!written || renameat(folder_fd_, temporary.c_str(), folder_fd_, name_.c_str()) != 0) {
    unlinkat(folder_fd_, temporary.c_str(), 0);
    return false;
  }
  existed_ = true;
  // The rename itself is durable only once the folder is flushed.
  return SyncRetrying(folder_fd_);
}
