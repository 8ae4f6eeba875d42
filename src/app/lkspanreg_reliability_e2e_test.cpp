// The built program when things go wrong: killed at random moments, run side by side, given a
// broken store or hostile arguments. Every run exits 0 and says nothing (or dies by the kill),
// and the store always holds, byte for byte, the registry before a run or after a whole one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "band_keys.h"
#include "locked_file.h"
#include "program_run.h"
#include "regedit_test_tree.h"

namespace {

using Clock = std::chrono::steady_clock;

const char kBand[] = "C:\\Program Files\\Larkspan\\band.dll";
const std::string kClassKey = BandKeyPath(kClassKeyFormat);
const std::string kButtonKey = BandKeyPath(kButtonKeyFormat);

// A store that already holds other software's keys: `unrelated` values in keys of both roots,
// and an old list of `baskets` baskets in the band's settings key.
std::string StoreWith(int unrelated, int baskets) {
  std::string text = "REGEDIT4\r\n\r\n";
  for (int key = 0; key * 50 < unrelated; ++key) {
    std::string name = std::to_string(key);
    text += "[HKEY_CLASSES_ROOT\\Vendor.Document." + name + "]\r\n";
    for (int i = 0; i < 25; ++i) text += "\"v" + std::to_string(i) + "\"=\"text " + name + "\"\r\n";
    text += "\r\n[HKEY_CURRENT_USER\\Software\\Vendor\\Product " + name + "]\r\n";
    for (int i = 0; i < 25; ++i) text += "\"n" + std::to_string(i) + "\"=dword:0000002a\r\n";
    text += "\r\n";
  }
  char count[16];
  std::snprintf(count, sizeof count, "%08x", static_cast<unsigned>(baskets));
  text += "[HKEY_CURRENT_USER\\" + std::string(kSettingsKey) + "]\r\n\"NumberOfBaskets\"=dword:";
  text += count;
  text += "\r\n";
  for (int i = 0; i < baskets; ++i) {
    std::string n = std::to_string(i);
    text += "\"" + std::to_string(2 * i) + "\"=\"Basket " + n + "\"\r\n";
    text += "\"" + std::to_string(2 * i + 1) + "\"=\"C:\\\\Baskets\\\\" + n + ".txt\"\r\n";
  }
  return text + "\r\n";
}

// A private store in a folder of its own.
class Store {
 public:
  const std::string& path() const { return path_; }
  const std::string& folder() const { return folder_.path(); }
  std::vector<std::string> Env() const { return {"LARKSPAN_REGISTRY=" + path_}; }
  std::string Bytes() const { return ReadFileBytes(path_); }
  void Fill(const std::string& bytes) const { WriteFileBytes(path_, bytes); }

  // Runs the program to its end; it must exit 0 and say nothing. Returns the store's bytes.
  std::string Run(const std::vector<std::string>& args) const {
    ProgramResult result = RunProgram(LKSPANREG_PATH, args, Env());
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out + result.err, "");
    return Bytes();
  }

 private:
  TempFolder folder_;
  std::string path_ = folder_.path() + "/registry.reg";
};

// The registry of `args` run one after the other on a store holding `bytes`.
std::string RunInOrder(const std::string& bytes,
                       const std::vector<std::vector<std::string>>& runs) {
  Store store;
  store.Fill(bytes);
  for (const auto& args : runs) store.Run(args);
  return store.Bytes();
}

const RegistryValue* FindValue(const RegistryTree& tree, bool classes_root, const std::string& path,
                               const std::string& name) {
  std::shared_ptr<RegistryKey> key = classes_root ? tree.classes_root : tree.current_user;
  std::vector<std::string_view> names;
  SplitKeyPath(path, &names);
  for (std::string_view part : names) {
    if (!(key = key->FindChild(part))) return nullptr;
  }
  return key->FindValue(name);
}

int Setting(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

std::mt19937 SeededRandom() {
  unsigned seed = static_cast<unsigned>(Setting("LKSPAN_TEST_SEED", std::random_device()()));
  ::testing::Test::RecordProperty("seed", std::to_string(seed));
  std::printf("random seed %u (LKSPAN_TEST_SEED repeats it)\n", seed);
  return std::mt19937(seed);
}

// Runs the program as the user nobody; as root, through setpriv.
const char kSetpriv[] = "/usr/bin/setpriv";
constexpr uid_t kNobody = 65534;

ProgramResult RunAsNobody(const std::string& arg, const std::vector<std::string>& env) {
  return RunProgram(kSetpriv,
                    {"--reuid=65534", "--regid=65534", "--clear-groups", LKSPANREG_PATH, arg}, env);
}

// The program under strace, which holds it on entering a system call or makes one fail: no hook
// in the program. The sanitizer's leak check fails under ptrace; untraced runs make it.
const char kStrace[] = "/usr/bin/strace";

std::vector<std::string> Traced(const std::string& injection, const std::string& arg) {
  return {"-o", "/dev/null",           "-E",           "ASAN_OPTIONS=detect_leaks=0",
          "-e", "inject=" + injection, LKSPANREG_PATH, arg};
}

// Waits (10 s at most) until the program strace `tracer` runs is held entering system call `call`.
bool HeldEntering(int tracer, long call) {
  const std::string pid = std::to_string(tracer), children = "/proc/" + pid + "/task/" + pid;
  for (auto end = Clock::now() + std::chrono::seconds(10); Clock::now() < end;) {
    // >> takes a failed read (a child strace started to try ptrace, gone since) as no number.
    long child = 0, number = 0;
    std::ifstream(children + "/children") >> child;
    std::ifstream("/proc/" + std::to_string(child) + "/syscall") >> number;
    if (number == call) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

TEST(KilledRunTest, LeavesTheOldOrTheNewStore) {
  // LKSPAN_KILLS sets the kills per job (registration, then removal).
  const int kills = Setting("LKSPAN_KILLS", 150);
  std::mt19937 random = SeededRandom();
  const std::string original = StoreWith(3000, 333);
  const std::string registered = RunInOrder(original, {{kBand}});
  const std::string removed = RunInOrder(registered, {{"/U"}});
  ASSERT_NE(registered, original);
  ASSERT_NE(removed, registered);

  struct Job {
    const char* label;
    std::string arg;
    const std::string& before;
    const std::string& after;
  };
  const Job jobs[] = {{"registration", kBand, original, registered},
                      {"removal", "/U", registered, removed}};
  for (const Job& job : jobs) {
    SCOPED_TRACE(job.label);
    Store store;
    // How long a whole run takes here, so that the kills fall anywhere from its start to its end.
    auto longest = Clock::duration::zero();
    for (int i = 0; i < 3; ++i) {
      store.Fill(job.before);
      auto start = Clock::now();
      ASSERT_EQ(store.Run({job.arg}), job.after);
      longest = std::max(longest, Clock::now() - start);
    }
    const auto window = std::chrono::duration_cast<std::chrono::microseconds>(longest * 6 / 5);

    int kept_old = 0, made_new = 0, finished = 0, temporary_left = 0;
    for (int kill = 0; kill < kills; ++kill) {
      store.Fill(job.before);
      // So that each kill's own leftovers are counted.
      for (const std::string& name : FolderEntries(store.folder())) {
        if (name != "registry.reg") unlink((store.folder() + "/" + name).c_str());
      }
      // A kill that lands in the leak check at exit makes the sanitizer's tracer complain; that
      // check is left to the runs that are not killed.
      std::vector<std::string> env = store.Env();
      env.push_back("ASAN_OPTIONS=detect_leaks=0");
      StartedProgram run(LKSPANREG_PATH, {job.arg}, env);
      ASSERT_TRUE(run.started());
      std::this_thread::sleep_for(std::chrono::microseconds(random() % (window.count() + 1)));
      run.Signal(SIGKILL);
      ProgramResult result = run.Wait();
      ASSERT_TRUE(result.signal == SIGKILL || result.exit_status == 0) << "kill " << kill;
      ASSERT_EQ(result.out + result.err, "");
      finished += result.exit_status == 0 ? 1 : 0;

      std::string now = store.Bytes();
      RegistryTree tree;
      ASSERT_TRUE(ParseRegeditFile(now, &tree)) << "kill " << kill;
      ASSERT_TRUE(now == job.before || now == job.after) << "kill " << kill;
      (now == job.before ? kept_old : made_new) += 1;
      const std::vector<std::string> entries = FolderEntries(store.folder());
      ASSERT_LE(entries.size(), 2u);
      if (entries.size() == 2) {
        ASSERT_EQ(entries[0].rfind(LockedFile::TemporaryPrefix("registry.reg"), 0), 0u);
        temporary_left += 1;
      }
    }
    std::printf(
        "%s: %d kills, %d left the old store, %d the new one (%d runs had ended), "
        "%d left a temporary file\n",
        job.label, kills, kept_old, made_new, finished, temporary_left);
    // The kills fell both before and after the commit, so both outcomes were put to the test.
    EXPECT_GT(kept_old, 0);
    EXPECT_GT(made_new, 0);

    // A temporary file left by a kill does not trouble the next run, nor stay behind it.
    store.Fill(job.before);
    WriteFileBytes(
        store.folder() + "/" + LockedFile::TemporaryPrefix("registry.reg") + "x7Kq2Zx7Kq2Z",
        job.before.substr(0, job.before.size() / 2));
    EXPECT_EQ(store.Run({job.arg}), job.after);
    EXPECT_EQ(FolderEntries(store.folder()), std::vector<std::string>{"registry.reg"});
  }
}

TEST(TracedRunTest, AnotherProgramsSaveBetweenTheLastCheckAndTheExchangeIsKept) {
  // The run is held for half a second after its last check, or after the exchange while it
  // flushes the folder. Meanwhile another program saves by rename, appends, or appends through a
  // descriptor opened before the run.
  const std::string before = StoreWith(100, 3), line = "[HKEY_CURRENT_USER\\Software\\Theirs]\r\n";
  for (int save = 0; save < 3; ++save) {
    SCOPED_TRACE(save);
    Store store;
    store.Fill(before);
    const int early = open(store.path().c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    const char* held =
        save < 2 ? "renameat2:delay_enter=500000:when=1" : "fsync:delay_enter=500000:when=2";
    StartedProgram run(kStrace, Traced(held, kBand), store.Env());
    ASSERT_TRUE(HeldEntering(run.pid(), save < 2 ? SYS_renameat2 : SYS_fsync)) << kStrace;
    if (save == 0) {
      WriteFileBytes(store.folder() + "/theirs", before + line);
      ASSERT_EQ(rename((store.folder() + "/theirs").c_str(), store.path().c_str()), 0);
    } else {
      const int fd =
          save == 2 ? early : open(store.path().c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
      EXPECT_EQ(write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
      if (fd != early) close(fd);
    }
    close(early);
    ProgramResult result = run.Wait();
    EXPECT_TRUE(result.exit_status == 0 && result.out + result.err == "") << result.err;
    EXPECT_EQ(store.Bytes(), before + line);
    EXPECT_EQ(FolderEntries(store.folder()), std::vector<std::string>{"registry.reg"});
  }
}

TEST(TracedRunTest, AFolderWhereRemovingFailsKeepsOneTemporaryFile) {
  // The first run's exchange leaves the old store under its temporary name; later runs find it
  // and write nothing.
  Store store;
  store.Fill(StoreWith(100, 3));
  for (const char* arg : {kBand, "/U", kBand}) {
    RunProgram(kStrace, Traced("unlinkat:error=EPERM", arg), store.Env());
  }
  EXPECT_NE(store.Bytes().find("band.dll"), std::string::npos);
  EXPECT_EQ(FolderEntries(store.folder()).size(), 2u);
}

TEST(TracedRunTest, AKernelWithoutOpenat2FindsTheStoreAllTheSame) {
  // Before Linux 5.6, and where a filter refuses it, the store's folder is found one name at a
  // time: on a path without links as well.
  for (const char* error : {"ENOSYS", "EPERM"}) {
    SCOPED_TRACE(error);
    Store store;
    store.Fill(StoreWith(100, 3));
    ProgramResult result =
        RunProgram(kStrace, Traced("openat2:error=" + std::string(error), kBand), store.Env());
    EXPECT_TRUE(result.exit_status == 0 && result.out + result.err == "") << result.err;
    EXPECT_NE(store.Bytes().find("band.dll"), std::string::npos);
    EXPECT_EQ(FolderEntries(store.folder()), std::vector<std::string>{"registry.reg"});
  }
}

TEST(ParallelRunTest, EndsAsSomeOrderOfTheRunsOneAfterTheOther) {
  // LKSPAN_PARALLEL_ROUNDS sets the rounds.
  const int rounds = Setting("LKSPAN_PARALLEL_ROUNDS", 30);
  const std::vector<std::vector<std::string>> runs = {
      {"C:\\one\\band.dll"}, {"D:\\two\\band.dll"}, {"/U"}, {"E:\\three.dll"}};
  const std::string start = StoreWith(1000, 100);

  std::set<std::string> serial;
  std::vector<size_t> order = {0, 1, 2, 3};
  do {
    std::vector<std::vector<std::string>> ordered;
    for (size_t i : order) ordered.push_back(runs[i]);
    serial.insert(RunInOrder(start, ordered));
  } while (std::next_permutation(order.begin(), order.end()));

  Store store;
  std::set<std::string> seen;
  for (int round = 0; round < rounds; ++round) {
    store.Fill(start);
    std::vector<std::unique_ptr<StartedProgram>> started;
    for (const auto& args : runs) {
      started.push_back(std::make_unique<StartedProgram>(LKSPANREG_PATH, args, store.Env()));
    }
    for (auto& run : started) {
      ProgramResult result = run->Wait();
      ASSERT_EQ(result.exit_status, 0) << "round " << round;
      ASSERT_EQ(result.out + result.err, "");
    }
    ASSERT_EQ(serial.count(store.Bytes()), 1u) << "round " << round;
    ASSERT_EQ(FolderEntries(store.folder()), std::vector<std::string>{"registry.reg"});
    seen.insert(store.Bytes());
  }
  std::printf("%d rounds of %zu runs at once: %zu of the %zu serial outcomes seen\n", rounds,
              runs.size(), seen.size(), serial.size());
}

struct BadStore {
  const char* label;
  std::string bytes;
};

std::vector<BadStore> BadStores() {
  const std::string settings = "[HKEY_CURRENT_USER\\" + std::string(kSettingsKey);
  const std::string head = "REGEDIT4\r\n\r\n" + settings + "]\r\n";
  const std::string good =
      head + "\"NumberOfBaskets\"=dword:00000001\r\n\"0\"=\"Fruit\"\r\n\"1\"=hex:41,42,00\r\n\r\n";
  std::string garbage(4096, '\0');
  std::mt19937 random(7);
  for (char& c : garbage) c = static_cast<char>(random());
  std::string with_nul = good;
  with_nul.insert(good.find("Fruit"), 1, '\0');
  return {
      {"a file cut inside the header", good.substr(0, 5)},
      {"binary garbage", garbage},
      {"binary garbage after the header", "REGEDIT4\r\n" + garbage},
      {"a NUL byte", with_nul},
      {"another header", "REGEDIT5\r\n\r\n" + good.substr(12)},
      {"a header in lower case", "regedit4" + good.substr(8)},
      {"a header with a blank after it", "REGEDIT4 " + good.substr(8)},
      {"a comment before the header", ";\r\n" + good},
      {"a byte order mark", "\xEF\xBB\xBF" + good},
      {"hex bytes with a sign or 0x", head + "\"1\"=hex:+41\r\n\"2\"=hex:0x1\r\n"},
      {"a hex type with a blank", head + "\"1\"=hex( 1):41\r\n"},
      {"hex data continued into a key line",
       head + "\"1\"=hex:41,\\\r\n" + settings + "\\Window]\r\n"},
      {"hex data continued behind a comment",
       head + "\"1\"=hex:41,\\ ; c:\\\r\n; c\r\n" + good.substr(12)},
  };
}

TEST(BadStoreTest, IsNeverRewritten) {
  Store store;
  for (const BadStore& bad : BadStores()) {
    SCOPED_TRACE(bad.label);
    store.Fill(bad.bytes);
    for (const char* arg : {kBand, "/U"}) EXPECT_EQ(store.Run({arg}), bad.bytes);
    EXPECT_EQ(FolderEntries(store.folder()), std::vector<std::string>{"registry.reg"});
  }
}

TEST(BadStoreTest, APathThatIsNoFileIsLeftAlone) {
  // A folder in the store's place, and a store whose folder would have to be made in a file.
  Store store;
  ASSERT_EQ(mkdir(store.path().c_str(), 0755), 0);
  WriteFileBytes(store.path() + "/inside", "kept");
  const std::string under_file = store.folder() + "/plain/registry.reg";
  WriteFileBytes(store.folder() + "/plain", "kept");
  for (const std::string& path : {store.path(), under_file}) {
    SCOPED_TRACE(path);
    for (const char* arg : {kBand, "/U"}) {
      ProgramResult result = RunProgram(LKSPANREG_PATH, {arg}, {"LARKSPAN_REGISTRY=" + path});
      EXPECT_EQ(result.exit_status, 0);
      EXPECT_EQ(result.out + result.err, "");
    }
  }
  EXPECT_EQ(FolderEntries(store.folder()), (std::vector<std::string>{"plain", "registry.reg"}));
  EXPECT_EQ(FolderEntries(store.path()), std::vector<std::string>{"inside"});
  EXPECT_EQ(ReadFileBytes(store.path() + "/inside"), "kept");
  EXPECT_EQ(ReadFileBytes(store.folder() + "/plain"), "kept");
}

TEST(BadStoreTest, AWriteThatIsNotAllowedKeepsTheStore) {
  // Root ignores permission bits: as root the program runs as nobody, who owns folder and store.
  const bool root = geteuid() == 0;
  if (root && access(kSetpriv, X_OK) != 0) {
    GTEST_SKIP() << "running as root without " << kSetpriv << " to run the program as another user";
  }
  const std::string before = StoreWith(5000, 3);  // over 100 KiB
  // A read-only folder, a read-only store, a file-size limit (blocks of 512 or 1024 bytes), an
  // append-only folder (where no temporary file could be removed).
  for (int blocker = 0; blocker < 4; ++blocker) {
    SCOPED_TRACE(blocker);
    Store store;
    store.Fill(before);
    for (const std::string& path : {store.folder(), store.path()}) {
      ASSERT_EQ(chown(path.c_str(), root ? kNobody : geteuid(), static_cast<gid_t>(-1)), 0);
    }
    ASSERT_EQ(chmod(store.path().c_str(), blocker == 1 ? 0444 : 0644), 0);
    ASSERT_EQ(chmod(store.folder().c_str(), blocker == 0 ? 0555 : 0755), 0);
    // The program itself runs as nobody (whose shell may not reach the checkout), under prlimit.
    auto run = [&](bool limited) {
      std::vector<std::string> args = {LKSPANREG_PATH, kBand};
      if (root)
        args.insert(args.begin(), {kSetpriv, "--reuid=65534", "--regid=65534", "--clear-groups"});
      if (limited) args.insert(args.begin(), {"/usr/bin/prlimit", "--fsize=102400"});
      ProgramResult result = RunProgram(args[0], {args.begin() + 1, args.end()}, store.Env());
      EXPECT_EQ(result.exit_status, 0);
      EXPECT_EQ(result.out + result.err, "");
    };
    if (blocker == 3 && RunProgram("/usr/bin/chattr", {"+a", store.folder()}, {}).exit_status) {
      std::printf("chattr +a refused on %s: no append-only folder tried\n", store.folder().c_str());
      continue;
    }
    run(blocker == 2);
    RunProgram("/usr/bin/chattr", {"-a", store.folder()}, {});
    EXPECT_TRUE(store.Bytes() == before);
    EXPECT_EQ(FolderEntries(store.folder()), std::vector<std::string>{"registry.reg"});
    // The same run allowed to write changes the store: the refusal above was the blocker's.
    ASSERT_EQ(chmod(store.folder().c_str(), 0755), 0);
    ASSERT_EQ(chmod(store.path().c_str(), 0644), 0);
    run(false);
    EXPECT_NE(store.Bytes(), before);
  }
}

TEST(StoppedRunTest, HoldsUpTheNextRunNoLongerThanTheLockWait) {
  using namespace std::chrono_literals;
  Store store;
  // Large enough that a run holds the store for a while.
  const std::string before = StoreWith(200000, 3);
  store.Fill(before);
  StartedProgram stopped(LKSPANREG_PATH, {kBand}, store.Env());
  // Stop it as soon as it holds the lock, seen from here as a folder that cannot be locked.
  const int folder = open(store.folder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  bool held = false;
  while (!held && !stopped.EndsWithin(0ms)) {
    held = flock(folder, LOCK_EX | LOCK_NB) != 0;
    if (!held) flock(folder, LOCK_UN);
  }
  stopped.Signal(SIGSTOP);
  ASSERT_TRUE(held) << "the run ended before it was seen holding the store";
  ASSERT_FALSE(stopped.EndsWithin(100ms));
  EXPECT_NE(flock(folder, LOCK_EX | LOCK_NB), 0);
  close(folder);

  const auto wait = std::chrono::seconds(LockedFile::kLockWaitSeconds);
  const auto start = Clock::now();
  StartedProgram next(LKSPANREG_PATH, {"/U"}, store.Env());
  const bool ended = next.EndsWithin(wait + 3s);
  const auto waited = Clock::now() - start;
  const std::string meanwhile = store.Bytes();
  stopped.Signal(SIGCONT);
  ASSERT_TRUE(ended) << "the next run was still waiting after the lock wait and 3 s more";
  ProgramResult result = next.Wait();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out + result.err, "");
  EXPECT_GE(waited, wait - 100ms);  // it waited for the store before giving up
  EXPECT_EQ(meanwhile, before);
  // The stopped run, once continued, finishes its job.
  result = stopped.Wait();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out + result.err, "");
  EXPECT_NE(store.Bytes(), before);
}

TEST(MemoryTest, ARunOutOfMemoryWritesNothingAndSaysNothing) {
  if (kAddressSanitizer) {
    GTEST_SKIP() << "AddressSanitizer maps terabytes of shadow memory, so no program built with "
                    "it starts under an address-space limit";
  }
  // 20 MB of address space: enough for a small store, not for reading a 22 MB one nor a terabyte
  // of holes.
  const std::string limited = "ulimit -v 20000 && exec \"$0\" \"$@\"";
  const std::string large = StoreWith(1000000, 3);
  const std::string small = StoreWith(100, 3);
  Store store;
  for (int sparse = 0; sparse < 2; ++sparse) {
    SCOPED_TRACE(sparse ? "a sparse terabyte" : "a large store");
    store.Fill(large);
    if (sparse && truncate(store.path().c_str(), off_t{1} << 40) != 0) continue;
    for (const char* arg : {kBand, "/U"}) {
      ProgramResult result =
          RunProgram("/bin/sh", {"-c", limited, LKSPANREG_PATH, arg}, store.Env());
      EXPECT_EQ(result.exit_status, 0) << arg;
      EXPECT_EQ(result.out + result.err, "") << arg;
    }
    if (!sparse) {
      EXPECT_TRUE(store.Bytes() == large);  // not EXPECT_EQ: no diff of 20 MB texts
    }
    EXPECT_EQ(FolderEntries(store.folder()), std::vector<std::string>{"registry.reg"});
  }
  // Without the limit a terabyte of holes is no store either, and a run sees it at once.
  store.Fill(large);
  ASSERT_EQ(truncate(store.path().c_str(), off_t{1} << 40), 0);
  for (const char* arg : {kBand, "/U"}) {
    ProgramResult result = RunProgram(LKSPANREG_PATH, {arg}, store.Env());
    EXPECT_EQ(result.exit_status, 0) << arg;
    EXPECT_EQ(result.out + result.err, "") << arg;
  }
  EXPECT_EQ(FolderEntries(store.folder()), std::vector<std::string>{"registry.reg"});
  // The limit lets a run with a small store do its job: what stopped the runs above was memory.
  store.Fill(small);
  RunProgram("/bin/sh", {"-c", limited, LKSPANREG_PATH, kBand}, store.Env());
  EXPECT_NE(store.Bytes(), small);
}

TEST(CutShortTest, AStoreCutShortWhileARunReadsItEndsTheRunSilently) {
  using namespace std::chrono_literals;
  Store store;
  const std::string before = StoreWith(200000, 3);
  store.Fill(before);
  const std::string after = store.Run({kBand});
  store.Fill(before);
  StartedProgram run(LKSPANREG_PATH, {kBand}, store.Env());
  // Stopped once the store's file is mapped, that is while the run reads or writes it.
  const std::string maps = "/proc/" + std::to_string(run.pid()) + "/maps";
  bool mapped = false;
  while (!mapped && !run.EndsWithin(0ms)) {
    mapped = ReadFileBytes(maps).find(store.path()) != std::string::npos;
  }
  run.Signal(SIGSTOP);
  ASSERT_TRUE(mapped) << "the run ended before it was seen reading the store";
  // Another program empties the file in place.
  ASSERT_EQ(truncate(store.path().c_str(), 0), 0);
  run.Signal(SIGCONT);
  ProgramResult result = run.Wait();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.out + result.err, "");
  // Either the run ended without writing, or it had written all it writes before the file was
  // cut, and its rename came after: never a mixture.
  const std::string bytes = store.Bytes();
  EXPECT_TRUE(bytes.empty() || bytes == after) << bytes.size() << " bytes";
  EXPECT_EQ(FolderEntries(store.folder()), std::vector<std::string>{"registry.reg"});
}

TEST(RootRunTest, LeavesTheUsersHomeToTheUser) {
  // sudo -E keeps the user's HOME: what root makes there is the user's, and the user's own
  // later runs still work; a link of the user's leads root only where the user may write.
  if (geteuid() != 0 || access(kSetpriv, X_OK) != 0) {
    GTEST_SKIP() << "needs root, and " << kSetpriv << " to run the program as another user";
  }
  TempFolder folder;
  ASSERT_EQ(chmod(folder.path().c_str(), 0755), 0);
  const std::string home = folder.path() + "/home";
  ASSERT_EQ(mkdir(home.c_str(), 0755), 0);
  ASSERT_EQ(chown(home.c_str(), kNobody, kNobody), 0);
  const std::vector<std::string> env = {"HOME=" + home};
  const std::string store = home + "/.local/share/larkspan/registry.reg";

  ProgramResult result = RunProgram(LKSPANREG_PATH, {kBand}, env);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out + result.err, "");
  for (const char* made : {"/.local", "/.local/share", "/.local/share/larkspan",
                           "/.local/share/larkspan/registry.reg"}) {
    struct stat info;
    ASSERT_EQ(stat((home + made).c_str(), &info), 0) << made;
    EXPECT_EQ(info.st_uid, kNobody) << made;
    EXPECT_EQ(info.st_gid, kNobody) << made;
    if (S_ISDIR(info.st_mode)) {
      EXPECT_EQ(info.st_mode & 07777, 0700u) << made;
    }
  }
  const std::string registered = ReadFileBytes(store);
  ASSERT_NE(registered.find("band.dll"), std::string::npos);

  result = RunAsNobody("/U", env);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out + result.err, "");
  EXPECT_EQ(ReadFileBytes(store).find("band.dll"), std::string::npos);

  // The user moves ~/.local/share away and links it to a folder of root's: the run makes nothing
  // there. Linked back, the run writes the store only while the user may write it.
  const std::string share = home + "/.local/share", roots = folder.path() + "/roots";
  ASSERT_EQ(rename(share.c_str(), (folder.path() + "/share").c_str()), 0);
  ASSERT_EQ(mkdir(roots.c_str(), 0755), 0);
  for (const std::string& target : {roots, folder.path() + "/share", std::string()}) {
    if (target.empty()) {
      ASSERT_EQ(chown(store.c_str(), 0, 0), 0);
    } else {
      unlink(share.c_str());
      ASSERT_EQ(symlink(target.c_str(), share.c_str()), 0);
      ASSERT_EQ(lchown(share.c_str(), kNobody, kNobody), 0);
    }
    result = RunProgram(LKSPANREG_PATH, {target.empty() ? "/U" : kBand}, env);
    EXPECT_TRUE(result.exit_status == 0 && result.out + result.err == "") << target;
  }
  EXPECT_EQ(FolderEntries(roots), std::vector<std::string>{});
  EXPECT_NE(ReadFileBytes(store).find("band.dll"), std::string::npos);

  // In a sticky folder that everyone may write, whatever fs.protected_symlinks says, a link that
  // another user planted is not followed, though that user may write the store; the runner's
  // own is.
  ASSERT_EQ(chown(store.c_str(), kNobody, kNobody), 0);
  const std::string shared = folder.path() + "/shared", planted = shared + "/registry.reg";
  ASSERT_EQ(mkdir(shared.c_str(), 0) || chmod(shared.c_str(), 01777), 0);
  ASSERT_EQ(symlink((folder.path() + "/share/larkspan/registry.reg").c_str(), planted.c_str()), 0);
  for (uid_t owner : {kNobody, uid_t{0}}) {
    ASSERT_EQ(lchown(planted.c_str(), owner, owner), 0);
    RunProgram(LKSPANREG_PATH, {"/U"}, {"LARKSPAN_REGISTRY=" + planted});
    EXPECT_EQ(ReadFileBytes(store).find("band.dll") == std::string::npos, owner == 0) << owner;
  }
}

TEST(BadArgumentTest, StoresWhatFitsAsItStandsAndNothingElse) {
  std::string high_bytes = "C:\\";
  for (int c = 0x80; c <= 0xFF; ++c) high_bytes.push_back(static_cast<char>(c));
  struct Argument {
    const char* label;
    std::string text;
    bool stored;
  };
  const Argument arguments[] = {
      {"254 characters", "C:\\" + std::string(251, 'x'), true},
      {"255 characters", "C:\\" + std::string(252, 'x'), false},
      {"1,000 characters", "C:\\" + std::string(997, 'x'), false},
      {"100,000 characters", "C:\\" + std::string(99997, 'x'), false},
      {"an empty argument", "", false},
      {"format directives", "C:\\%s%n%x%%%p%d%1$s%-99999999s\\%n%n%n.dll", true},
      {"bytes 0x80 to 0xFF", high_bytes + "\\band.dll", true},
      {"a line break and quotes", "C:\\a \"b\"\r\nc\\band.dll", true},
  };
  const std::string before = StoreWith(100, 3);
  Store store;
  for (const Argument& argument : arguments) {
    SCOPED_TRACE(argument.label);
    store.Fill(before);
    std::string after = store.Run({argument.text});
    if (!argument.stored) {
      EXPECT_EQ(after, before);
      continue;
    }
    RegistryTree tree;
    ASSERT_TRUE(ParseRegeditFile(after, &tree));
    const std::pair<const RegistryValue*, std::string> expected[] = {
        {FindValue(tree, true, kClassKey + "\\InprocServer32", ""), argument.text},
        {FindValue(tree, false, kButtonKey, "Icon"), argument.text + ",3007"},
        {FindValue(tree, false, kButtonKey, "HotIcon"), argument.text + ",3006"},
    };
    for (const auto& [value, text] : expected) {
      ASSERT_NE(value, nullptr);
      EXPECT_EQ(value->type, REG_SZ);
      EXPECT_EQ(value->data, text + '\0');
    }
    // What was there before is still there.
    EXPECT_NE(FindValue(tree, true, "Vendor.Document.1", "v24"), nullptr);
  }
}

}  // namespace
