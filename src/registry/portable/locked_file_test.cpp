#include "locked_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "program_run.h"

namespace {

constexpr uid_t kNobody = 65534;

// One whole run over the store at `path`: open, then replace with `text`.
bool Rewrite(const std::string& path, const std::string& text) {
  LockedFile file(path);
  std::string_view read;
  bool missing = false;
  return !file.Open(&read, &missing).failed() && !file.Replace({text}).failed();
}

struct stat StatusOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info;
}

TEST(LockedFileTest, ARewriteKeepsTheStoresModeAndOwner) {
  struct Case {
    mode_t mode;
    uid_t owner;  // the test's own user when not root
  };
  std::vector<Case> cases = {{0600, geteuid()}, {04640, geteuid()}};
  // Root writes a read-only store, as the kernel lets it, and another user's: it stays theirs.
  if (geteuid() == 0) cases.insert(cases.end(), {{0444, 0}, {0640, kNobody}});
  TempFolder folder;
  const std::string store = folder.path() + "/registry.reg";
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::oct << c.mode << " owned by " << std::dec << c.owner);
    WriteFileBytes(store, "old");
    ASSERT_EQ(chown(store.c_str(), c.owner, c.owner), 0);
    ASSERT_EQ(chmod(store.c_str(), c.mode), 0);
    ASSERT_TRUE(Rewrite(store, "new"));
    EXPECT_EQ(ReadFileBytes(store), "new");
    struct stat after = StatusOf(store);
    EXPECT_EQ(after.st_mode & 07777, c.mode);
    EXPECT_EQ(after.st_uid, c.owner);
    EXPECT_EQ(after.st_gid, c.owner);
    EXPECT_EQ(FolderEntries(folder.path()), std::vector<std::string>{"registry.reg"});
  }
}

TEST(LockedFileTest, NewFoldersArePrivateAndANewStoreFollowsTheUmask) {
  TempFolder folder;
  const std::string store = folder.path() + "/data/larkspan/registry.reg";
  mode_t saved = umask(027);
  bool rewritten = Rewrite(store, "new");
  umask(saved);
  ASSERT_TRUE(rewritten);
  EXPECT_EQ(StatusOf(folder.path() + "/data").st_mode & 07777, 0700u);
  EXPECT_EQ(StatusOf(folder.path() + "/data/larkspan").st_mode & 07777, 0700u);
  EXPECT_EQ(StatusOf(store).st_mode & 07777, 0640u);
}

TEST(LockedFileTest, ALinkedStoreIsWrittenAtItsTarget) {
  TempFolder folder;
  const std::string store = folder.path() + "/home/registry.reg";
  ASSERT_EQ(mkdir((folder.path() + "/home").c_str(), 0700), 0);
  ASSERT_EQ(mkdir((folder.path() + "/dotfiles").c_str(), 0700), 0);
  ASSERT_EQ(mkdir((folder.path() + "/dotfiles/real").c_str(), 0700), 0);
  WriteFileBytes(folder.path() + "/dotfiles/real/larkspan.reg", "old");
  ASSERT_EQ(chmod((folder.path() + "/dotfiles/real/larkspan.reg").c_str(), 0600), 0);
  // A relative link to a link: both stay, and the file at the end of them changes.
  ASSERT_EQ(symlink("real/larkspan.reg", (folder.path() + "/dotfiles/larkspan.reg").c_str()), 0);
  ASSERT_EQ(symlink("../dotfiles/larkspan.reg", store.c_str()), 0);

  ASSERT_TRUE(Rewrite(store, "new"));
  EXPECT_TRUE(S_ISLNK(StatusOf(store).st_mode));
  EXPECT_TRUE(S_ISLNK(StatusOf(folder.path() + "/dotfiles/larkspan.reg").st_mode));
  EXPECT_EQ(ReadFileBytes(store), "new");
  EXPECT_EQ(StatusOf(folder.path() + "/dotfiles/real/larkspan.reg").st_mode & 07777, 0600u);
  EXPECT_EQ(FolderEntries(folder.path() + "/home"), std::vector<std::string>{"registry.reg"});
  EXPECT_EQ(FolderEntries(folder.path() + "/dotfiles/real"),
            std::vector<std::string>{"larkspan.reg"});

  // A link that leads nowhere is refused: nothing is created, at its end or in its place.
  const std::string dangling = folder.path() + "/home/dangling.reg";
  ASSERT_EQ(symlink("../elsewhere/larkspan.reg", dangling.c_str()), 0);
  ASSERT_EQ(symlink("missing.reg", (folder.path() + "/home/missing.reg").c_str()), 0);
  for (const std::string& link : {dangling, folder.path() + "/home/missing.reg"}) {
    SCOPED_TRACE(link);
    LockedFile file(link);
    std::string_view read;
    bool missing = false;
    EXPECT_EQ(file.Open(&read, &missing).error, FileError::kNoPlace);
    EXPECT_TRUE(S_ISLNK(StatusOf(link).st_mode));
  }
  EXPECT_FALSE(FileExists(folder.path() + "/elsewhere"));
  EXPECT_EQ(FolderEntries(folder.path() + "/home"),
            (std::vector<std::string>{"dangling.reg", "missing.reg", "registry.reg"}));
}

TEST(LockedFileTest, TheTemporaryFileIsTheRunsOwn) {
  TempFolder folder;
  const std::string store = folder.path() + "/registry.reg";
  const std::string outside = folder.path() + "/outside";
  const std::string prefix = folder.path() + "/" + LockedFile::TemporaryPrefix("registry.reg");
  WriteFileBytes(store, "old");
  WriteFileBytes(outside, "outside");
  // Whatever waits at the name an older version used is left alone.
  ASSERT_EQ(link(outside.c_str(), (store + ".tmp").c_str()), 0);
  // Things of similar names that are not a run's leftover stay: the older versions' temporary
  // names, a name a person chose, a FIFO, a link, a name one letter short, another store's.
  WriteFileBytes(store + ".lkspanreg-a1B2c3", "kept");
  WriteFileBytes(store + ".lkspanreg-backup", "kept");
  ASSERT_EQ(mkfifo((prefix + "fifo00000000").c_str(), 0600), 0);
  ASSERT_EQ(symlink(outside.c_str(), (prefix + "link00000000").c_str()), 0);
  WriteFileBytes(prefix + "a1B2c3d4E5f", "kept");
  WriteFileBytes(folder.path() + "/" + LockedFile::TemporaryPrefix("other.reg") + "a1B2c3d4E5f6",
                 "kept");
  // Nor, for root, a file of that name of a user who owns neither the store nor the run.
  if (geteuid() == 0) {
    WriteFileBytes(prefix + "n0b0dyn0b0dy", "kept");
    ASSERT_EQ(chown((prefix + "n0b0dyn0b0dy").c_str(), kNobody, kNobody), 0);
  }
  const std::vector<std::string> kept = FolderEntries(folder.path());
  WriteFileBytes(prefix + "a1B2c3d4E5f6", "partial");  // a killed run's leftover goes

  ASSERT_TRUE(Rewrite(store, "new"));
  EXPECT_EQ(ReadFileBytes(store), "new");
  EXPECT_EQ(ReadFileBytes(outside), "outside");
  EXPECT_EQ(StatusOf(outside).st_nlink, 2u);
  EXPECT_EQ(FolderEntries(folder.path()), kept);

  // A FIFO at the old name neither blocks the run nor is written.
  ASSERT_EQ(unlink((store + ".tmp").c_str()), 0);
  ASSERT_EQ(mkfifo((store + ".tmp").c_str(), 0600), 0);
  ASSERT_TRUE(Rewrite(store, "newer"));
  EXPECT_EQ(ReadFileBytes(store), "newer");
  EXPECT_TRUE(S_ISFIFO(StatusOf(store + ".tmp").st_mode));
  EXPECT_EQ(FolderEntries(folder.path()), kept);
}

TEST(LockedFileTest, AStoreOfTheLongestNameIsWritten) {
  // 255 bytes: its temporary names keep 113 of its 124 two-byte characters (226 bytes, as 227
  // would cut one), so that with their 28 fixed bytes they fit.
  TempFolder folder;
  std::string accents;
  for (int i = 0; i < 124; ++i) accents += "\xC3\xA9";
  const std::string name = accents + "abc.reg", random = ".lkspanreg-tmp-a1B2c3d4E5f6";
  for (size_t kept : {size_t{227}, size_t{226}}) {  // the second is a leftover of this store
    WriteFileBytes(folder.path() + "/." + accents.substr(0, kept) + random, "");
  }
  ASSERT_TRUE(Rewrite(folder.path() + "/" + name, "new"));
  EXPECT_EQ(FolderEntries(folder.path()),
            (std::vector<std::string>{"." + accents.substr(0, 227) + random, name}));
}

TEST(LockedFileTest, AStoreAnotherProgramWroteInPlaceIsNotReplaced) {
  TempFolder folder;
  const std::string store = folder.path() + "/registry.reg";
  // As `cat new > store` or an editor saving in place, a clock tick later, the same size or
  // another: seen by the check after reading (i < 2) or by the one before the rename.
  for (int i = 0; i < 4; ++i) {
    const std::string theirs = i % 2 == 0 ? "0ld" : "longer";
    WriteFileBytes(store, "old");
    usleep(30000);
    LockedFile file(store);
    std::string_view read;
    bool missing = false;
    ASSERT_TRUE(!file.Open(&read, &missing).failed() && (i < 2 || file.Unchanged()));
    WriteFileBytes(store, theirs);
    EXPECT_TRUE(i >= 2 || !file.Unchanged()) << i;
    // Nor later in the run.
    EXPECT_EQ(file.Replace({"new"}).error, FileError::kChanged) << i;
    EXPECT_EQ(file.Open(&read, &missing).error, FileError::kChanged) << i;
    EXPECT_EQ(file.Replace({"new"}).error, FileError::kChanged) << i;
    EXPECT_EQ(ReadFileBytes(store), theirs);
    EXPECT_EQ(FolderEntries(folder.path()), std::vector<std::string>{"registry.reg"});
  }
}

TEST(LockedFileTest, ARewriteKeepsTheStoresAclAndUserAttributes) {
  TempFolder folder;
  const std::string store = folder.path() + "/registry.reg";
  const std::string setfacl = "/usr/bin/setfacl", getfacl = "/usr/bin/getfacl";
  WriteFileBytes(store, "old");
  // The folder's default ACL gives every file made in it an ACL of its own.
  ProgramResult set = RunProgram(setfacl, {"-d", "-m", "u:nobody:r", folder.path()}, {});
  if (set.err.find("not supported") != std::string::npos ||
      (setxattr(store.c_str(), "user.origin", "by hand", 7, 0) != 0 && errno == ENOTSUP)) {
    GTEST_SKIP() << "the file system of " << folder.path() << " has no ACLs or user.* (ENOTSUP)";
  }
  ASSERT_EQ(set.exit_status, 0) << set.err;
  ASSERT_EQ(RunProgram(setfacl, {"-m", "u:nobody:rw,g::-,m::rw", store}, {}).exit_status, 0);
  const std::string acl = RunProgram(getfacl, {"-c", store}, {}).out;

  ASSERT_TRUE(Rewrite(store, "new"));
  EXPECT_EQ(RunProgram(getfacl, {"-c", store}, {}).out, acl);
  std::string value(7, '\0');
  EXPECT_EQ(getxattr(store.c_str(), "user.origin", &value[0], value.size()), 7);
  EXPECT_EQ(value, "by hand");
  // A store without an ACL stays without one: none of the folder's.
  ASSERT_EQ(RunProgram(setfacl, {"-b", store}, {}).exit_status, 0);
  ASSERT_TRUE(Rewrite(store, "newer"));
  EXPECT_EQ(getxattr(store.c_str(), "system.posix_acl_access", nullptr, 0), -1);
  EXPECT_EQ(errno, ENODATA);
}

}  // namespace
