// A large text in the usual pages: the Windows builds read no store but in their tests.
#include "text_buffer.h"

char* TextBuffer::Allocate(size_t size) {
  Reset();
  owned_.reset(new char[size]);
  return owned_.get();
}

void TextBuffer::Reset() {
  owned_.reset();
}
