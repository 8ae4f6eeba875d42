// The basket list's conversion over a settings key built from the input: a NumberOfBaskets
// (mostly a small count, sometimes any bytes of any type) and numbered values, most of them
// texts that start with their own value name so that a text moved to the wrong basket shows.
// Every value name read or written is NumberOfBaskets or "0".."998" as written, each is
// written at most once, a value not written keeps its bytes, a written text [3i] or [3i+1] is
// empty or a prefix (within its limit) of the old [2i] or [2i+1] it comes from, [3i+2] is the
// REG_DWORD 2, and a second run changes nothing.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "memory_store.h"
#include "regedit_test_tree.h"
#include "upgrade_basket_list.h"

namespace {

void Fail(const std::string& what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  std::abort();
}

// The index a value name stands for, or -1 unless it is a decimal from 0 to 998 written
// without a leading zero.
int IndexOf(const std::string& name) {
  if (name.empty() || name.size() > 3 || (name.size() > 1 && name[0] == '0')) return -1;
  int index = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return -1;
    index = index * 10 + (c - '0');
  }
  return index;
}

// One call of the store's log: "query NAME" or "set NAME", with " -> status" on failure.
bool NameOfCall(const std::string& call, const char* verb, std::string* name) {
  std::string prefix = std::string(verb) + " ";
  if (call.compare(0, prefix.size(), prefix) != 0) return false;
  *name = call.substr(prefix.size(), call.find(" -> ") - prefix.size());
  return true;
}

std::map<std::string, RegistryValue> Values(const RegistryKey& key) {
  std::map<std::string, RegistryValue> values;
  for (const RegistryValue& value : key.values()) values.emplace(value.name, value);
  return values;
}

void SeedValues(FuzzedDataProvider* in, RegistryKey* settings) {
  if (in->ConsumeBool()) {
    uint32_t count = in->ConsumeIntegralInRange<uint32_t>(0, kMaxBaskets + 2);
    std::string bytes;
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>(count >> (8 * i)));
    settings->SetValue("NumberOfBaskets", REG_DWORD, bytes);
  } else {
    DWORD type = in->PickValueInArray({REG_DWORD, REG_BINARY, REG_SZ});
    std::string bytes = in->ConsumeBytesAsString(in->ConsumeIntegralInRange<size_t>(0, 5));
    settings->SetValue("NumberOfBaskets", type, bytes);
  }
  while (in->remaining_bytes() > 0) {
    int index = in->ConsumeIntegralInRange<int>(0, 1001);
    std::string name = std::to_string(index);
    switch (in->ConsumeIntegralInRange<int>(0, 7)) {
      case 0:
        name = "0" + name;  // not a name the list uses
        break;
      case 1:
        name += "x";
        break;
      default:
        break;
    }
    std::string text = name + "|" +
                       std::string(in->ConsumeIntegralInRange<size_t>(0, 300),
                                   static_cast<char>('a' + index % 26));
    switch (in->ConsumeIntegralInRange<int>(0, 5)) {
      case 0:  // a text without its NUL
        settings->SetValue(name, REG_SZ, text);
        break;
      case 1:  // a text of another type
        settings->SetValue(name, in->PickValueInArray({REG_DWORD, REG_BINARY, REG_EXPAND_SZ}),
                           text + '\0');
        break;
      case 2:  // a few bytes of any type
        settings->SetValue(name, in->PickValueInArray({REG_DWORD, REG_BINARY, REG_SZ}),
                           in->ConsumeBytesAsString(in->ConsumeIntegralInRange<size_t>(0, 8)));
        break;
      default:
        settings->SetValue(name, REG_SZ, text + '\0');
        break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  MemoryStore store;
  bool created = false;
  std::shared_ptr<RegistryKey> settings =
      store.tree().current_user->AddChild("Software", &created)->AddChild("Larkspan", &created);
  SeedValues(&in, settings.get());
  const std::map<std::string, RegistryValue> before = Values(*settings);

  ScopedRegistryBinding binding(&store);
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Larkspan", 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    Fail("the settings key did not open");
  }
  store.ClearCalls();
  UpgradeBasketList(key);
  const std::vector<std::string> calls = store.calls();
  const std::string after_first = FormatRegeditFile(store.tree());
  UpgradeBasketList(key);
  if (FormatRegeditFile(store.tree()) != after_first) Fail("a second run changed the list");
  RegCloseKey(key);

  std::set<std::string> written;
  for (const std::string& call : calls) {
    std::string name;
    if (NameOfCall(call, "query", &name)) {
      if (name != "NumberOfBaskets" && IndexOf(name) < 0) Fail("read " + name);
    } else if (NameOfCall(call, "set", &name)) {
      if (IndexOf(name) < 0) Fail("wrote " + name);
      if (!written.insert(name).second) Fail("wrote " + name + " twice");
    } else {
      Fail("unexpected call " + call);
    }
  }

  const std::map<std::string, RegistryValue> after = Values(*settings);
  for (const auto& [name, old] : before) {
    if (written.count(name) != 0) continue;
    auto now = after.find(name);
    if (now == after.end() || now->second.type != old.type || now->second.data != old.data) {
      Fail("value " + name + " changed without being written");
    }
  }
  if (after.size() != before.size() + written.size() - [&] {
        size_t overwritten = 0;
        for (const std::string& name : written) overwritten += before.count(name);
        return overwritten;
      }()) {
    Fail("values appeared or vanished");
  }
  for (const std::string& name : written) {
    int index = IndexOf(name);
    const RegistryValue& value = after.at(name);
    if (index % 3 == 2) {
      if (value.type != REG_DWORD || value.data != std::string("\2\0\0\0", 4)) {
        Fail("[" + name + "] is not the number 2");
      }
      continue;
    }
    // [3i] comes from [2i] (at most 31 characters), [3i+1] from [2i+1] (at most 259).
    std::string source = std::to_string(index / 3 * 2 + index % 3);
    size_t limit = index % 3 == 0 ? 31 : 259;
    if (value.type != REG_SZ || value.data.empty() || value.data.back() != '\0' ||
        value.data.find('\0') != value.data.size() - 1) {
      Fail("[" + name + "] is not a text");
    }
    std::string text(value.data.substr(0, value.data.size() - 1));
    auto old = before.find(source);
    bool from_its_own = old != before.end() && old->second.data.compare(0, text.size(), text) == 0;
    if (text.size() > limit || (!text.empty() && !from_its_own)) {
      Fail("[" + name + "] holds \"" + text + "\", not a prefix of [" + source + "]");
    }
  }
  return 0;
}
