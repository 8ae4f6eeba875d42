#include "upgrade_basket_list.h"

#include <cstdint>

#include "text_value.h"

namespace {

// A value's name: its index in decimal, 0 to 3 * kMaxBaskets - 1, three digits at most.
struct IndexName {
  static_assert(3 * kMaxBaskets - 1 <= 999, "an index has three digits at most");
  explicit IndexName(int index) {
    char* to = text;
    if (index >= 100) *to++ = static_cast<char>('0' + index / 100);
    if (index >= 10) *to++ = static_cast<char>('0' + index / 10 % 10);
    *to++ = static_cast<char>('0' + index % 10);
    *to = '\0';
  }
  char text[4];
};

// Reads the text value `name` with `limit` bytes of room into `buffer` (at least `limit`
// bytes). A value that is missing or does not fit gives an empty text, never what an earlier
// read left in the buffer; one stored without its NUL is ended within the limit.
void ReadText(HKEY key, const char* name, char* buffer, DWORD limit) {
  DWORD size = limit;
  if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) !=
      ERROR_SUCCESS) {
    buffer[0] = '\0';
    return;
  }
  buffer[size < limit ? size : limit - 1] = '\0';
}

}  // namespace

void UpgradeBasketList(HKEY settings_key) {
  // A count stored in fewer than four bytes has zero high bytes.
  BYTE count_bytes[4] = {0, 0, 0, 0};
  DWORD size = sizeof count_bytes;
  if (RegQueryValueExA(settings_key, "NumberOfBaskets", nullptr, nullptr, count_bytes, &size) !=
      ERROR_SUCCESS) {
    return;
  }
  uint32_t raw =
      static_cast<uint32_t>(count_bytes[0]) | static_cast<uint32_t>(count_bytes[1]) << 8 |
      static_cast<uint32_t>(count_bytes[2]) << 16 | static_cast<uint32_t>(count_bytes[3]) << 24;
  if (raw == 0 || raw > static_cast<uint32_t>(kMaxBaskets)) return;  // also every negative count
  int count = static_cast<int>(raw);

  // The last value of the current layout is the one the conversion writes first.
  BYTE probe[4];
  DWORD probe_size = sizeof probe;
  if (RegQueryValueExA(settings_key, IndexName(3 * count - 1).text, nullptr, nullptr, probe,
                       &probe_size) == ERROR_SUCCESS) {
    return;
  }

  // From the last basket down, every write lands above every old value not yet read.
  static const BYTE kTwo[4] = {2, 0, 0, 0};
  char text[kTextSize];
  for (int i = count - 1; i >= 0; --i) {
    RegSetValueExA(settings_key, IndexName(3 * i + 2).text, 0, REG_DWORD, kTwo, sizeof kTwo);
    ReadText(settings_key, IndexName(2 * i + 1).text, text, kTextSize);
    SetTextValue(settings_key, IndexName(3 * i + 1).text, text);
    ReadText(settings_key, IndexName(2 * i).text, text, kShortTextSize);
    SetTextValue(settings_key, IndexName(3 * i).text, text);
  }
}
