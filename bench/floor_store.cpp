// Floor (b) of the process benchmarks: the work no run of the file store can avoid, and
// nothing else. Locks the store's folder, reads the whole store, writes the bytes back to a
// temporary file in the same folder, flushes it, renames it over the store and flushes the
// folder.
//   lkspan_floor_store FILE
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::string path = argv[1];
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  int folder_fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder_fd < 0 || flock(folder_fd, LOCK_EX) != 0) return 1;

  // Read straight into an allocation of the file's size: no zero-filling, no second copy.
  char* text = nullptr;
  size_t size = 0;
  int in = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (in >= 0) {
    struct stat info;
    if (fstat(in, &info) != 0) return 1;
    size = static_cast<size_t>(info.st_size);
    text = static_cast<char*>(std::malloc(size + 1));
    if (text == nullptr) return 1;
    for (size_t done = 0; done < size;) {
      ssize_t count = read(in, text + done, size - done);
      if (count <= 0) return 1;
      done += static_cast<size_t>(count);
    }
    close(in);
  }

  std::string temporary = path + ".tmp";
  int out = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) return 1;
  for (size_t done = 0; done < size;) {
    ssize_t count = write(out, text + done, size - done);
    if (count <= 0) return 1;
    done += static_cast<size_t>(count);
  }
  if (fsync(out) != 0 || close(out) != 0) return 1;
  if (std::rename(temporary.c_str(), path.c_str()) != 0 || fsync(folder_fd) != 0) return 1;
  return 0;
}
