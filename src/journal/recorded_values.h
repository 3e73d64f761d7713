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

// The text of values.reg for run `runId`, and back: "name"=- for a missing
// value, else "name"=hex(<type>):<bytes> (exact for every type), a text
// value behind a comment with its text. Lines that are no value (comments,
// the header) are passed over by the parse.
std::wstring ValuesText(const std::wstring& runId, const std::vector<RecordedValue>& values);
std::vector<RecordedValue> ParseValuesText(const std::wstring& text);

// The value as it is now, into `current` (key and name taken from it).
// Returns 0 or the registry's error; a missing key or value is none.
[[nodiscard]] LONG ReadCurrentValue(const RecordedValue& recorded, RecordedValue& current);

// Writes `recorded` back when the value differs from it now (a value that
// did not exist is deleted). Returns 0 or the registry's error; the run log
// tells what was done.
[[nodiscard]] LONG PutBackValue(const RecordedValue& recorded);
