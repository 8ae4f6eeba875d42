// Named items found without a scan: the values of a key, the value lines of a store's key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "name_order.h"

// Each item's position plus one (0: a free slot), by a hash of its name that ignores case as
// NamesEqual does: open addressing in a power of two of slots, at most half of them used. The
// items stay their owner's; `name_at(position)` gives an item's name.
class NameIndex {
 public:
  // The slot of `name`, or the free slot where it would go, while there is room.
  template <typename NameAt>
  uint32_t& Slot(std::string_view name, const NameAt& name_at) {
    return slots_[SlotOf(name, name_at)];
  }

  // The position of the item called `name`, or -1.
  template <typename NameAt>
  ptrdiff_t Find(std::string_view name, const NameAt& name_at) const {
    if (slots_.empty()) return -1;
    return static_cast<ptrdiff_t>(slots_[SlotOf(name, name_at)]) - 1;
  }

  // Makes room for `count` items in all, `held` of them at positions 0 to held - 1 now.
  template <typename NameAt>
  void Reserve(size_t count, size_t held, const NameAt& name_at) {
    if (2 * count <= slots_.size()) return;
    size_t slots = 8;
    while (slots < 2 * count) slots *= 2;
    slots_.assign(slots, 0);
    for (size_t i = 0; i < held; ++i) Slot(name_at(i), name_at) = static_cast<uint32_t>(i + 1);
  }

  // Whether one more item fits.
  bool HasRoomFor(size_t held) const { return 2 * (held + 1) <= slots_.size(); }

 private:
  template <typename NameAt>
  size_t SlotOf(std::string_view name, const NameAt& name_at) const {
    uint32_t hash = 2166136261u;  // FNV-1a over the folded bytes
    for (char c : name) hash = (hash ^ NameLess::Fold(c)) * 16777619u;
    const size_t mask = slots_.size() - 1;
    size_t slot = hash & mask;
    while (slots_[slot] != 0 && !NamesEqual(name_at(slots_[slot] - 1), name)) {
      slot = (slot + 1) & mask;
    }
    return slot;
  }

  std::vector<uint32_t> slots_;
};
