#include "utf16_text.h"

#include <algorithm>

#include "utf16_blocks.h"

constexpr std::string_view kByteOrderMark = "\xFF\xFE";

// How many bytes of a UTF-16 store StoreText narrows before it lets go of them.
constexpr size_t kReadPart = size_t{1} << 20;

void AppendUtf16(std::string* out, std::string_view text) {
  size_t at = out->size();
  out->resize(at + 2 * text.size());
  for (char c : text) {
    (*out)[at++] = c;
    (*out)[at++] = '\0';
  }
}

namespace {

// Narrows an even number of UTF-16LE `bytes` to `out`: blocks of characters from U+0001 to U+00FF
// many units at a time, any other block unit by unit, where *high tells of a unit above 0xFF and
// *nul of the character U+0000.
void Narrow(std::string_view bytes, char* out, bool* high, bool* nul) {
  const char* in = bytes.data();
  const size_t units = bytes.size() / 2;
  for (size_t at = 0; at < units;) {
    at += NarrowPlainBlocks(in + 2 * at, units - at, out + at);
    for (const size_t end = std::min(units, at + kBlockUnits); at < end; ++at) {
      const bool beyond = in[2 * at + 1] != '\0';
      out[at] = beyond ? kHighUnit : in[2 * at];
      *high |= beyond;
      *nul |= !beyond && in[2 * at] == '\0';
    }
  }
}

}  // namespace

bool NarrowUtf16(std::string_view bytes, std::string* text, bool* high) {
  if (bytes.size() % 2 != 0) return false;
  text->resize(bytes.size() / 2);
  bool nul = false;  // a character like any other here
  *high = false;
  Narrow(bytes, &(*text)[0], high, &nul);
  return true;
}

bool StoreText::Read(std::string_view bytes, const std::function<void(std::string_view)>& done) {
  bytes_ = text_ = bytes;
  utf16_ = bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark;
  if (!utf16_) return bytes.find('\0') == std::string_view::npos;
  const std::string_view units = bytes.substr(kByteOrderMark.size());
  if (units.size() % 2 != 0) return false;
  char* const narrowed = narrowed_.Allocate(units.size() / 2);
  text_ = std::string_view(narrowed, units.size() / 2);
  bool high = false;
  bool nul = false;
  for (size_t at = 0; at < units.size() && !nul; at += kReadPart) {
    const std::string_view part = units.substr(at, kReadPart);
    Narrow(part, narrowed + at / 2, &high, &nul);
    if (done) done(part);
  }
  return !nul;  // the character NUL: no store
}

void StoreText::Encode(std::vector<std::string_view>* pieces, std::deque<std::string>* owned) {
  if (!utf16_) return;
  std::less_equal<const char*> before;
  const std::string_view units = bytes_.substr(kByteOrderMark.size());
  for (std::string_view& piece : *pieces) {
    if (before(text_.data(), piece.data()) &&
        before(piece.data() + piece.size(), text_.data() + text_.size())) {
      piece = units.substr(2 * static_cast<size_t>(piece.data() - text_.data()), 2 * piece.size());
    } else {
      AppendUtf16(&owned->emplace_back(), piece);
      piece = owned->back();
    }
  }
  pieces->insert(pieces->begin(), kByteOrderMark);
  text_ = {};
  narrowed_.Reset();
}
