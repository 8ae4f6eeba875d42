#include "text_edits.h"

#include <algorithm>
#include <tuple>

#include "regedit_lines.h"

bool EditPieces(std::string_view text, std::string_view new_text, std::vector<TextEdit>* edits,
                std::vector<std::string_view>* pieces) {
  // Edits come in runs already in order (a key's follow its lines): merging the runs costs a pass
  // for every doubling of their length, where sorting would compare every edit many times.
  const auto before = [](const TextEdit& a, const TextEdit& b) {
    return std::tie(a.begin, a.end, a.kind, a.order) < std::tie(b.begin, b.end, b.kind, b.order);
  };
  std::vector<size_t> runs{0};  // where each run starts, then the end
  for (size_t i = 1; i < edits->size(); ++i) {
    if (before((*edits)[i], (*edits)[i - 1])) runs.push_back(i);
  }
  runs.push_back(edits->size());
  for (auto first = edits->begin(); runs.size() > 2;) {
    size_t kept = 1;  // runs[0] stays
    for (size_t i = 2; i < runs.size(); i += 2) {
      std::inplace_merge(first + runs[i - 2], first + runs[i - 1], first + runs[i], before);
      runs[kept++] = runs[i];
    }
    if (runs.size() % 2 == 0) runs[kept++] = runs.back();  // an odd run out waits
    runs.resize(kept);
  }
  pieces->clear();
  size_t copied = 0;  // the text before this is in the pieces
  char last = '\n';   // the last character of the pieces so far, none yet counting as a line break
  const char* joined_end = nullptr;  // where the last piece ends when it is of new_text
  auto add = [&](std::string_view piece) {
    if (piece.empty()) return;
    last = piece.back();
    // Edits whose texts follow each other in new_text (a run of changed values) go out as one
    // piece: one write and one encoding for the run.
    if (piece.data() == joined_end) {
      pieces->back() =
          std::string_view(pieces->back().data(), pieces->back().size() + piece.size());
    } else {
      pieces->push_back(piece);
    }
    joined_end = nullptr;
  };
  pieces->reserve(2 * edits->size() + 1);
  for (const TextEdit& edit : *edits) {
    if (edit.begin < copied || edit.end < edit.begin || edit.end > text.size()) return false;
    add(text.substr(copied, edit.begin - copied));
    const std::string_view lines =
        new_text.substr(edit.text_begin, edit.text_end - edit.text_begin);
    if (!lines.empty() && !IsLineBreak(last)) add(LineEndBefore(text, edit.begin));
    add(lines);
    if (!lines.empty()) joined_end = lines.data() + lines.size();
    copied = edit.end;
  }
  add(text.substr(copied));
  return true;
}
