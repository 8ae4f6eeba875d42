// The tool's in-process costs: loading and saving stores of 1,000 to 100,000 values, one
// registration and one removal on a registry held in memory, the basket upgrade.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

#include "file_store.h"
#include "regedit_file.h"
#include "register_extension.h"
#include "registry_store.h"
#include "scoped_key.h"
#include "store_maker.h"
#include "tree_store.h"
#include "unregister_extension.h"
#include "upgrade_basket_list.h"

namespace {

const char kServerPath[] = "C:\\Program Files\\Larkspan\\band.dll";

// A store file holding `values` unrelated values, in a private folder under /dev/shm where
// there is one, so that saving measures the program's work and not the disk's.
class StoreFile {
 public:
  explicit StoreFile(int values) {
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/lkspan-bench-XXXXXX";
    if (mkdtemp(&pattern[0]) != nullptr) folder_ = pattern;
    RegistryTree tree;
    FillUnrelated(&tree, values);
    text_ = FormatRegeditFile(tree);
    if (std::FILE* file = std::fopen(path().c_str(), "wb")) {
      std::fwrite(text_.data(), 1, text_.size(), file);
      std::fclose(file);
    }
  }
  ~StoreFile() {
    std::remove(path().c_str());
    rmdir(folder_.c_str());
  }
  StoreFile(const StoreFile&) = delete;
  StoreFile& operator=(const StoreFile&) = delete;

  std::string path() const { return folder_ + "/registry.reg"; }
  size_t size() const { return text_.size(); }

 private:
  std::string folder_;
  std::string text_;
};

void Sizes(benchmark::internal::Benchmark* bench) {
  bench->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
}

// Lock, read and parse: what a run does before its first registry call returns.
void BM_LoadStore(benchmark::State& state) {
  StoreFile file(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::optional<FileStore> store(std::in_place, file.path());
    benchmark::DoNotOptimize(store->QueryValue(HKEY_CURRENT_USER, "x", nullptr, nullptr, nullptr));
    state.PauseTiming();
    store.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}
BENCHMARK(BM_LoadStore)->Apply(Sizes);

// Commit after one changed value: format, check and write the whole store back.
void BM_SaveStore(benchmark::State& state) {
  StoreFile file(static_cast<int>(state.range(0)));
  DWORD round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::optional<FileStore> store(std::in_place, file.path());
    ++round;
    store->SetValue(HKEY_CURRENT_USER, "round", REG_DWORD, reinterpret_cast<const BYTE*>(&round),
                    sizeof round);
    state.ResumeTiming();
    if (store->Commit() != ERROR_SUCCESS) state.SkipWithError("commit failed");
    state.PauseTiming();
    store.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}
BENCHMARK(BM_SaveStore)->Apply(Sizes);

void BM_Register(benchmark::State& state) {
  for (auto _ : state) {
    TreeStore store;
    ScopedRegistryBinding binding(&store);
    if (RegisterExtension(kServerPath) != 1) state.SkipWithError("registration failed");
  }
}
BENCHMARK(BM_Register);

void BM_Unregister(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    std::optional<TreeStore> store(std::in_place);
    std::optional<ScopedRegistryBinding> binding(std::in_place, &*store);
    RegisterExtension(kServerPath);
    state.ResumeTiming();
    if (UnregisterExtension() != 0) state.SkipWithError("removal failed");
    state.PauseTiming();
    binding.reset();
    store.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_Unregister);

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
