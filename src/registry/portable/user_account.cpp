#include "user_account.h"

#include <pwd.h>

#include <cstdio>

bool FindUserAccount(uid_t uid, UserAccount* account) {
  FILE* file = std::fopen("/etc/passwd", "re");
  if (file == nullptr) return false;
  bool found = false;
  while (const passwd* entry = fgetpwent(file)) {
    if (entry->pw_uid != uid) continue;
    *account = {entry->pw_name, entry->pw_gid, entry->pw_dir};
    found = true;
    break;
  }
  std::fclose(file);
  return found;
}
