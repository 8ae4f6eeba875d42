#include "text_edits.h"

#include <algorithm>
#include <tuple>

std::string_view LineEndBefore(std::string_view text, size_t pos) {
  size_t at = pos == 0 ? std::string_view::npos : text.find_last_of("\r\n", pos - 1);
  if (at == std::string_view::npos) return "\r\n";
  if (text[at] == '\r') return "\r";
  return at > 0 && text[at - 1] == '\r' ? "\r\n" : "\n";
}

bool EditPieces(std::string_view text, std::vector<TextEdit>* edits,
                std::vector<std::string_view>* pieces) {
  std::sort(edits->begin(), edits->end(), [](const TextEdit& a, const TextEdit& b) {
    return std::tie(a.begin, a.end, a.rank, a.order) < std::tie(b.begin, b.end, b.rank, b.order);
  });
  pieces->clear();
  size_t copied = 0;  // the text before this is in the pieces
  char last = '\n';   // the last character of the pieces so far, none yet counting as a line end
  auto add = [&](std::string_view piece) {
    if (piece.empty()) return;
    pieces->push_back(piece);
    last = piece.back();
  };
  for (const TextEdit& edit : *edits) {
    if (edit.begin < copied || edit.end < edit.begin || edit.end > text.size()) return false;
    add(text.substr(copied, edit.begin - copied));
    if (!edit.text.empty() && last != '\n' && last != '\r') add(LineEndBefore(text, edit.begin));
    add(edit.text);
    copied = edit.end;
  }
  add(text.substr(copied));
  return true;
}
