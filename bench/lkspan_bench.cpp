// The file store's in-process costs on stores of 1,000 to 1,000,000 values: checking a store's
// structure, a whole registration and a whole removal through the file store (read, edit, write
// back), and the basket upgrade on a registry held in memory.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "file_store.h"
#include "regedit_reader.h"
#include "regedit_test_tree.h"
#include "register_extension.h"
#include "registry_store.h"
#include "scoped_key.h"
#include "store_maker.h"
#include "tree_store.h"
#include "unregister_extension.h"
#include "upgrade_basket_list.h"

namespace {

const char kServerPath[] = "C:\\Program Files\\Larkspan\\band.dll";

// A store of `values` unrelated values, and the same with the band registered, in a private
// folder under /dev/shm where there is one, so that writing measures the program's work and not
// the disk's.
class BenchStore {
 public:
  explicit BenchStore(int values) {
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/lkspan-bench-XXXXXX";
    if (mkdtemp(&pattern[0]) != nullptr) folder_ = pattern;
    RegistryTree tree;
    FillUnrelated(&tree, values);
    text_ = FormatRegeditFile(tree);
    Put(text_);
    Run(false);
    registered_ = Read();
  }
  ~BenchStore() {
    std::remove(path().c_str());
    rmdir(folder_.c_str());
  }
  BenchStore(const BenchStore&) = delete;
  BenchStore& operator=(const BenchStore&) = delete;

  std::string path() const { return folder_ + "/registry.reg"; }
  const std::string& text() const { return text_; }
  const std::string& registered() const { return registered_; }

  void Put(const std::string& text) const {
    if (std::FILE* file = std::fopen(path().c_str(), "wb")) {
      std::fwrite(text.data(), 1, text.size(), file);
      std::fclose(file);
    }
  }
  std::string Read() const {
    std::string text;
    if (std::FILE* file = std::fopen(path().c_str(), "rb")) {
      char buffer[1 << 16];
      for (size_t count; (count = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
        text.append(buffer, count);
      }
      std::fclose(file);
    }
    return text;
  }
  // One run of the program's job on the store: true when it did its work.
  bool Run(bool remove) const {
    FileStore store(path());
    bool done = false;
    {
      ScopedRegistryBinding binding(&store);
      done = remove ? UnregisterExtension() == 0 : RegisterExtension(kServerPath) == 1;
    }
    return store.Commit() == ERROR_SUCCESS && done;
  }

 private:
  std::string folder_;
  std::string text_;
  std::string registered_;
};

void Sizes(benchmark::internal::Benchmark* bench) {
  bench->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
}

// What a run checks of the whole text before its first registry call returns.
void BM_ScanStore(benchmark::State& state) {
  BenchStore store(static_cast<int>(state.range(0)));
  std::vector<StoreSection> sections;
  std::deque<std::string> paths;
  for (auto _ : state) benchmark::DoNotOptimize(ScanRegeditFile(store.text(), &sections, &paths));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * store.text().size()));
}
BENCHMARK(BM_ScanStore)->Apply(Sizes);

// A whole registration or removal: lock, read, scan, the registry calls, edit, write back.
void RunJob(benchmark::State& state, bool remove) {
  BenchStore store(static_cast<int>(state.range(0)));
  const std::string& start = remove ? store.registered() : store.text();
  for (auto _ : state) {
    state.PauseTiming();
    store.Put(start);
    state.ResumeTiming();
    if (!store.Run(remove)) state.SkipWithError("the job failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * start.size()));
}
void BM_Register(benchmark::State& state) {
  RunJob(state, false);
}
BENCHMARK(BM_Register)->Apply(Sizes);
void BM_Unregister(benchmark::State& state) {
  RunJob(state, true);
}
BENCHMARK(BM_Unregister)->Apply(Sizes);

void BM_UpgradeBasketList(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    std::optional<TreeStore> store(std::in_place);
    FillBasketList(&store->tree(), static_cast<int>(state.range(0)));
    std::optional<ScopedRegistryBinding> binding(std::in_place, &*store);
    std::optional<ScopedKey> settings(std::in_place);
    settings->Create(HKEY_CURRENT_USER, "Software\\Larkspan", KEY_ALL_ACCESS);
    state.ResumeTiming();
    UpgradeBasketList(settings->get());
    state.PauseTiming();
    settings.reset();
    binding.reset();
    store.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_UpgradeBasketList)->Arg(1)->Arg(33)->Arg(333)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
