// Whether another user may write a place: for a run as root that followed that user's link.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// The owner of a link a run followed: its user and its group.
struct LinkOwner {
  uid_t uid;
  gid_t gid;
};

// Whether each of `users` may write every one of `names` in the open folder `folder` ("." for
// the folder itself), checked as the kernel checks that user: a child process takes on the
// user's ID, primary group and supplementary groups (from /etc/passwd and /etc/group; a user not
// listed there keeps the link's group alone) and asks faccessat. True when `users` is empty.
bool UsersMayWrite(const std::vector<LinkOwner>& users, int folder,
                   const std::vector<std::string>& names);
