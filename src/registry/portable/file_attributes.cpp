#include "file_attributes.h"

#include <sys/xattr.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

constexpr char kAccessAcl[] = "system.posix_acl_access";

// Reads a list (flistxattr) or a value (fgetxattr) into *bytes, whatever its size; a file
// system without extended attributes has none.
template <typename Read>
bool ReadGrowing(Read read, std::string* bytes) {
  for (;;) {
    ssize_t size = read(nullptr, 0);
    if (size < 0) return false;
    bytes->resize(static_cast<size_t>(size));
    if (size == 0) return true;
    size = read(&(*bytes)[0], bytes->size());
    if (size >= 0) {
      bytes->resize(static_cast<size_t>(size));
      return true;
    }
    if (errno != ERANGE) return false;  // else it grew in between: again
  }
}

}  // namespace

bool CopyFileAttributes(int from, int to) {
  std::string names;
  if (!ReadGrowing([&](char* list, size_t size) { return flistxattr(from, list, size); }, &names)) {
    return errno == ENOTSUP;
  }
  bool has_acl = false;
  std::string value;
  for (size_t at = 0; at < names.size(); at += std::strlen(&names[at]) + 1) {
    const char* name = &names[at];
    const bool acl = std::strcmp(name, kAccessAcl) == 0;
    has_acl |= acl;
    const bool copied =
        ReadGrowing([&](char* data, size_t size) { return fgetxattr(from, name, data, size); },
                    &value) &&
        fsetxattr(to, name, value.data(), value.size(), 0) == 0;
    // security.* and trusted.* need privileges the process may not have; those stay behind.
    if (!copied && (acl || std::strncmp(name, "user.", 5) == 0) && errno != ENOTSUP) return false;
  }
  // A file made in a folder with a default ACL starts with an ACL of its own. A file that lists
  // no attribute has none: asking is cheaper than a removal.
  return has_acl || flistxattr(to, nullptr, 0) == 0 || fremovexattr(to, kAccessAcl) == 0 ||
         errno == ENODATA || errno == ENOTSUP;
}
