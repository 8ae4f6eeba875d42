#include "user_access.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "user_account.h"

namespace {

// The groups `user` belongs to, the primary one first, from /etc/passwd and /etc/group read as
// files (fgetgrent): a static program has no name service to ask.
std::vector<gid_t> GroupsOf(const LinkOwner& user) {
  std::vector<gid_t> groups = {user.gid};
  UserAccount account{};
  if (FindUserAccount(user.uid, &account)) groups[0] = account.gid;
  FILE* file = account.name.empty() ? nullptr : std::fopen("/etc/group", "re");
  if (file == nullptr) return groups;
  while (const group* entry = fgetgrent(file)) {
    for (char* const* member = entry->gr_mem; *member != nullptr; ++member) {
      if (account.name == *member) groups.push_back(entry->gr_gid);
    }
  }
  std::fclose(file);
  return groups;
}

bool UserMayWrite(const LinkOwner& user, int folder, const std::vector<std::string>& names) {
  const std::vector<gid_t> groups = GroupsOf(user);
  pid_t child = fork();
  if (child == 0) {
    // Only what is safe after fork: the IDs, then the checks. Giving up root's user ID drops
    // its capabilities, so the kernel checks modes and ACLs as for that user.
    bool allowed = setgroups(groups.size(), groups.data()) == 0 && setgid(groups[0]) == 0 &&
                   setuid(user.uid) == 0;
    for (const std::string& name : names) {
      allowed = allowed && faccessat(folder, name.c_str(), W_OK, AT_EACCESS) == 0;
    }
    _exit(allowed ? 0 : 1);
  }
  if (child < 0) return false;
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool UsersMayWrite(const std::vector<LinkOwner>& users, int folder,
                   const std::vector<std::string>& names) {
  for (const LinkOwner& user : users) {
    if (!UserMayWrite(user, folder, names)) return false;
  }
  return true;
}
