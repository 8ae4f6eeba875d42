// Bytes that stay where they were put for as long as their pool lives: the names and data of a
// key's values, which a run writes once or a few times and never frees one by one.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

class BytePool {
 public:
  BytePool() = default;
  BytePool(const BytePool&) = delete;
  BytePool& operator=(const BytePool&) = delete;

  // Room for `size` bytes, not filled, at an address that does not move: never null, even for
  // none, so that a view of them is a view of some memory.
  char* Take(size_t size) {
    if (size > room_ || next_ == nullptr) {
      // Blocks double with what the pool holds, so that a key of many values allocates a few
      // times, and one of few values holds little.
      const size_t block = size > held_ ? (size > kFirstBlock ? size : kFirstBlock) : held_;
      blocks_.emplace_back(new char[block]);
      next_ = blocks_.back().get();
      room_ = block;
      held_ += block;
    }
    char* taken = next_;
    next_ += size;
    room_ -= size;
    return taken;
  }

 private:
  static constexpr size_t kFirstBlock = 64;

  std::vector<std::unique_ptr<char[]>> blocks_;
  char* next_ = nullptr;
  size_t room_ = 0;
  size_t held_ = 0;  // bytes in all blocks
};
