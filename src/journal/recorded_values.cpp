#include "journal/recorded_values.h"

#include <algorithm>
#include <cwchar>

#include "platform/registry_value.h"
#include "platform/run_log.h"
#include "settings/system_environment.h"
#include "settings/update_context.h"
#include "text/lines.h"

namespace {

const wchar_t* const kProductValueNames[] = {L"PHI_LANGUAGE", L"DATABASE_PATH", L"PROJECT_PATH",
                                             L"Linked_ACAD_Product"};
const wchar_t* const kEnvironmentValueNames[] = {L"VERSANT_DBID", L"VERSANT_DB",
                                                 L"VERSANT_DBID_NODE"};
// The largest value recorded.
constexpr DWORD kLargestValueBytes = 64 * 1024;
const wchar_t kRegHeader[] = L"Windows Registry Editor Version 5.00";
const wchar_t kKeyHead[] = L"[HKEY_LOCAL_MACHINE\\";
// The last line of values.reg: a file without it was cut.
const wchar_t kValuesEnd[] = L"; end of the recorded values";

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// The text of a text value with line breaks as blanks, for the comment.
std::wstring ReadableText(const RecordedValue& value) {
  std::wstring text = value.Text();
  std::replace(text.begin(), text.end(), L'\r', L' ');
  std::replace(text.begin(), text.end(), L'\n', L' ');
  return text;
}

std::wstring RegEntry(const RecordedValue& value) {
  const std::wstring quoted = L"\"" + value.name + L"\"";
  if (!value.exists) return quoted + L"=-\r\n";
  std::wstring entry;
  if (value.type == REG_SZ || value.type == REG_EXPAND_SZ) {
    entry = L"; " + value.name + L" = \"" + ReadableText(value) + L"\" (" +
            (value.type == REG_SZ ? L"REG_SZ" : L"REG_EXPAND_SZ") + L")\r\n";
  }
  wchar_t head[32];
  std::swprintf(head, 32, L"hex(%lx):", value.type);
  entry += quoted + L"=" + head;
  for (size_t i = 0; i < value.data.size(); ++i) {
    wchar_t byte[4];
    std::swprintf(byte, 4, L"%02x", value.data[i]);
    entry += (i ? L"," : L"") + std::wstring(byte);
  }
  return entry + L"\r\n";
}

// Parses one "name"=... line into `value`; false for any other line or a
// value that is not whole: each byte two hex digits, commas between them.
bool ParseRegEntry(const std::wstring& line, RecordedValue& value) {
  size_t close = line.find(L"\"=", 1);
  if (line.empty() || line[0] != L'"' || close == std::wstring::npos) return false;
  value.name = line.substr(1, close - 1);
  std::wstring rest = line.substr(close + 2);
  if (rest == L"-") return true;
  size_t colon = rest.find(L"):");
  if (rest.compare(0, 4, L"hex(") != 0 || colon == std::wstring::npos || colon == 4 || colon > 12)
    return false;
  DWORD type = 0;
  for (size_t i = 4; i < colon; ++i) {
    if (HexDigit(rest[i]) < 0) return false;
    type = type * 16 + static_cast<DWORD>(HexDigit(rest[i]));
  }
  value.type = type;
  const std::wstring bytes = rest.substr(colon + 2);
  for (size_t at = 0; at < bytes.size(); at += 3) {
    if (at + 2 > bytes.size() || HexDigit(bytes[at]) < 0 || HexDigit(bytes[at + 1]) < 0 ||
        (at + 2 < bytes.size() && (bytes[at + 2] != L',' || at + 3 == bytes.size())))
      return false;
    value.data.push_back(static_cast<BYTE>(HexDigit(bytes[at]) * 16 + HexDigit(bytes[at + 1])));
  }
  value.exists = true;
  return true;
}

}  // namespace

bool IsDatabaseVariable(const RecordedValue& value) {
  return _wcsicmp(value.key.c_str(), kSystemEnvironmentKey) == 0;
}

bool IsText(const RecordedValue& value) {
  return value.exists && (value.type == REG_SZ || value.type == REG_EXPAND_SZ);
}

const wchar_t* TypeName(DWORD type) {
  switch (type) {
    case REG_SZ: return L"REG_SZ";
    case REG_EXPAND_SZ: return L"REG_EXPAND_SZ";
    case REG_DWORD: return L"REG_DWORD";
    case REG_QWORD: return L"REG_QWORD";
    case REG_MULTI_SZ: return L"REG_MULTI_SZ";
    case REG_BINARY: return L"REG_BINARY";
    default: return L"another type";
  }
}

std::wstring RecordedValue::Text() const {
  std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2);
  return text.substr(0, text.find(L'\0'));
}

LONG ReadCurrentValue(const RecordedValue& recorded, RecordedValue& current) {
  current = RecordedValue();
  current.key = recorded.key;
  current.name = recorded.name;
  vskr::UniqueHkey key;
  LONG status = OpenMachineKey(recorded.key.c_str(), KEY_QUERY_VALUE, key);
  DWORD size = kLargestValueBytes;
  current.data.resize(size);
  if (status == ERROR_SUCCESS)
    status = RegQueryValueExW(key.Get(), recorded.name.c_str(), nullptr, &current.type,
                              current.data.data(), &size);
  if (IsMissingError(static_cast<DWORD>(status))) {
    current.data.clear();
    current.type = REG_NONE;
    return ERROR_SUCCESS;
  }
  if (status != ERROR_SUCCESS) return status;
  current.data.resize(size);
  current.exists = true;
  return ERROR_SUCCESS;
}

DWORD ReadRecordedValues(std::vector<RecordedValue>& values) {
  values.clear();
  auto add = [&values](const wchar_t* key, const wchar_t* name) -> DWORD {
    RecordedValue wanted;
    wanted.key = key;
    wanted.name = name;
    RecordedValue value;
    LONG status = ReadCurrentValue(wanted, value);
    if (status != ERROR_SUCCESS) {
      LogFailure(L"reading a value for the run journal", name, static_cast<DWORD>(status));
      return static_cast<DWORD>(status);
    }
    values.push_back(value);
    return ERROR_SUCCESS;
  };
  for (const wchar_t* name : kProductValueNames) {
    DWORD error = add(kProductKey, name);
    if (error != ERROR_SUCCESS) return error;
  }
  for (const wchar_t* name : kEnvironmentValueNames) {
    DWORD error = add(kSystemEnvironmentKey, name);
    if (error != ERROR_SUCCESS) return error;
  }
  return ERROR_SUCCESS;
}

std::wstring ValuesText(const std::wstring& runId, const std::vector<RecordedValue>& values) {
  std::wstring text = std::wstring(kRegHeader) + L"\r\n\r\n; The values run " + runId +
                      L" of vskr_updater may write, as they were before it wrote any. "
                      L"\"name\"=- : the value did not exist.\r\n";
  std::wstring key;
  for (const RecordedValue& value : values) {
    if (value.key != key) {
      key = value.key;
      text += L"\r\n" + std::wstring(kKeyHead) + key + L"]\r\n";
    }
    text += RegEntry(value);
  }
  return text + L"\r\n" + kValuesEnd + L"\r\n";
}

bool ParseValuesText(const std::wstring& text, std::vector<RecordedValue>& values,
                     bool complete) {
  values.clear();
  const std::vector<std::wstring> lines = vskr::SplitLines(text);
  if (text.empty() || text.back() != L'\n' || lines[0] != kRegHeader) return false;
  if (complete && lines.back() != kValuesEnd) return false;
  const std::wstring keyHead = kKeyHead;
  std::wstring key;
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::wstring& line = lines[i];
    RecordedValue value;
    if (line.empty() || line[0] == L';') continue;
    if (line.compare(0, keyHead.size(), keyHead) == 0 && line.back() == L']') {
      key = line.substr(keyHead.size(), line.size() - keyHead.size() - 1);
    } else if (!key.empty() && ParseRegEntry(line, value)) {
      value.key = key;
      values.push_back(value);
    } else {
      return false;
    }
  }
  return true;
}

LONG PutBackValue(const RecordedValue& recorded) {
  RecordedValue current;
  if (ReadCurrentValue(recorded, current) == ERROR_SUCCESS && current.SameAs(recorded))
    return ERROR_SUCCESS;
  vskr::UniqueHkey key;
  LONG status = OpenMachineKey(recorded.key.c_str(), KEY_SET_VALUE, key);
  if (status == ERROR_SUCCESS) {
    status = recorded.exists
                 ? RegSetValueExW(key.Get(), recorded.name.c_str(), 0, recorded.type,
                                  recorded.data.data(), static_cast<DWORD>(recorded.data.size()))
                 : RegDeleteValueW(key.Get(), recorded.name.c_str());
  }
  if (status == ERROR_FILE_NOT_FOUND && !recorded.exists) return ERROR_SUCCESS;  // key gone too
  if (status != ERROR_SUCCESS) {
    LogFailure(L"putting a registry value back as the run journal recorded it",
               recorded.name.c_str(), static_cast<DWORD>(status));
  } else {
    LogLine(recorded.exists ? L"registry value %s put back as it was before the run"
                            : L"registry value %s deleted again: it did not exist before the run",
            recorded.name.c_str());
  }
  return status;
}
