// The updater's one string type: a NUL-terminated UTF-16 text in a heap
// block that the string owns, or the shared static empty text.
//
// Value semantics: copies duplicate the text. Lengths are never stored; every
// operation counts up to the first zero unit. The only failure is allocation
// failure, reported by std::bad_alloc; no operation catches it.
#pragma once

#include <cstdarg>
#include <cstddef>

class tmk_String {
 public:
  // The empty string: Text() points at the shared empty text, nothing owned.
  tmk_String();
  tmk_String(const tmk_String& source);
  // A null pointer gives the empty string.
  tmk_String(const wchar_t* source);  // NOLINT: implicit by design
  ~tmk_String();

  tmk_String& operator=(const tmk_String& source) { return Assign(source); }

  // Never null, always NUL-terminated. Callers never write through it.
  const wchar_t* Text() const { return text_; }
  bool IsEmpty() const { return text_[0] == 0; }

  // Replaces the text by a copy of the source's. Assigning a string to
  // itself changes nothing.
  tmk_String& Assign(const tmk_String& source);
  // Replaces the text by a copy of `source` (null empties the string).
  // Passing the string's own Text() changes nothing; a
  // pointer into the middle of the string's own text is safe.
  tmk_String& Assign(const wchar_t* source);
  // Appends `tail` (null or empty: the text stays).
  // Appending the string's own text to itself is safe.
  tmk_String& Append(const wchar_t* tail);
  // Appends one backslash unconditionally, also to an empty text.
  tmk_String& AppendBackslash();

  // printf-style formatting with the Microsoft wide conventions (%s takes
  // UTF-16 text, %S 8-bit text). Replaces the text; returns the number of
  // units written, or a negative value when the formatter rejects the
  // format (the text is then empty). Never writes past its block.
  int Format(const wchar_t* format, ...);
  int FormatV(const wchar_t* format, va_list args);

 private:
  void ReleaseText();
  // Installs an owned copy of `count` units of `source` (nothing for 0).
  void CopyIn(const wchar_t* source, size_t count);

  wchar_t* text_;
};

// A copy of `head` with `tail` appended (null or empty: a plain copy).
tmk_String Concatenate(const tmk_String& head, const wchar_t* tail);
// A copy of `head` with one backslash appended.
tmk_String WithBackslash(const tmk_String& head);
// The first min(count, length) units; a negative count gives the empty string.
tmk_String Left(const tmk_String& source, int count);
// The last min(count, length) units.
tmk_String Right(const tmk_String& source, int count);
