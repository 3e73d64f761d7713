#include "text/tmk_string.h"

#include <cstring>
#include <cwchar>
#include <new>

namespace {

// Shared by every string that owns no text; only ever holds its zero.
wchar_t EmptyText[1] = {0};

size_t Length(const wchar_t* text) { return text ? std::wcslen(text) : 0; }

wchar_t* AllocateUnits(size_t units) {
  // new[] of a size whose byte count overflows throws std::bad_array_new_length,
  // which is a std::bad_alloc.
  return new wchar_t[units];
}

}  // namespace

tmk_String::tmk_String() : text_(EmptyText) {}

tmk_String::tmk_String(const tmk_String& source) : tmk_String() {
  CopyIn(source.text_, Length(source.text_));
}

tmk_String::tmk_String(const wchar_t* source) : tmk_String() { CopyIn(source, Length(source)); }

tmk_String::~tmk_String() { ReleaseText(); }

void tmk_String::ReleaseText() {
  if (text_ != EmptyText) delete[] text_;
  text_ = EmptyText;
}

void tmk_String::CopyIn(const wchar_t* source, size_t count) {
  if (count == 0) return;
  wchar_t* block = AllocateUnits(count + 1);
  std::memcpy(block, source, count * sizeof(wchar_t));
  block[count] = 0;
  text_ = block;
}

tmk_String& tmk_String::Assign(const tmk_String& source) {
  if (source.text_ == text_) return *this;
  ReleaseText();
  if (!source.IsEmpty()) CopyIn(source.text_, Length(source.text_));
  return *this;
}

tmk_String& tmk_String::Assign(const wchar_t* source) {
  if (source == text_) return *this;
  // Copy before releasing: `source` may point into the old block.
  size_t count = Length(source);
  wchar_t* block = nullptr;
  if (count != 0) {
    block = AllocateUnits(count + 1);
    std::memcpy(block, source, count * sizeof(wchar_t));
    block[count] = 0;
  }
  ReleaseText();
  if (block) text_ = block;
  return *this;
}

tmk_String& tmk_String::Append(const wchar_t* tail) {
  size_t added = Length(tail);
  if (added == 0) return *this;
  size_t old = Length(text_);
  // The new block is filled before the old one is released, so `tail` may be
  // (part of) this string's own text.
  wchar_t* block = AllocateUnits(old + added + 1);
  std::memcpy(block, text_, old * sizeof(wchar_t));
  std::memcpy(block + old, tail, added * sizeof(wchar_t));
  block[old + added] = 0;
  ReleaseText();
  text_ = block;
  return *this;
}

tmk_String& tmk_String::AppendBackslash() {
  size_t old = Length(text_);
  wchar_t* block = AllocateUnits(old + 2);
  std::memcpy(block, text_, old * sizeof(wchar_t));
  block[old] = L'\\';
  block[old + 1] = 0;
  ReleaseText();
  text_ = block;
  return *this;
}

tmk_String Concatenate(const tmk_String& head, const wchar_t* tail) {
  tmk_String result(head);
  if (tail && tail[0] != 0) result.Append(tail);
  return result;
}

tmk_String WithBackslash(const tmk_String& head) {
  tmk_String result(head);
  result.AppendBackslash();
  return result;
}

namespace {

tmk_String Piece(const wchar_t* start, size_t count) {
  if (count == 0) return tmk_String();
  wchar_t* temporary = new wchar_t[count + 1];
  std::memcpy(temporary, start, count * sizeof(wchar_t));
  temporary[count] = 0;
  try {
    tmk_String result(temporary);
    delete[] temporary;
    return result;
  } catch (...) {
    delete[] temporary;
    throw;
  }
}

}  // namespace

tmk_String Left(const tmk_String& source, int count) {
  if (count < 0) return tmk_String();
  size_t length = Length(source.Text());
  size_t take = static_cast<size_t>(count) < length ? static_cast<size_t>(count) : length;
  return Piece(source.Text(), take);
}

tmk_String Right(const tmk_String& source, int count) {
  if (count <= 0) return tmk_String();
  size_t length = Length(source.Text());
  size_t take = static_cast<size_t>(count) < length ? static_cast<size_t>(count) : length;
  return Piece(source.Text() + (length - take), take);
}
