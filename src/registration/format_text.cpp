#include "format_text.h"

#include <cstring>

bool FormatText(char* out, size_t size, const char* format, const char* text) {
  if (size == 0) return false;
  const char* marker = std::strstr(format, "%s");
  size_t head = marker == nullptr ? std::strlen(format) : static_cast<size_t>(marker - format);
  size_t middle = marker == nullptr ? 0 : std::strlen(text);
  const char* tail = marker == nullptr ? "" : marker + 2;
  size_t rest = std::strlen(tail);
  if (head + middle + rest >= size) {
    out[0] = '\0';
    return false;
  }
  std::memcpy(out, format, head);
  std::memcpy(out + head, text, middle);
  std::memcpy(out + head + middle, tail, rest + 1);
  return true;
}
