// Memory for a large text written once, in order, then read: a UTF-16 store's narrowed text.
#pragma once

#include <cstddef>
#include <memory>

class TextBuffer {
 public:
  TextBuffer() = default;
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;
  ~TextBuffer() { Reset(); }

  // Room for `size` bytes, not filled, in place of any held before. Where the system offers them,
  // a large text gets pages large enough that filling it costs few page faults.
  char* Allocate(size_t size);
  // Frees the room.
  void Reset();

 private:
  std::unique_ptr<char[]> owned_;  // a text in the usual pages
  char* mapped_ = nullptr;         // or one mapped apart, of mapped_size_ bytes
  size_t mapped_size_ = 0;
};
