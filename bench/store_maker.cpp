#include "store_maker.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

constexpr int kValuesPerKey = 8;

// xorshift32 from a fixed seed.
class Random {
 public:
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }

 private:
  uint32_t state_ = 2463534242u;
};

std::string Text(std::string text) {
  text.push_back('\0');
  return text;
}

std::string LittleEndian(uint64_t number, int bytes) {
  std::string data;
  for (int i = 0; i < bytes; ++i) data.push_back(static_cast<char>((number >> (8 * i)) & 0xFF));
  return data;
}

std::shared_ptr<RegistryKey> Child(const std::shared_ptr<RegistryKey>& parent,
                                   const std::string& name) {
  bool created = false;
  return parent->AddChild(name, &created);
}

// The key that holds the values numbered from `first`: every fourth one a class key (every
// other class key with its server key below it), the rest vendor settings three levels down.
std::shared_ptr<RegistryKey> KeyFor(RegistryTree* tree, int first) {
  int key = first / kValuesPerKey;
  char name[64];
  if (key % 4 == 0) {
    std::snprintf(name, sizeof name, "{%08X-51A5-4C1B-9E3D-%012X}", static_cast<unsigned>(key),
                  static_cast<unsigned>(key * 7919));
    auto clsid = Child(Child(tree->classes_root, "CLSID"), name);
    return key % 8 == 0 ? Child(clsid, "InprocServer32") : clsid;
  }
  std::snprintf(name, sizeof name, "Vendor%d", key / 100);
  auto vendor = Child(Child(tree->current_user, "Software"), name);
  std::snprintf(name, sizeof name, "Product%d", key / 10 % 10);
  auto product = Child(vendor, name);
  std::snprintf(name, sizeof name, "Settings%d", key % 10);
  return Child(product, name);
}

void AddValue(RegistryKey* key, int number, Random* random) {
  char name[32];
  std::snprintf(name, sizeof name, "Option%d", number);
  uint32_t pick = random->Next();
  if (number % kValuesPerKey == 0) {
    key->SetValue("", REG_SZ, Text("Component " + std::to_string(pick % 100000)));
    return;
  }
  switch (pick % 7) {
    case 0:
      key->SetValue(name, REG_SZ, Text("enabled"));
      break;
    case 1:
      key->SetValue(name, REG_SZ,
                    Text("C:\\Program Files\\Vendor \"" + std::to_string(pick % 1000) +
                         "\"\\bin\\module" + std::to_string(number) + ".dll"));
      break;
    case 2:
      key->SetValue(name, REG_DWORD, LittleEndian(pick, 4));
      break;
    case 3: {
      std::string bytes;
      for (uint32_t i = 0, size = 1 + pick % 64; i < size; ++i) {
        bytes.push_back(static_cast<char>(random->Next()));
      }
      key->SetValue(name, REG_BINARY, bytes);
      break;
    }
    case 4:
      key->SetValue(name, REG_EXPAND_SZ,
                    Text("%SystemRoot%\\system32\\lib" + std::to_string(pick % 100) + ".dll"));
      break;
    case 5:
      key->SetValue(name, REG_MULTI_SZ, std::string("first\0second\0third\0\0", 20));
      break;
    default:
      key->SetValue(name, REG_QWORD,
                    LittleEndian(static_cast<uint64_t>(pick) << 32 | random->Next(), 8));
      break;
  }
}

}  // namespace

void FillUnrelated(RegistryTree* tree, int values) {
  Random random;
  std::shared_ptr<RegistryKey> key;
  for (int number = 0; number < values; ++number) {
    if (number % kValuesPerKey == 0) key = KeyFor(tree, number);
    AddValue(key.get(), number, &random);
  }
}

void FillBasketList(RegistryTree* tree, int baskets, bool current) {
  auto settings = Child(Child(tree->current_user, "Software"), "Larkspan");
  settings->SetValue("NumberOfBaskets", REG_DWORD, LittleEndian(static_cast<uint32_t>(baskets), 4));
  int per_basket = current ? 3 : 2;
  for (int i = 0; i < baskets; ++i) {
    settings->SetValue(std::to_string(per_basket * i), REG_SZ, Text("basket " + std::to_string(i)));
    settings->SetValue(std::to_string(per_basket * i + 1), REG_SZ,
                       Text("C:\\baskets\\" + std::to_string(i) + "\\list.txt"));
    if (current) settings->SetValue(std::to_string(3 * i + 2), REG_DWORD, LittleEndian(2, 4));
  }
}
