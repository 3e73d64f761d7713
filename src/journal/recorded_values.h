// The registry values a run may write, recorded as they were before it
// wrote any: the journal's "values.reg", a file the registry editor imports,
// so that an administrator can also put them back by hand.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// One value of a key under HKEY_LOCAL_MACHINE (64-bit view), exactly as
// stored; `exists` false: the value (or its key) was missing.
struct RecordedValue {
  std::wstring key;
  std::wstring name;
  bool exists = false;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;

  bool SameAs(const RecordedValue& other) const {
    return exists == other.exists && (!exists || (type == other.type && data == other.data));
  }
  // The data of a text value up to its first zero unit.
  std::wstring Text() const;
};

// The values the run may write: the product key's PHI_LANGUAGE,
// DATABASE_PATH, PROJECT_PATH, Linked_ACAD_Product and the three database
// variables of the system environment, read now. Returns 0 or the
// registry's error of a value that exists but can't be read.
[[nodiscard]] DWORD ReadRecordedValues(std::vector<RecordedValue>& values);

// A value of the system environment's key (a database variable).
bool IsDatabaseVariable(const RecordedValue& value);
// A value that exists and is of a text type (REG_SZ, REG_EXPAND_SZ).
bool IsText(const RecordedValue& value);
// "REG_SZ", "REG_DWORD", ... or "another type".
const wchar_t* TypeName(DWORD type);

// The text of values.reg for run `runId`, and back: "name"=- for a missing
// value, else "name"=hex(<type>):<bytes> (exact for every type), a text
// value behind a comment with its text, and a last comment line that ends
// the file. ParseValuesText is strict: it returns false for a line that is
// none of the header, a key, a value or a comment, a value whose bytes are
// not two hex digits each between commas, a value before any key, or a
// text without its last line (with `complete` false, the earlier form
// without that line is read).
std::wstring ValuesText(const std::wstring& runId, const std::vector<RecordedValue>& values);
bool ParseValuesText(const std::wstring& text, std::vector<RecordedValue>& values,
                     bool complete = true);

// The value as it is now, into `current` (key and name taken from it).
// Returns 0 or the registry's error; a missing key or value is none.
[[nodiscard]] LONG ReadCurrentValue(const RecordedValue& recorded, RecordedValue& current);

// Writes `recorded` back when the value differs from it now (a value that
// did not exist is deleted). Returns 0 or the registry's error; the run log
// tells what was done.
[[nodiscard]] LONG PutBackValue(const RecordedValue& recorded);
