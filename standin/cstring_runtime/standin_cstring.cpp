#include "standin/cstring_runtime/standin_cstring.h"

#include <cstring>

namespace {

// Returns a heap copy of `text`. Like the MFC string class, the runtime
// reports exhausted memory with a C++ exception (std::bad_alloc) that the
// caller's exception handling sees.
char* CopyText(const char* text) {
  size_t length = std::strlen(text);
  char* copy = new char[length + 1];
  std::memcpy(copy, text, length + 1);
  return copy;
}

}  // namespace

void StandInCStringConstruct(StandInCString* self, const char* text) {
  self->text = CopyText(text == nullptr ? "" : text);
}

void StandInCStringCopy(StandInCString* self, const StandInCString* source) {
  self->text = CopyText(source->text == nullptr ? "" : source->text);
}

void StandInCStringDestroy(StandInCString* self) {
  delete[] self->text;
  self->text = nullptr;
}
