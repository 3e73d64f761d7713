// printf-style formatting into a tmk_String.
//
// The result's length is measured exactly before anything is allocated (one
// allocation per call), so formatting never fails for lack of capacity and
// never writes past the block, whatever the widths, precisions or numbers.
#include <cstdio>
#include <cwchar>
#include <new>

#include "text/tmk_string.h"

int tmk_String::Format(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  int result = FormatV(format, args);
  va_end(args);
  return result;
}

int tmk_String::FormatV(const wchar_t* format, va_list args) {
  ReleaseText();
  if (!format) return -1;

  va_list measuring;
  va_copy(measuring, args);
  int length = _vscwprintf(format, measuring);
  va_end(measuring);
  if (length <= 0) return length;  // empty result or a rejected format

  size_t capacity = static_cast<size_t>(length) + 1;
  wchar_t* block = new wchar_t[capacity];
  block[length] = 0;
  va_list writing;
  va_copy(writing, args);
  int written = _vsnwprintf(block, capacity, format, writing);
  va_end(writing);
  block[length] = 0;
  text_ = block;
  return written;
}
