#include "file_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "band_keys.h"
#include "program_run.h"
#include "regedit_test_tree.h"
#include "register_extension.h"
#include "registry_api.h"
#include "unregister_extension.h"

namespace {

using namespace std::string_literals;

LONG SetString(HKEY key, const char* name, const std::string& text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
}

LONG SetDword(HKEY key, const char* name, DWORD number) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
}

// Each test gets a folder of its own, removed afterwards.
class FileStoreTest : public ::testing::Test {
 protected:
  // Opens or creates a key below HKEY_CURRENT_USER; null on failure.
  static HKEY Create(const char* path, REGSAM access = KEY_ALL_ACCESS,
                     DWORD* disposition = nullptr) {
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  access, nullptr, &key, disposition);
    EXPECT_EQ(status, ERROR_SUCCESS) << path;
    return status == ERROR_SUCCESS ? key : nullptr;
  }

  TempFolder temp_;
  std::string folder_ = temp_.path();
  std::string path_ = folder_ + "/registry.reg";
};

const std::string kLarkspanFile =
    "REGEDIT4\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{1B5A0E7C-0000-4000-8000-00000000AB01}]\r\n"
    "@=\"Larkspan\"\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Larkspan]\r\n"
    "\"ThreadingModel\"=\"Apartment\"\r\n"
    "\"Count\"=dword:00000003\r\n\r\n";

// Writes the registry of kLarkspanFile through the registry functions.
void WriteLarkspan() {
  HKEY clsid = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{1B5A0E7C-0000-4000-8000-00000000AB01}", 0,
                            nullptr, 0, KEY_WRITE, nullptr, &clsid, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(SetString(clsid, "", "Larkspan"), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(clsid), ERROR_SUCCESS);
  HKEY larkspan = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Larkspan", 0, nullptr, 0, KEY_WRITE,
                            nullptr, &larkspan, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(SetString(larkspan, "ThreadingModel", "Apartment"), ERROR_SUCCESS);
  EXPECT_EQ(SetDword(larkspan, "Count", 3), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(larkspan), ERROR_SUCCESS);
}

TEST_F(FileStoreTest, MissingFileIsAnEmptyRegistryAndNothingIsCreatedWithoutChanges) {
  std::string nested = folder_ + "/a/b/registry.reg";
  FileStore store(nested);
  ScopedRegistryBinding binding(&store);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(HKEY_CURRENT_USER, "", nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  DWORD disposition = 0;
  HKEY key = Create("Software\\Larkspan", KEY_ALL_ACCESS, &disposition);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(SHDeleteKeyA(HKEY_CURRENT_USER, "Software"), ERROR_SUCCESS);
  EXPECT_EQ(store.Commit(), ERROR_SUCCESS);
  // The folder is made to be locked; the store itself only once it has something in it.
  EXPECT_EQ(FolderEntries(folder_ + "/a/b"), std::vector<std::string>{});
  EXPECT_EQ(store.open_handles(), 0u);
}

TEST_F(FileStoreTest, CommitWritesTheFileAndTheNextRunReadsItBack) {
  {
    FileStore store(path_);
    ScopedRegistryBinding binding(&store);
    WriteLarkspan();
    EXPECT_FALSE(FileExists(path_));  // nothing reaches the file before the commit
    EXPECT_EQ(store.Commit(), ERROR_SUCCESS);
  }
  EXPECT_EQ(ReadFileBytes(path_), kLarkspanFile);
  EXPECT_EQ(FolderEntries(folder_), std::vector<std::string>{"registry.reg"});

  FileStore store(path_);
  ScopedRegistryBinding binding(&store);
  HKEY key = Create("Software\\Larkspan", KEY_READ);
  DWORD type = 0;
  DWORD number = 0;
  DWORD size = sizeof number;
  EXPECT_EQ(RegQueryValueExA(key, "Count", nullptr, &type, reinterpret_cast<BYTE*>(&number), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(number, 3u);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(FileStoreTest, NothingIsRewrittenWhenTheRegistryEndsAsItWas) {
  WriteFileBytes(path_, kLarkspanFile);
  struct stat before;
  ASSERT_EQ(stat(path_.c_str(), &before), 0);
  {
    FileStore store(path_);
    ScopedRegistryBinding binding(&store);
    WriteLarkspan();  // every value again with the same bytes
    HKEY key = Create("Software\\Larkspan\\Temporary");
    EXPECT_EQ(SetString(key, "x", "y"), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(SHDeleteKeyA(HKEY_CURRENT_USER, "Software\\Larkspan\\Temporary"), ERROR_SUCCESS);
    EXPECT_EQ(store.Commit(), ERROR_SUCCESS);
  }
  struct stat after;
  ASSERT_EQ(stat(path_.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(ReadFileBytes(path_), kLarkspanFile);
  EXPECT_EQ(FolderEntries(folder_), std::vector<std::string>{"registry.reg"});
}

TEST_F(FileStoreTest, KeysAndValuesStoredInOtherCaseAreFoundAndKeepTheirCase) {
  // The last line of a name gives the value, the first its spelling, both when a key's few
  // lookups go through its lines and when its lines are indexed for many.
  const std::string text =
      "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\LarkSpan]\n\"ThreadingModel\"=\"Old\"\n";
  for (const auto& [end, misses] : {std::pair{"\n", 0}, {"", 0}, {"\n", 8}}) {
    WriteFileBytes(path_, text + "\"threadingMODEL\"=\"Both\"" + end);
    {
      FileStore store(path_);
      ScopedRegistryBinding binding(&store);
      DWORD disposition = 0;
      HKEY key = Create("SOFTWARE\\larkspan", KEY_ALL_ACCESS, &disposition);
      EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
      DWORD size = 0;
      for (int i = 0; i < misses; ++i) {
        EXPECT_EQ(RegQueryValueExA(key, "Other", nullptr, nullptr, nullptr, &size),
                  ERROR_FILE_NOT_FOUND);
      }
      EXPECT_EQ(RegQueryValueExA(key, "threadingmodel", nullptr, nullptr, nullptr, &size),
                ERROR_SUCCESS);
      EXPECT_EQ(size, 5u);
      EXPECT_EQ(SetString(key, "THREADINGMODEL", "Apartment"), ERROR_SUCCESS);
      // Once set, it reads as set, not as its line stands.
      EXPECT_EQ(RegQueryValueExA(key, "ThreadingModel", nullptr, nullptr, nullptr, &size),
                ERROR_SUCCESS);
      EXPECT_EQ(size, 10u);
      EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
      EXPECT_EQ(store.Commit(), ERROR_SUCCESS);
    }
    // The last line changes, and keeps its line end: LF, or none as the text's last.
    EXPECT_EQ(ReadFileBytes(path_), text + "\"ThreadingModel\"=\"Apartment\"" + end);
  }
}

TEST_F(FileStoreTest, TextsAreReadWhateverBlockTheirEscapesFallIn) {
  // Fifteen bytes, then an escaped backslash whose second byte begins the next sixteen.
  WriteFileBytes(path_,
                 "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Larkspan]\n"
                 "\"c\"=\"aaaaaaaaaaaaaaa\\\\y\"\n");
  FileStore store(path_);
  ScopedRegistryBinding binding(&store);
  DWORD disposition = 0;
  HKEY key = Create("Software\\Larkspan", KEY_QUERY_VALUE, &disposition);
  char data[32] = {};
  DWORD size = sizeof data;
  EXPECT_EQ(RegQueryValueExA(key, "c", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(data, size), "aaaaaaaaaaaaaaa\\y\0"s);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

// Every operation on the store at `path`, and its commit, fail with ERROR_BADDB, for the file's
// `reason` (FileError::kNone: its text).
void ExpectBadStore(const std::string& path, FileError reason = FileError::kNone) {
  SCOPED_TRACE(path);
  FileStore store(path);
  ScopedRegistryBinding binding(&store);
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_BADDB);
  EXPECT_EQ(SetDword(HKEY_CURRENT_USER, "v", 1), ERROR_BADDB);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(HKEY_CURRENT_USER, "v", nullptr, nullptr, nullptr, &size),
            ERROR_BADDB);
  EXPECT_EQ(SHDeleteKeyA(HKEY_CURRENT_USER, "Software"), ERROR_BADDB);
  EXPECT_EQ(store.Commit(), ERROR_BADDB);
  EXPECT_EQ(store.file_status().error, reason);
}

TEST_F(FileStoreTest, AStoreThatCannotBeReadFailsEveryOperationAndIsNeverRewritten) {
  const std::string unreadable[] = {
      "garbage\r\n",
      "REGEDIT4 \r\n",
      "REGEDIT4\r\n[HKEY_CURRENT_USER\\k]\r\n\"v\"=\"\0\"\r\n"s,
      "\xff\xfeR\0E\0G\0E\0D\0I\0T\0004\0\n\0\n"s,    // UTF-16 of an odd number of bytes
      "\xff\xfeR\0E\0G\0E\0D\0I\0T\0004\0\n\0\0\0"s,  // the character NUL
  };
  for (const std::string& text : unreadable) {
    WriteFileBytes(path_, text);
    ExpectBadStore(path_);
    EXPECT_EQ(ReadFileBytes(path_), text);
    EXPECT_EQ(FolderEntries(folder_), std::vector<std::string>{"registry.reg"});
  }
  // A folder in the file's place, and no path at all.
  ASSERT_EQ(std::remove(path_.c_str()), 0);
  ASSERT_EQ(mkdir(path_.c_str(), 0755), 0);
  ExpectBadStore(path_, FileError::kUnreadable);
  for (const std::string& path : {std::string(), path_ + "/"})
    ExpectBadStore(path, FileError::kNoPlace);
  struct stat info;
  EXPECT_TRUE(stat(path_.c_str(), &info) == 0 && S_ISDIR(info.st_mode));
  EXPECT_EQ(FolderEntries(path_), std::vector<std::string>{});
  EXPECT_EQ(FolderEntries(folder_), std::vector<std::string>{"registry.reg"});
}

TEST_F(FileStoreTest, AValueThatCannotBeReadFailsOnlyTheRunsThatReadIt) {
  const std::string text =
      "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Larkspan]\r\n\"Path\"=hex:+1\r\n\r\n"
      "[HKEY_CURRENT_USER\\Other]\r\n\"v\"=hex(-1):00\r\ngarbage\r\n\r\n";
  WriteFileBytes(path_, text);
  {
    // The section is copied as it stands; nothing needs its values.
    FileStore store(path_);
    ScopedRegistryBinding binding(&store);
    EXPECT_EQ(SetDword(HKEY_CLASSES_ROOT, "v", 1), ERROR_SUCCESS);
    EXPECT_EQ(store.Commit(), ERROR_SUCCESS);
  }
  std::string written = text + "[HKEY_CLASSES_ROOT]\r\n\"v\"=dword:00000001\r\n\r\n";
  EXPECT_EQ(ReadFileBytes(path_), written);
  FileStore store(path_);
  ScopedRegistryBinding binding(&store);
  HKEY key = Create("Software\\Larkspan");
  EXPECT_EQ(SHDeleteKeyA(HKEY_CURRENT_USER, "Other"), ERROR_BADDB);  // nor what it deletes
  EXPECT_EQ(SetDword(key, "Path", 1), ERROR_BADDB);
  EXPECT_EQ(SetDword(HKEY_CURRENT_USER, "v", 1), ERROR_BADDB);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(store.Commit(), ERROR_BADDB);
  EXPECT_EQ(ReadFileBytes(path_), written);
}

// A store kept by hand: comments, blank lines, LF, CR and CRLF lines, one key in two sections in
// either case, hex wrapped its own way, keys under other roots, sections in no order.
const std::string kUserText =
    "REGEDIT4\r\n"
    "; my registry, kept by hand\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Larkspan]\r\n"
    "; where it lives\r\n"
    "\"Path\"=\"C:\\\\Old\\\\\"\r"
    "\"Keep\"=dword:1\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes]\r\n"
    "@=\"machine\"\r\n"
    "\"Wrapped\"=hex:01,02,\\\n"
    "    03\n"
    "\n"
    "[hkey_classes_root\\clsid\\{0000-other}]\r\n"
    "@=\"Other\"\r\n"
    "; a comment after a value\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\larkspan]\r\n"
    "\"Name\"=\"old.chm\"\r\n"
    "\"Extra\"=hex(2):41,\\\r\n"
    "  00\r\n"
    "[HKEY_USERS\\.DEFAULT\\Software]\r\n";

const std::string kExtensionKey = "[HKEY_CURRENT_USER\\" + BandKeyPath(kButtonKeyFormat) +
                                  "]\r\n"
                                  "@=\"Default\"\r\n"
                                  "\"Default Visible\"=\"Yes\"\r\n"
                                  "\"ButtonText\"=\"Larkspan\"\r\n"
                                  "\"HotIcon\"=\"C:\\\\b\\\\band.dll,3006\"\r\n"
                                  "\"Icon\"=\"C:\\\\b\\\\band.dll,3007\"\r\n"
                                  "\"CLSID\"=\"{E0DD6CAB-2D10-11D2-8F1A-0000F87ABD16}\"\r\n"
                                  "\"BandCLSID\"=\"" +
                                  kBandClassId + "\"\r\n\r\n";

// Registers the band with C:\b\band.dll, or removes it, in one run on the store at `path`.
void RunJob(const std::string& path, bool remove) {
  FileStore store(path);
  {
    ScopedRegistryBinding binding(&store);
    if (remove) {
      EXPECT_EQ(UnregisterExtension(), ERROR_SUCCESS);
    } else {
      EXPECT_EQ(RegisterExtension("C:\\b\\band.dll"), 1);
    }
  }
  EXPECT_EQ(store.Commit(), ERROR_SUCCESS);
}

TEST_F(FileStoreTest, ARunKeepsEveryByteOfTheUsersTextOutsideWhatItChanges) {
  WriteFileBytes(path_, kUserText);
  RunJob(path_, false);
  // Each value takes the place of its last line; new keys follow their nearest existing
  // ancestor's last section; the settings key needs no new section and CLSID and Software none
  // of their own.
  std::string registered = kUserText;
  registered.replace(registered.find("C:\\\\Old"), 9, "C:\\\\b\\\\");
  registered.replace(registered.find("old.chm"), 7, "lkspan.chm");
  // The class key is spelled below CLSID as the user's text spells CLSID.
  const std::string class_key = "[HKEY_CLASSES_ROOT\\clsid\\" + std::string(kBandClassId);
  registered.insert(
      registered.find("[HKEY_CURRENT_USER\\Software\\larkspan]"),
      class_key + "]\r\n@=\"&Larkspan\"\r\n\r\n" + class_key +
          "\\Implemented Categories\\{00021494-0000-0000-C000-000000000046}]\r\n\r\n" + class_key +
          "\\InprocServer32]\r\n"
          "@=\"C:\\\\b\\\\band.dll\"\r\n\"ThreadingModel\"=\"Apartment\"\r\n\r\n");
  registered.insert(registered.find("[HKEY_USERS"), kExtensionKey);
  EXPECT_EQ(ReadFileBytes(path_), registered);

  RunJob(path_, true);
  // Both sections of the settings key go; Extensions, left with nothing below it, keeps a
  // section where its child's was.
  std::string removed = kUserText;
  for (const char* section :
       {"[HKEY_CURRENT_USER\\Software\\Larkspan]", "[HKEY_CURRENT_USER\\Software\\larkspan]"}) {
    size_t begin = removed.find(section);
    removed.erase(begin, removed.find('[', begin + 1) - begin);
  }
  removed.insert(removed.find("[HKEY_USERS"),
                 "[HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Explorer\\Extensions]\r\n\r\n");
  EXPECT_EQ(ReadFileBytes(path_), removed);
}

TEST_F(FileStoreTest, ARemovalOfASectionThatContinuedHexDataTakesIsRefused) {
  // regedit takes Baskets' key line as more of c's data, and x as LkOther's value: a removal of
  // Larkspan would take x from LkOther. A registration does not touch that section.
  const std::string text =
      "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Larkspan]\r\n\"Path\"=\"C:\\\\\"\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\LkOther]\r\n\"c\"=hex:01,\\\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Larkspan\\Baskets]\r\n\"x\"=\"y\"\r\n";
  WriteFileBytes(path_, text);
  {
    FileStore store(path_);
    ScopedRegistryBinding binding(&store);
    EXPECT_EQ(UnregisterExtension(), SELFREG_E_CLASS);
    EXPECT_EQ(store.Commit(), ERROR_BADDB);
  }
  EXPECT_EQ(ReadFileBytes(path_), text);
  RunJob(path_, false);
}

TEST_F(FileStoreTest, AStoreOfDeepKeysGrowsOnlyByTheBandsKeys) {
  // What a registration and a removal write to an empty store, below their first line.
  std::string empty_path = folder_ + "/empty.reg";
  RunJob(empty_path, false);
  std::string registration = ReadFileBytes(empty_path).substr(std::strlen("REGEDIT4\r\n\r\n"));
  RunJob(empty_path, true);
  std::string removal = ReadFileBytes(empty_path).substr(std::strlen("REGEDIT4\r\n\r\n"));

  // About a megabyte of keys 512 levels deep, each holding one value.
  std::string deep = "REGEDIT4\r\n\r\n";
  for (int chain = 0; deep.size() < (1 << 20); ++chain) {
    deep += "[HKEY_CURRENT_USER\\Deep" + std::to_string(chain);
    for (int level = 1; level < 512; ++level) deep += "\\k";
    deep += "]\r\n\"v\"=dword:00000001\r\n\r\n";
  }
  WriteFileBytes(path_, deep);
  RunJob(path_, false);
  EXPECT_EQ(ReadFileBytes(path_), deep + registration);
  RunJob(path_, true);
  EXPECT_EQ(ReadFileBytes(path_), deep + removal);
}

TEST_F(FileStoreTest, NewSectionsGoBeforeHexDataContinuedIntoTheirPlace) {
  std::string empty_path = folder_ + "/empty.reg";
  RunJob(empty_path, false);
  const std::string registration =
      ReadFileBytes(empty_path).substr(std::strlen("REGEDIT4\r\n\r\n"));
  const size_t user_part = registration.find("[HKEY_CURRENT_USER");
  // regedit takes the key line after the blank line as more of c's data: the band's sections
  // under HKEY_CURRENT_USER go before the section that holds c, not after it.
  const std::string user = "[HKEY_CURRENT_USER\\Software\\LkOther]\r\n\"c\"=hex:01,\\\r\n\r\n";
  const std::string other = "[HKEY_CLASSES_ROOT\\LkClass]\r\n\"x\"=\"y\"\r\n\r\n";
  WriteFileBytes(path_, "REGEDIT4\r\n\r\n" + user + other);
  RunJob(path_, false);
  EXPECT_EQ(ReadFileBytes(path_), "REGEDIT4\r\n\r\n" + registration.substr(user_part) + user +
                                      other + registration.substr(0, user_part));
}

TEST_F(FileStoreTest, ValuesAddedBeforeContinuedHexDataGoBetweenTheChangedLines) {
  // The key's last value continues its hex data to the end of the text: new values go before it,
  // after the value changed before it.
  const std::string head = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\k]\r\n\"a\"=\"1\"\r\n";
  WriteFileBytes(path_, head + "\"b\"=\"2\"\r\n\"c\"=hex:01,\\");
  {
    FileStore store(path_);
    ScopedRegistryBinding binding(&store);
    HKEY key = Create("k");
    EXPECT_EQ(SetString(key, "b", "3"), ERROR_SUCCESS);
    EXPECT_EQ(SetString(key, "c", "4"), ERROR_SUCCESS);
    EXPECT_EQ(SetString(key, "d", "5"), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(store.Commit(), ERROR_SUCCESS);
  }
  EXPECT_EQ(ReadFileBytes(path_), head + "\"b\"=\"3\"\r\n\"d\"=\"5\"\r\n\"c\"=\"4\"");
}

TEST_F(FileStoreTest, QueryReportsTheSizeNeededAndCopiesExactBytes) {
  {
    FileStore store(path_);
    ScopedRegistryBinding binding(&store);
    WriteLarkspan();
    HKEY key = Create("Software\\Larkspan");
    EXPECT_EQ(RegSetValueExA(key, "Empty", 0, REG_NONE, nullptr, 0), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(store.Commit(), ERROR_SUCCESS);
  }
  FileStore store(path_);  // read back through the file
  ScopedRegistryBinding binding(&store);
  HKEY key = Create("Software\\Larkspan", KEY_READ);
  DWORD type = 99;
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "ThreadingModel", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 10u);  // "Apartment" and its NUL

  BYTE buffer[16];
  std::fill(std::begin(buffer), std::end(buffer), 0xAA);
  size = 9;
  type = 99;
  EXPECT_EQ(RegQueryValueExA(key, "ThreadingModel", nullptr, &type, buffer, &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(type, REG_SZ);

  size = 10;
  EXPECT_EQ(RegQueryValueExA(key, "ThreadingModel", nullptr, nullptr, buffer, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), sizeof buffer),
            "Apartment\0\xAA\xAA\xAA\xAA\xAA\xAA"s);

  size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExA(key, "Empty", nullptr, &type, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_NONE);
  EXPECT_EQ(size, 0u);

  size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, &type, buffer, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(FileStoreTest, HandlesKeepTheAccessTheyWereOpenedWith) {
  WriteFileBytes(path_, kLarkspanFile);
  FileStore store(path_);
  ScopedRegistryBinding binding(&store);
  HKEY writer = Create("Software\\Larkspan", KEY_WRITE);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(writer, "Count", nullptr, nullptr, nullptr, &size),
            ERROR_ACCESS_DENIED);
  HKEY reader = Create("Software\\Larkspan", KEY_READ);
  EXPECT_EQ(SetDword(reader, "Count", 4), ERROR_ACCESS_DENIED);
  HKEY child = nullptr;
  EXPECT_EQ(
      RegCreateKeyExA(reader, "Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
      ERROR_ACCESS_DENIED);
  EXPECT_EQ(child, nullptr);
  EXPECT_EQ(RegCloseKey(writer), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(reader), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(reader), ERROR_INVALID_HANDLE);
  EXPECT_EQ(store.Commit(), ERROR_SUCCESS);
  EXPECT_EQ(ReadFileBytes(path_), kLarkspanFile);
}

TEST_F(FileStoreTest, DeletingAKeyRemovesItsWholeTreeOnce) {
  {
    FileStore store(path_);
    ScopedRegistryBinding binding(&store);
    WriteLarkspan();
    EXPECT_EQ(RegCloseKey(Create("Software\\Larkspan\\Band\\Deep")), ERROR_SUCCESS);
    HKEY band = Create("Software\\Larkspan\\Band");
    EXPECT_EQ(SHDeleteKeyA(HKEY_CURRENT_USER, "SOFTWARE\\Larkspan\\Missing\\Band"),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SHDeleteKeyA(HKEY_CURRENT_USER, "software\\larkspan"), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(band, "v", 1), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(band), ERROR_SUCCESS);
    EXPECT_EQ(SHDeleteKeyA(HKEY_CURRENT_USER, "Software\\Larkspan"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(store.Commit(), ERROR_SUCCESS);
  }
  // Software, made by this run, would be lost with its last child: it gets a section.
  EXPECT_EQ(ReadFileBytes(path_),
            "REGEDIT4\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\CLSID\\{1B5A0E7C-0000-4000-8000-00000000AB01}]\r\n"
            "@=\"Larkspan\"\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n\r\n");
}

TEST_F(FileStoreTest, NamesWithLineBreaksAreRefusedAtCommitAndTheStoreIsKept) {
  WriteFileBytes(path_, kLarkspanFile);
  for (const char* key_name : {"Software\\Line\nBreak", "Software\\Carriage\rReturn"}) {
    FileStore store(path_);
    ScopedRegistryBinding binding(&store);
    EXPECT_EQ(RegCloseKey(Create(key_name)), ERROR_SUCCESS);
    EXPECT_EQ(store.Commit(), ERROR_CANTWRITE);
  }
  {
    FileStore store(path_);
    ScopedRegistryBinding binding(&store);
    EXPECT_EQ(SetDword(HKEY_CURRENT_USER, "two\nlines", 1), ERROR_SUCCESS);
    EXPECT_EQ(store.Commit(), ERROR_CANTWRITE);
  }
  EXPECT_EQ(ReadFileBytes(path_), kLarkspanFile);
  EXPECT_EQ(FolderEntries(folder_), std::vector<std::string>{"registry.reg"});
}

TEST_F(FileStoreTest, AFailedWriteKeepsTheStoreAndEndsTheRun) {
  WriteFileBytes(path_, kLarkspanFile);
  FileStore store(path_);
  ScopedRegistryBinding binding(&store);
  EXPECT_EQ(SetDword(HKEY_CURRENT_USER, "Root", 1), ERROR_SUCCESS);
  // A file-size limit below the new text's size fails the write with EFBIG (SIGXFSZ ignored, as
  // the program does).
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const rlimit limited = {16, saved.rlim_max};
  auto handler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  const LONG failed = store.Commit();
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  signal(SIGXFSZ, handler);
  EXPECT_EQ(failed, ERROR_CANTWRITE);
  EXPECT_EQ(store.file_status().error, FileError::kNotWritten);
  EXPECT_EQ(store.file_status().system_error, EFBIG);
  EXPECT_EQ(ReadFileBytes(path_), kLarkspanFile);
  EXPECT_EQ(FolderEntries(folder_), std::vector<std::string>{"registry.reg"});
  // The run is over: nothing more is served or written.
  EXPECT_EQ(SetDword(HKEY_CURRENT_USER, "Root", 2), ERROR_CANTWRITE);
  EXPECT_EQ(store.Commit(), ERROR_CANTWRITE);
  EXPECT_EQ(ReadFileBytes(path_), kLarkspanFile);
}

TEST_F(FileStoreTest, APathWithoutAFolderIsInTheCurrentDirectory) {
  std::string previous(4096, '\0');
  ASSERT_NE(getcwd(previous.data(), previous.size()), nullptr);
  ASSERT_EQ(chdir(folder_.c_str()), 0);
  {
    FileStore store("here.reg");
    ScopedRegistryBinding binding(&store);
    EXPECT_EQ(SetDword(HKEY_CURRENT_USER, "v", 1), ERROR_SUCCESS);
    EXPECT_EQ(store.Commit(), ERROR_SUCCESS);
  }
  ASSERT_EQ(chdir(previous.c_str()), 0);
  EXPECT_EQ(ReadFileBytes(folder_ + "/here.reg"),
            "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER]\r\n\"v\"=dword:00000001\r\n\r\n");
}

TEST_F(FileStoreTest, RunsSideBySideTakeTurns) {
  // The second run is forked before the first takes the lock: a child must not inherit the
  // locked descriptor, which would keep the lock alive after the first run ends.
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char byte = 0;
    if (read(go[0], &byte, 1) != 1) _exit(2);
    FileStore second(path_);
    ScopedRegistryBinding binding(&second);
    DWORD size = 0;
    // Gets past its first call only once the first run is done, so it sees that run's value.
    bool saw_first = RegQueryValueExA(HKEY_CURRENT_USER, "first", nullptr, nullptr, nullptr,
                                      &size) == ERROR_SUCCESS;
    bool wrote = SetDword(HKEY_CURRENT_USER, "second", 2) == ERROR_SUCCESS &&
                 second.Commit() == ERROR_SUCCESS;
    _exit(saw_first && wrote ? 0 : 1);
  }
  close(go[0]);
  auto first = std::make_unique<FileStore>(path_);
  auto binding = std::make_unique<ScopedRegistryBinding>(first.get());
  ASSERT_EQ(SetDword(HKEY_CURRENT_USER, "first", 1), ERROR_SUCCESS);  // holds the lock now
  ASSERT_EQ(write(go[1], "x", 1), 1);
  close(go[1]);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, WNOHANG), 0);  // still waiting for the lock
  EXPECT_EQ(first->Commit(), ERROR_SUCCESS);
  binding.reset();
  first.reset();  // releases the lock
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFileBytes(path_),
            "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER]\r\n\"first\"=dword:00000001\r\n"
            "\"second\"=dword:00000002\r\n\r\n");
}

// The registry after `step` commits of the killed writer below.
RegistryTree WriterState(DWORD step) {
  RegistryTree tree;
  bool created = false;
  auto key = tree.current_user->AddChild("Software", &created)->AddChild("Larkspan", &created);
  key->SetValue("Step", REG_DWORD, std::string(reinterpret_cast<const char*>(&step), 4));
  key->SetValue("Payload", REG_BINARY, std::string(64 * 1024, static_cast<char>(step * 7)));
  return tree;
}

// One writer's commit: reads the step, writes the next one. Returns the step written.
DWORD WriteNextStep(const std::string& path) {
  FileStore store(path);
  ScopedRegistryBinding binding(&store);
  HKEY key = nullptr;
  DWORD step = 0;
  DWORD size = sizeof step;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Larkspan", 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return 0;
  }
  if (RegQueryValueExA(key, "Step", nullptr, nullptr, reinterpret_cast<BYTE*>(&step), &size) !=
      ERROR_SUCCESS) {
    step = 0;
  }
  ++step;
  std::string payload(64 * 1024, static_cast<char>(step * 7));
  bool written =
      SetDword(key, "Step", step) == ERROR_SUCCESS &&
      RegSetValueExA(key, "Payload", 0, REG_BINARY, reinterpret_cast<const BYTE*>(payload.data()),
                     static_cast<DWORD>(payload.size())) == ERROR_SUCCESS;
  RegCloseKey(key);
  return written && store.Commit() == ERROR_SUCCESS ? step : 0;
}

TEST_F(FileStoreTest, AWriterKilledAtAnyMomentLeavesTheOldOrTheNewStore) {
  ASSERT_EQ(WriteNextStep(path_), 1u);
  // The kills fall within a few commits' time, however slow this build or machine is.
  auto began = std::chrono::steady_clock::now();
  ASSERT_EQ(WriteNextStep(path_), 2u);
  auto commit = std::chrono::steady_clock::now() - began;
  const long window = std::max<long>(
      50000, 4 * std::chrono::duration_cast<std::chrono::microseconds>(commit).count());
  std::random_device seed_source;
  unsigned seed = seed_source();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  DWORD step = 2;
  DWORD child_commits = 0;
  for (int round = 0; round < 40; ++round) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
#ifdef __linux__
      prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
      for (int i = 0; i < 100000; ++i) WriteNextStep(path_);
      _exit(0);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % window));
    ASSERT_EQ(kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);

    RegistryTree stored;
    ASSERT_TRUE(ParseRegeditFile(ReadFileBytes(path_), &stored)) << "round " << round;
    auto software = stored.current_user->FindChild("Software");
    ASSERT_NE(software, nullptr);
    auto key = software->FindChild("Larkspan");
    ASSERT_NE(key, nullptr);
    const RegistryValue* found_step = key->FindValue("Step");
    ASSERT_NE(found_step, nullptr);
    ASSERT_EQ(found_step->data.size(), 4u);
    DWORD found = 0;
    std::memcpy(&found, found_step->data.data(), 4);
    ASSERT_GE(found, step);
    ASSERT_EQ(FormatRegeditFile(stored), FormatRegeditFile(WriterState(found)))
        << "round " << round;
    child_commits += found - step;

    // Whatever the kill left behind, the next run commits normally.
    step = WriteNextStep(path_);
    ASSERT_EQ(step, found + 1);
    ASSERT_EQ(FolderEntries(folder_), std::vector<std::string>{"registry.reg"});
  }
  EXPECT_GT(child_commits, 0u);  // the writers were killed while they were working
}

}  // namespace
