#include "locked_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <utility>

#include "file_attributes.h"

namespace {

constexpr char kTemporaryAlphabet[] =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
// As the kernel: a path that goes through more links than this loops.
constexpr int kMaxLinks = 40;

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

// A name of the path still to walk; `from_link` when a link's text holds it.
struct Step {
  std::string name;
  bool from_link;
};

// Puts the names of `path` on the stack *steps, its first name on top.
void PushSteps(std::string_view path, bool from_link, std::vector<Step>* steps) {
  size_t bottom = steps->size();
  for (size_t begin = 0; begin < path.size();) {
    size_t end = std::min(path.find('/', begin), path.size());
    if (end > begin) steps->push_back({std::string(path.substr(begin, end - begin)), from_link});
    begin = end + 1;
  }
  std::reverse(steps->begin() + static_cast<std::ptrdiff_t>(bottom), steps->end());
}

// The text of the link `fd` (opened with O_PATH | O_NOFOLLOW); false when it is empty or too long.
bool ReadLink(int fd, std::string* text) {
  text->resize(PATH_MAX);
  ssize_t size = readlinkat(fd, "", &(*text)[0], text->size());
  if (size <= 0 || static_cast<size_t>(size) >= text->size()) return false;
  text->resize(static_cast<size_t>(size));
  return true;
}

// The walk below in two system calls, for a path without links whose folders all exist, as most
// are: its folder opened where no link stands on the way (openat2 refuses them all) and its last
// name that is no link, or missing. -1 for any other path, and where the system has no openat2:
// the walk decides those.
int OpenFolderWithoutLinks(const std::string& path, std::string* name) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  open_how how{};
  how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS;
  long fd;
  do {
    fd = syscall(SYS_openat2, AT_FDCWD, folder.c_str(), &how, sizeof how);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  *name = path.substr(slash + 1);
  struct stat info;
  if (fstatat(static_cast<int>(fd), name->c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0
          ? S_ISLNK(info.st_mode)
          : errno != ENOENT) {
    name->clear();
    close(static_cast<int>(fd));
    return -1;
  }
  return static_cast<int>(fd);
}

// Opens, for reading, the folder of the file `path` leads to, and sets *name to that file's name
// there. Links are followed here, one name at a time, so that the run knows whose links led it:
// a run as root adds to *owners each other user whose link it followed, and makes a missing
// folder (mkdir -p) only where all of them could. A name a link holds is never made: a link that
// leads nowhere is not followed, so that a link planted for a run as root cannot make it create
// a file where the link points.
int OpenStoreFolder(const std::string& path, std::string* name, std::vector<LinkOwner>* owners) {
  name->clear();
  if (path.empty() || path.back() == '/') return -1;
  if (int folder = OpenFolderWithoutLinks(path, name); folder >= 0) return folder;
  std::vector<Step> steps;
  PushSteps(path, false, &steps);
  int at = OpenRetrying(AT_FDCWD, path[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY);
  std::string link;
  for (int links = 0; at >= 0 && !steps.empty();) {
    const Step step = std::move(steps.back());
    steps.pop_back();
    struct stat info;
    int next = OpenRetrying(at, step.name.c_str(), O_PATH | O_NOFOLLOW);
    const bool missing = next < 0 && errno == ENOENT && !step.from_link;
    if (next >= 0 && fstat(next, &info) != 0) {
      close(next);
      next = -1;
    }
    if (next >= 0 && S_ISLNK(info.st_mode)) {
      // As the kernel's protected_symlinks, whatever that setting: in a sticky folder that
      // everyone may write (/tmp), only the runner's links and the folder owner's are followed.
      struct stat folder;
      const bool trusted =
          fstat(at, &folder) == 0 && ((~folder.st_mode & (S_ISVTX | S_IWOTH)) != 0 ||
                                      info.st_uid == geteuid() || info.st_uid == folder.st_uid);
      const bool followed = trusted && ++links <= kMaxLinks && ReadLink(next, &link);
      close(next);
      if (followed && geteuid() == 0 && info.st_uid != 0 &&
          std::none_of(owners->begin(), owners->end(),
                       [&](const LinkOwner& owner) { return owner.uid == info.st_uid; })) {
        owners->push_back({info.st_uid, info.st_gid});
      }
      if (!followed || link[0] == '/') {
        close(at);
        at = followed ? OpenRetrying(AT_FDCWD, "/", O_PATH | O_DIRECTORY) : -1;
      }
      PushSteps(link, true, &steps);
      continue;
    }
    if (steps.empty()) {  // the file's own name
      if (next >= 0 || missing) *name = step.name;
      if (next >= 0) close(next);
      next = !name->empty() ? OpenRetrying(at, ".", O_RDONLY | O_DIRECTORY) : -1;
    } else if (missing) {
      next = UsersMayWrite(*owners, at, {"."}) ? MakeFolder(at, step.name.c_str()) : -1;
    } else if (next >= 0 && !S_ISDIR(info.st_mode)) {
      close(next);
      next = -1;
    }
    close(at);
    at = next;
  }
  return at;
}

// Waits up to kLockWaitSeconds for the exclusive lock; a holder that is stopped or hung only
// makes this run give up.
bool LockWithin(int fd) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::seconds(LockedFile::kLockWaitSeconds);
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
  // On the heap: IOV_MAX entries are 16 KiB, too much for a small stack.
  std::vector<iovec> batch(std::min<size_t>(pieces.size(), IOV_MAX));
  for (size_t next = 0;;) {
    while (next < pieces.size() && pieces[next].empty()) ++next;
    if (next == pieces.size()) return true;
    int count = 0;
    for (size_t i = next; i < pieces.size() && count < static_cast<int>(batch.size()); ++i) {
      batch[count++] = iovec{const_cast<char*>(pieces[i].data()), pieces[i].size()};
    }
    ssize_t written = writev(fd, batch.data(), count);
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

// Whether `entry` is a temporary file's name of the store whose names start with `prefix`.
bool IsTemporaryOf(std::string_view entry, std::string_view prefix) {
  if (entry.size() != prefix.size() + LockedFile::kTemporaryRandom ||
      entry.substr(0, prefix.size()) != prefix) {
    return false;
  }
  for (char c : entry.substr(prefix.size())) {
    if (std::strchr(kTemporaryAlphabet, c) == nullptr) return false;
  }
  return true;
}

FileStatus Failed(FileError error) {
  return {error, errno};
}

// Whether `a` and `b` are the same file of the same size, last modified at the same moment.
bool SameContent(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// The same, also changed at the same moment.
bool SameVersion(const struct stat& a, const struct stat& b) {
  return SameContent(a, b) && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
         a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// Whether `name` in `folder` is the file `file` with the same content, not through a link.
bool Holds(int folder, const std::string& name, const struct stat& file) {
  struct stat now;
  return fstatat(folder, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && SameContent(now, file);
}

}  // namespace

std::string LockedFile::TemporaryPrefix(std::string_view store_name, long name_max) {
  const long fixed = static_cast<long>(1 + kTemporaryMarker.size() + kTemporaryRandom);
  size_t room = static_cast<size_t>(std::max(name_max - fixed, 0L));
  if (store_name.size() > room) {
    while (room > 0 && (store_name[room] & 0xC0) == 0x80) --room;  // inside a UTF-8 character
    store_name = store_name.substr(0, room);
  }
  std::string prefix = ".";
  prefix.append(store_name);
  prefix.append(kTemporaryMarker);
  return prefix;
}

LockedFile::LockedFile(std::string path) : path_(std::move(path)) {}

LockedFile::~LockedFile() {
  CloseStore();
  if (folder_fd_ >= 0) close(folder_fd_);
}

void LockedFile::CloseStore() {
  if (map_ != nullptr) munmap(map_, map_size_);
  map_ = nullptr;
  if (store_fd_ >= 0) close(store_fd_);
  store_fd_ = -1;
}

void LockedFile::LetGo(std::string_view read) {
  const auto at = reinterpret_cast<uintptr_t>(read.data());
  const auto map = reinterpret_cast<uintptr_t>(map_);
  if (map_ == nullptr || at < map || at + read.size() > map + map_size_) return;
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t from = at / page * page;
  const uintptr_t to = (at + read.size()) / page * page;
  // A private mapping that was only read: the same bytes come back from the file.
  if (from < to) let_go_ |= madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED) == 0;
}

FileStatus LockedFile::Lock() {
  int folder = OpenStoreFolder(path_, &name_, &link_owners_);
  if (folder < 0) return {FileError::kNoPlace};
  if (!LockWithin(folder)) {
    FileStatus status = Failed(FileError::kNotLocked);
    close(folder);
    return status;
  }
  folder_fd_ = folder;
  const long name_max = fpathconf(folder, _PC_NAME_MAX);
  name_max_ = name_max > 0 ? name_max : kNameMax;
  RemoveLeftovers();
  return {};
}

FileStatus LockedFile::Open(std::string_view* text, bool* missing) {
  *text = {};
  *missing = false;
  CloseStore();
  opened_ = existed_ = false;
  if (changed_) return {FileError::kChanged};
  if (FileStatus locked = folder_fd_ < 0 ? Lock() : FileStatus{}; locked.failed()) return locked;
  // Non-blocking, so that a FIFO in the store's place is refused rather than waited on. The name
  // was resolved before locking; a link put in its place since is refused.
  store_fd_ = OpenRetrying(folder_fd_, name_.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW);
  if (store_fd_ < 0) {
    opened_ = *missing = errno == ENOENT;
    return opened_ ? FileStatus{} : Failed(FileError::kUnreadable);
  }
  if (fstat(store_fd_, &stat_) != 0) return Failed(FileError::kUnreadable);
  map_size_ = static_cast<size_t>(stat_.st_size);
  // A file larger than the process can address (in a 32-bit build) is refused, never cut short.
  if (!S_ISREG(stat_.st_mode) || static_cast<off_t>(map_size_) != stat_.st_size) {
    return {FileError::kUnreadable};
  }
  if (map_size_ > 0) {
    // Read where the file's pages already are, without a copy; a file system that cannot map
    // files (FUSE with direct I/O, for one) has the file read into memory instead.
    map_ = mmap(nullptr, map_size_, PROT_READ, MAP_PRIVATE, store_fd_, 0);
    if (map_ == MAP_FAILED) map_ = nullptr;
    if (map_ == nullptr && !ReadAll(store_fd_, map_size_, &copy_)) {
      return Failed(FileError::kUnreadable);
    }
    *text = map_ != nullptr ? std::string_view(static_cast<const char*>(map_), map_size_)
                            : std::string_view(copy_);
  }
  opened_ = existed_ = true;
  return {};
}

bool LockedFile::Unchanged() {
  struct stat now;
  if (fstatat(folder_fd_, name_.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0) {
    changed_ |= !existed_ || !SameVersion(now, stat_);
  } else {
    changed_ |= existed_ || errno != ENOENT;
  }
  return !changed_;
}

int LockedFile::CreateTemporary(std::string* name) const {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  uint64_t state = static_cast<uint64_t>(now.tv_nsec) ^ static_cast<uint64_t>(now.tv_sec) << 20;
  uint64_t random = 0;
  // Without random bytes, the process ID keeps runs started at the same moment apart.
  state ^= getrandom(&random, sizeof random, GRND_NONBLOCK) == sizeof random
               ? random
               : static_cast<uint64_t>(getpid()) << 32;
  // A copy of a store that exists starts private and takes the store's mode once it has the
  // store's owner; a new store is made as any file the user creates (0666 less the umask).
  const mode_t mode = existed_ ? 0600 : 0666;
  for (int attempt = 0; attempt < 100; ++attempt) {
    *name = TemporaryPrefix(name_, name_max_);
    for (size_t i = 0; i < kTemporaryRandom; ++i) {
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

void LockedFile::RemoveLeftovers() {
  // Only what a run leaves: a regular file of a temporary's name (never a link's target, a FIFO
  // or a folder), of this process's user or the store's owner, asked once there is one.
  uid_t me = 0, owner = 0;
  bool asked = false;
  const auto removable = [&](uid_t user) {
    if (!asked) {
      struct stat store;
      me = geteuid();
      owner =
          fstatat(folder_fd_, name_.c_str(), &store, AT_SYMLINK_NOFOLLOW) == 0 ? store.st_uid : me;
      asked = true;
    }
    return user == me || user == owner;
  };
  const std::string prefix = TemporaryPrefix(name_, name_max_);
  // The folder's entries, read through the locked descriptor itself, once, as readdir would.
  constexpr size_t kListSize = 32768;
  std::unique_ptr<char[]> list(new char[kListSize]);
  for (;;) {
    const ssize_t size = getdents64(folder_fd_, list.get(), kListSize);
    if (size < 0 && errno == EINTR) continue;
    if (size <= 0) return;
    for (ssize_t at = 0; at < size;) {
      const auto* entry = reinterpret_cast<const dirent64*>(list.get() + at);
      at += entry->d_reclen;
      struct stat info;
      if (IsTemporaryOf(entry->d_name, prefix) &&
          fstatat(folder_fd_, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISREG(info.st_mode) && removable(info.st_uid)) {
        stuck_ |= unlinkat(folder_fd_, entry->d_name, 0) != 0;
      }
    }
  }
}

FileStatus LockedFile::Replace(std::vector<std::string_view> pieces) {
  if (changed_ || !opened_) return {changed_ ? FileError::kChanged : FileError::kNotOpen};
  // In an append-only or immutable folder, or where a temporary file could not be removed, this
  // run's could not be removed either: nothing is written, so that none pile up.
  int flags = 0;
  if (stuck_ || (ioctl(folder_fd_, FS_IOC_GETFLAGS, &flags) == 0 &&
                 (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0)) {
    return {FileError::kDenied};
  }
  // A store its user may not write stays as it is, as a registry key does (root may, as the
  // kernel lets it); and where a run as root followed other users' links, each of them must be
  // able to write the folder and the store.
  if (existed_ && faccessat(folder_fd_, name_.c_str(), W_OK, AT_EACCESS) != 0) {
    return Failed(FileError::kDenied);
  }
  if (!UsersMayWrite(
          link_owners_, folder_fd_,
          existed_ ? std::vector<std::string>{".", name_} : std::vector<std::string>{"."})) {
    return {FileError::kDenied};
  }
  std::string temporary;
  int fd = CreateTemporary(&temporary);
  if (fd < 0) return Failed(FileError::kNotWritten);
  bool written = true;
  if (existed_) {
    // Owner first, where the process may: a change of owner clears the set-ID bits. Then the
    // attributes, the ACL among them; the mode comes last.
    if (fchown(fd, stat_.st_uid, stat_.st_gid) != 0)
      fchown(fd, static_cast<uid_t>(-1), stat_.st_gid);
    written = CopyFileAttributes(store_fd_, fd);
  } else if (geteuid() == 0) {
    // A new store made by root in a user's folder is the user's, as the folders above it are.
    struct stat folder;
    if (fstat(folder_fd_, &folder) == 0) fchown(fd, folder.st_uid, folder.st_gid);
  }
  // Pages let go come back in one call rather than a fault each (where the kernel knows how).
  if (let_go_) madvise(map_, map_size_, MADV_POPULATE_READ);
  // The mode after the text, which sets it where setting the ACL changed it and where a write
  // by a user without privileges cleared the set-ID bits.
  struct stat mine;
  written = written && WriteAll(fd, std::move(pieces)) &&
            (!existed_ || fchmod(fd, stat_.st_mode & 07777) == 0) && SyncRetrying(fd) &&
            fstat(fd, &mine) == 0;
  FileStatus status = written ? FileStatus{} : Failed(FileError::kNotWritten);
  // After a failed close the descriptor is gone all the same; EINTR leaves the data synced.
  if (close(fd) != 0 && errno != EINTR && !status.failed()) status = Failed(FileError::kNotWritten);
  if (!status.failed() && !Unchanged()) status = {FileError::kChanged};
  if (status.failed()) {
    unlinkat(folder_fd_, temporary.c_str(), 0);
    return status;
  }
  return PutInPlace(temporary, mine);
}

FileStatus LockedFile::Placed() {
  opened_ = false;  // the next Replace needs the file just written read again
  // The rename itself is durable only once the folder is flushed.
  return SyncRetrying(folder_fd_) ? FileStatus{} : Failed(FileError::kNotWritten);
}

FileStatus LockedFile::PutInPlace(const std::string& temporary, const struct stat& written) {
  const char* from = temporary.c_str();
  // The store is exchanged with the new file, so that whatever another program saved since the
  // last check is still there afterwards; a new store never takes the place of a file made since.
  if (renameat2(folder_fd_, from, folder_fd_, name_.c_str(),
                existed_ ? RENAME_EXCHANGE : RENAME_NOREPLACE) != 0) {
    // A file system or a system-call filter without these: a plain rename, as checked above.
    const int error = errno;
    const bool refused = error == EINVAL || error == ENOSYS || error == EPERM || error == EXDEV;
    if (refused && renameat(folder_fd_, from, folder_fd_, name_.c_str()) == 0) return Placed();
    unlinkat(folder_fd_, from, 0);
    changed_ |= error == EEXIST || error == ENOENT;
    return {changed_ ? FileError::kChanged : FileError::kNotWritten, error};
  }
  // Checked once the folder is flushed: a program that opened the old file just before the
  // exchange has most likely written to it by then, and the check sees that.
  const FileStatus placed = Placed();
  if (!existed_ || Holds(folder_fd_, temporary, stat_)) {
    if (existed_) unlinkat(folder_fd_, from, 0);  // the old text
    return placed;
  }
  // Another program saved the store in between: its file goes back in the store's place, if the
  // store's name still holds this run's, and the temporary name is removed only if it holds this
  // run's file then. Otherwise both are left as they are.
  changed_ = true;
  if (Holds(folder_fd_, name_, written) &&
      renameat2(folder_fd_, from, folder_fd_, name_.c_str(), RENAME_EXCHANGE) == 0) {
    if (Holds(folder_fd_, temporary, written)) unlinkat(folder_fd_, from, 0);
    SyncRetrying(folder_fd_);
  }
  return {FileError::kChanged};
}
