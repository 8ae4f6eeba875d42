// A store file's extended attributes, carried to the file that replaces it.
#pragma once

// Gives the new file `to` the extended attributes of `from`:
// - the ACL (system.posix_acl_access) exactly, or none when `from` has none, even where `to`
//   was given one by its folder's default ACL;
// - every user.* attribute;
// - the others (security.*, trusted.*, other system.* names) where the process may set them.
// False when the ACL or a user.* attribute cannot be read or set, except where the file system
// supports neither (ENOTSUP). Set the mode after this: an ACL sets the mode's bits too.
bool CopyFileAttributes(int from, int to);
