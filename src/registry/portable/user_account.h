// A user's account as /etc/passwd lists it.
#pragma once

#include <sys/types.h>

#include <string>

struct UserAccount {
  std::string name;
  gid_t gid;
  std::string home;
};

// The account of `uid` from /etc/passwd, read from the file itself (fgetpwent): the program is
// linked statically and has no name service to ask, so an account that only a directory service
// (LDAP, sssd) knows is not found. False when it is not there.
bool FindUserAccount(uid_t uid, UserAccount* account);
