#include "preserve/run_journal.h"

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/admin_folder.h"
#include "platform/message_box.h"
#include "platform/registry_value.h"
#include "platform/run_log.h"
#include "platform/system_text.h"
#include "platform/unique_handle.h"
#include "preserve/backup_copy.h"
#include "settings/settings_file.h"
#include "settings/system_environment.h"
#include "text/lines.h"

namespace {

const wchar_t kRunFile[] = L"run.ini";
const wchar_t kValuesFile[] = L"values.reg";
// The files recorded: the name of the copy in the journal.
const wchar_t kModulesCopy[] = L"Modules.ini";
const wchar_t kSettingsCopy[] = L"qiro.ini";
const wchar_t* const kRecordedFiles[] = {kModulesCopy, kSettingsCopy};

const wchar_t kStateRunning[] = L"running";
const wchar_t kStateEnded[] = L"ended";
const wchar_t kStateBackupKept[] = L"backup kept";

// The values a run may write, by key.
const wchar_t* const kProductValueNames[] = {L"PHI_LANGUAGE", L"DATABASE_PATH", L"PROJECT_PATH",
                                             L"Linked_ACAD_Product"};
const wchar_t* const kEnvironmentValueNames[] = {L"VERSANT_DBID", L"VERSANT_DB",
                                                 L"VERSANT_DBID_NODE"};
// The largest value recorded.
constexpr DWORD kLargestValueBytes = 64 * 1024;

tmk_String PathIn(const tmk_String& folder, const wchar_t* name) {
  tmk_String path;
  path.Format(L"%s\\%s", folder.Text(), name);
  return path;
}

tmk_String TimeText(const SYSTEMTIME& time, const wchar_t* format) {
  tmk_String text;
  text.Format(format, time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond);
  return text;
}

tmk_String Now() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return TimeText(now, L"%04u-%02u-%02u %02u:%02u:%02u");
}

// Writes `text` as a new UTF-16 file behind a byte-order mark, so that the
// profile functions keep it in UTF-16 when they write to it later.
DWORD WriteNewUtf16File(const tmk_String& path, const std::wstring& text) {
  vskr::UniqueFileHandle file(CreateFileW(path.Text(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return GetLastError();
  std::wstring content = L"\xFEFF" + text;
  DWORD bytes = static_cast<DWORD>(content.size() * sizeof(wchar_t));
  DWORD written = 0;
  if (!WriteFile(file.Get(), content.data(), bytes, &written, nullptr)) return GetLastError();
  return written == bytes ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

// --- values.reg ---

struct RawValue {
  bool exists = false;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  bool operator==(const RawValue& o) const {
    return exists == o.exists && (!exists || (type == o.type && data == o.data));
  }
};

// A missing key or value reads as a value that does not exist.
LONG ReadRawValue(const wchar_t* subKey, const wchar_t* name, RawValue& value) {
  value = RawValue();
  vskr::UniqueHkey key;
  LONG status = OpenMachineKey(subKey, KEY_QUERY_VALUE, key);
  DWORD size = kLargestValueBytes;
  value.data.resize(size);
  if (status == ERROR_SUCCESS)
    status = RegQueryValueExW(key.Get(), name, nullptr, &value.type, value.data.data(), &size);
  if (IsMissingError(static_cast<DWORD>(status))) {
    value.data.clear();
    return ERROR_SUCCESS;
  }
  if (status != ERROR_SUCCESS) return status;
  value.data.resize(size);
  value.exists = true;
  return ERROR_SUCCESS;
}

// The data of a text value up to its first zero, line breaks as blanks: for
// the comment that makes the record readable.
std::wstring ReadableText(const RawValue& value) {
  std::wstring text(reinterpret_cast<const wchar_t*>(value.data.data()), value.data.size() / 2);
  text = text.substr(0, text.find(L'\0'));
  std::replace(text.begin(), text.end(), L'\r', L' ');
  std::replace(text.begin(), text.end(), L'\n', L' ');
  return text;
}

// One value in the form the registry editor imports: "name"=- for a
// missing value, else "name"=hex(<type>):<bytes> (exact for every type),
// behind a comment with the text of a text value.
std::wstring RegEntry(const wchar_t* name, const RawValue& value) {
  std::wstring entry;
  if (!value.exists) return L"\"" + std::wstring(name) + L"\"=-\r\n";
  if (value.type == REG_SZ || value.type == REG_EXPAND_SZ) {
    entry = L"; " + std::wstring(name) + L" = \"" + ReadableText(value) + L"\" (" +
            (value.type == REG_SZ ? L"REG_SZ" : L"REG_EXPAND_SZ") + L")\r\n";
  }
  wchar_t head[32];
  std::swprintf(head, 32, L"hex(%lx):", value.type);
  entry += L"\"" + std::wstring(name) + L"\"=" + head;
  for (size_t i = 0; i < value.data.size(); ++i) {
    wchar_t byte[4];
    std::swprintf(byte, 4, L"%02x", value.data[i]);
    entry += (i ? L"," : L"") + std::wstring(byte);
  }
  return entry + L"\r\n";
}

DWORD AppendKeyRecord(std::wstring& text, const wchar_t* subKey, const wchar_t* const* names,
                      size_t count) {
  text += L"\r\n[HKEY_LOCAL_MACHINE\\" + std::wstring(subKey) + L"]\r\n";
  for (size_t i = 0; i < count; ++i) {
    RawValue value;
    LONG status = ReadRawValue(subKey, names[i], value);
    if (status != ERROR_SUCCESS) {
      LogFailure(L"reading a value for the run journal", names[i], static_cast<DWORD>(status));
      return static_cast<DWORD>(status);
    }
    text += RegEntry(names[i], value);
  }
  return ERROR_SUCCESS;
}

DWORD WriteValuesRecord(const tmk_String& folder) {
  std::wstring text =
      L"Windows Registry Editor Version 5.00\r\n\r\n"
      L"; The values run " +
      std::wstring(RunIdOf(folder).Text()) +
      L" of vskr_updater may write, as they were before it wrote any. \"name\"=- : the value "
      L"did not exist.\r\n";
  DWORD error = AppendKeyRecord(text, kProductKey, kProductValueNames,
                                sizeof kProductValueNames / sizeof *kProductValueNames);
  if (error == ERROR_SUCCESS)
    error = AppendKeyRecord(text, kSystemEnvironmentKey, kEnvironmentValueNames,
                            sizeof kEnvironmentValueNames / sizeof *kEnvironmentValueNames);
  if (error == ERROR_SUCCESS) error = WriteNewUtf16File(PathIn(folder, kValuesFile), text);
  if (error != ERROR_SUCCESS)
    LogFailure(L"recording the values in the run journal", folder.Text(), error);
  return error;
}

// Reads a file written by WriteNewUtf16File.
std::wstring ReadUtf16File(const tmk_String& path) {
  std::wstring text;
  vskr::UniqueFileHandle file(CreateFileW(path.Text(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return text;
  wchar_t chunk[2048];
  DWORD got = 0;
  while (ReadFile(file.Get(), chunk, sizeof chunk, &got, nullptr) && got > 0)
    text.append(chunk, got / sizeof(wchar_t));
  if (!text.empty() && text[0] == L'\xFEFF') text.erase(0, 1);
  return text;
}

// Parses one "name"=... line of values.reg; false for any other line.
bool ParseRegEntry(const std::wstring& line, std::wstring& name, RawValue& value) {
  size_t close = line.find(L"\"=", 1);
  if (line.empty() || line[0] != L'"' || close == std::wstring::npos) return false;
  name = line.substr(1, close - 1);
  std::wstring rest = line.substr(close + 2);
  value = RawValue();
  if (rest == L"-") return true;
  if (rest.compare(0, 4, L"hex(") != 0) return false;
  wchar_t* end = nullptr;
  value.type = static_cast<DWORD>(std::wcstoul(rest.c_str() + 4, &end, 16));
  if (!end || end[0] != L')' || end[1] != L':') return false;
  for (const wchar_t* p = end + 2; *p;) {
    value.data.push_back(static_cast<BYTE>(std::wcstoul(p, &end, 16)));
    if (end == p) return false;
    p = *end == L',' ? end + 1 : end;
  }
  value.exists = true;
  return true;
}

void PutBackValue(const std::wstring& subKey, const std::wstring& name, const RawValue& recorded) {
  RawValue current;
  if (ReadRawValue(subKey.c_str(), name.c_str(), current) == ERROR_SUCCESS && current == recorded)
    return;
  vskr::UniqueHkey key;
  LONG status = OpenMachineKey(subKey.c_str(), KEY_SET_VALUE, key);
  if (status == ERROR_SUCCESS) {
    status = recorded.exists
                 ? RegSetValueExW(key.Get(), name.c_str(), 0, recorded.type, recorded.data.data(),
                                  static_cast<DWORD>(recorded.data.size()))
                 : RegDeleteValueW(key.Get(), name.c_str());
  }
  if (status != ERROR_SUCCESS) {
    LogFailure(L"putting a registry value back as the run journal recorded it", name.c_str(),
               static_cast<DWORD>(status));
  } else {
    LogLine(recorded.exists ? L"registry value %s put back as it was before this run"
                            : L"registry value %s deleted again: it did not exist before this run",
            name.c_str());
  }
}

void PutBackValues(const tmk_String& folder) {
  const std::wstring keyHead = L"[HKEY_LOCAL_MACHINE\\";
  std::wstring subKey;
  for (const std::wstring& line : vskr::SplitLines(ReadUtf16File(PathIn(folder, kValuesFile)))) {
    std::wstring name;
    RawValue recorded;
    if (line.compare(0, keyHead.size(), keyHead) == 0 && line.back() == L']') {
      subKey = line.substr(keyHead.size(), line.size() - keyHead.size() - 1);
    } else if (!subKey.empty() && ParseRegEntry(line, name, recorded)) {
      PutBackValue(subKey, name, recorded);
    }
  }
}

// --- files ---

DWORD RecordFile(const tmk_String& folder, const wchar_t* copyName, const tmk_String& file) {
  if (file.IsEmpty()) return ERROR_SUCCESS;
  SetJournalText(folder, L"files", copyName, file);
  tmk_String copy = PathIn(folder, copyName);
  if (!CopyFileW(file.Text(), copy.Text(), TRUE)) {
    DWORD error = GetLastError();
    if (IsMissingError(error)) return ERROR_SUCCESS;  // no copy: the file did not exist
    LogFailureOf(error, L"copying \"%s\" into the run journal as \"%s\" failed", file.Text(),
                 copy.Text());
    return error;
  }
  bool same = false;
  DWORD error = CompareFileContents(file, copy, same);
  if (error == ERROR_SUCCESS && !same) error = ERROR_INVALID_DATA;
  if (error != ERROR_SUCCESS)
    LogFailureOf(error, L"the run journal's copy \"%s\" is not identical to \"%s\"", copy.Text(),
                 file.Text());
  return error;
}

void PutBackFile(const tmk_String& folder, const wchar_t* copyName) {
  tmk_String file = JournalText(folder, L"files", copyName);
  if (file.IsEmpty()) return;
  tmk_String copy = PathIn(folder, copyName);
  bool existed = GetFileAttributesW(copy.Text()) != INVALID_FILE_ATTRIBUTES;
  bool exists = GetFileAttributesW(file.Text()) != INVALID_FILE_ATTRIBUTES;
  if (!existed) {
    if (!exists) return;
    ClearReadOnly(file);
    if (DeleteFileW(file.Text())) {
      LogLine(L"deleted again: \"%s\" did not exist before this run", file.Text());
    } else {
      LogFailure(L"deleting a file this run created", file.Text(), GetLastError());
    }
    return;
  }
  bool same = false;
  if (exists && CompareFileContents(copy, file, same) == ERROR_SUCCESS && same) return;
  ClearReadOnly(file);
  if (CopyFileW(copy.Text(), file.Text(), FALSE)) {
    LogLine(L"put back from the run journal as it was before this run: \"%s\"", file.Text());
  } else {
    LogFailureOf(GetLastError(), L"putting back \"%s\" from the run journal's \"%s\" failed",
                 file.Text(), copy.Text());
  }
}

// --- journals of earlier runs ---

// The journal folders under the root, newest first.
std::vector<tmk_String> JournalsNewestFirst() {
  std::vector<std::wstring> names;
  tmk_String root = JournalRoot();
  if (root.IsEmpty()) return {};
  WIN32_FIND_DATAW found;
  vskr::UniqueFindHandle search(FindFirstFileW(PathIn(root, L"*").Text(), &found));
  if (search) {
    do {
      bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                    !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
      if (folder && found.cFileName[0] != L'.') names.push_back(found.cFileName);
    } while (FindNextFileW(search.Get(), &found));
  }
  std::sort(names.rbegin(), names.rend());
  std::vector<tmk_String> folders;
  for (const std::wstring& name : names) folders.push_back(PathIn(root, name.c_str()));
  return folders;
}

bool IsUnfinished(const tmk_String& folder) {
  tmk_String state = JournalText(folder, L"run", L"state");
  return _wcsicmp(state.Text(), kStateRunning) == 0 ||
         _wcsicmp(state.Text(), kStateBackupKept) == 0;
}

// The key names of the backup copies a journal may hold.
tmk_String BackupKey(const wchar_t* copyName) { return Concatenate(tmk_String(copyName), L".upd"); }

bool HoldsBackup(const tmk_String& folder, const tmk_String& backup, const tmk_String& digest) {
  for (const wchar_t* copyName : kRecordedFiles) {
    tmk_String key = BackupKey(copyName);
    tmk_String held = JournalText(folder, L"backups", key.Text());
    if (held.IsEmpty() || _wcsicmp(held.Text(), backup.Text()) != 0) continue;
    tmk_String digestKey = Concatenate(key, L" digest");
    if (_wcsicmp(JournalText(folder, L"backups", digestKey.Text()).Text(), digest.Text()) == 0)
      return true;
  }
  return false;
}

// True while a backup copy the journal records is still there, unchanged.
bool StillHoldsABackup(const tmk_String& folder) {
  for (const wchar_t* copyName : kRecordedFiles) {
    tmk_String key = BackupKey(copyName);
    tmk_String backup = JournalText(folder, L"backups", key.Text());
    tmk_String digest;
    if (!backup.IsEmpty() && FileDigest(backup, digest) == ERROR_SUCCESS &&
        HoldsBackup(folder, backup, digest))
      return true;
  }
  return false;
}

// Only the journal's own files go; anything else keeps the folder.
void RemoveJournal(const tmk_String& folder) {
  for (const wchar_t* name : {kRunFile, kValuesFile, kModulesCopy, kSettingsCopy}) {
    tmk_String path = PathIn(folder, name);
    if (!DeleteFileW(path.Text()))
      LogFailureUnlessMissing(L"removing a file of an old run journal", path.Text(),
                              GetLastError());
  }
  if (RemoveDirectoryW(folder.Text())) {
    LogLine(L"old run journal removed: \"%s\"", folder.Text());
  } else {
    LogFailure(L"removing an old run journal", folder.Text(), GetLastError());
  }
}

void RemoveJournalsNoLongerKept() {
  std::vector<tmk_String> journals = JournalsNewestFirst();
  for (size_t i = kJournalsKept; i < journals.size(); ++i) {
    if (IsUnfinished(journals[i]) && StillHoldsABackup(journals[i])) continue;
    RemoveJournal(journals[i]);
  }
}

tmk_String NewRunId() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  tmk_String id = TimeText(now, L"%04u%02u%02u-%02u%02u%02u");
  tmk_String withProcess;
  withProcess.Format(L"%s-%lu", id.Text(), GetCurrentProcessId());
  return withProcess;
}

DWORD WriteRunHeader(const tmk_String& folder, bool packageMode) {
  DWORD error = WriteNewUtf16File(PathIn(folder, kRunFile), L"[run]\r\n");
  if (error != ERROR_SUCCESS) {
    LogFailure(L"writing the run journal", folder.Text(), error);
    return error;
  }
  tmk_String process;
  process.Format(L"%lu", GetCurrentProcessId());
  SetJournalText(folder, L"run", L"id", RunIdOf(folder));
  SetJournalText(folder, L"run", L"started", Now());
  SetJournalText(folder, L"run", L"process", process);
  SetJournalText(folder, L"run", L"mode", packageMode ? L"package" : L"update");
  SetJournalText(folder, L"run", L"program", vskr::OwnModulePath().c_str());
  SetJournalText(folder, L"run", L"state", kStateRunning);
  return ERROR_SUCCESS;
}

}  // namespace

tmk_String JournalRoot() {
  return tmk_String(vskr::ProductDataFolder(L"Journal").c_str());
}

DWORD PrepareJournalFolder(const tmk_String& folder) {
  const std::wstring path(folder.Text());
  const std::wstring common = vskr::CommonDataFolder();
  if (common.empty() || path.size() <= common.size() + 1 ||
      _wcsnicmp(path.c_str(), common.c_str(), common.size()) != 0 || path[common.size()] != L'\\')
    return ERROR_BAD_PATHNAME;
  // The journal root is for administrators and the system alone, as the
  // run log's folder is (the journal holds the configuration's values); a
  // run's folder inherits that access.
  const size_t root = path.find_last_of(L'\\');
  for (size_t at = common.size() + 1; at <= path.size(); ++at) {
    if (at < path.size() && path[at] != L'\\') continue;
    const std::wstring step = path.substr(0, at);
    if (at == root) {
      DWORD error = PrepareAdministratorsOnlyFolder(step);
      if (error != ERROR_SUCCESS) return error;
      continue;
    }
    if (CreateDirectoryW(step.c_str(), nullptr)) continue;
    DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS || at == path.size()) return error;
    DWORD attributes = GetFileAttributesW(step.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
      return ERROR_DIRECTORY;  // a file or a link where a folder belongs
  }
  return ERROR_SUCCESS;
}

DWORD BeginRunJournal(UpdateContext& context, bool packageMode) {
  tmk_String root = JournalRoot();
  if (root.IsEmpty()) {
    LogLine(L"no run journal: the common application data folder is unknown");
    return ERROR_PATH_NOT_FOUND;
  }
  tmk_String folder = PathIn(root, NewRunId().Text());
  DWORD error = PrepareJournalFolder(folder);
  if (error != ERROR_SUCCESS) {
    LogFailure(L"creating the folder of the run journal", folder.Text(), error);
    return error;
  }
  context.JournalFolder.Assign(folder.Text());
  error = WriteRunHeader(folder, packageMode);
  if (error != ERROR_SUCCESS) return error;
  LogLine(L"run journal: \"%s\"", folder.Text());
  error = RecordFile(folder, kModulesCopy, ModuleConfigurationPath(ReadProductValue(L"DATA_PATH")));
  if (error == ERROR_SUCCESS) error = RecordFile(folder, kSettingsCopy, SettingsFileLocation());
  if (error == ERROR_SUCCESS) error = WriteValuesRecord(folder);
  RemoveJournalsNoLongerKept();
  return error;
}

tmk_String JournalText(const tmk_String& journalFolder, const wchar_t* section,
                       const wchar_t* key) {
  std::vector<wchar_t> buffer(8192, 0);
  GetPrivateProfileStringW(section, key, L"", buffer.data(), static_cast<DWORD>(buffer.size()),
                           PathIn(journalFolder, kRunFile).Text());
  return tmk_String(buffer.data());
}

void SetJournalText(const tmk_String& journalFolder, const wchar_t* section, const wchar_t* key,
                    const tmk_String& text) {
  // In quotation marks, which the reading takes off again: blanks at either
  // end are kept.
  tmk_String quoted;
  quoted.Format(L"\"%s\"", text.Text());
  tmk_String file = PathIn(journalFolder, kRunFile);
  if (!WritePrivateProfileStringW(section, key, quoted.Text(), file.Text()))
    LogFailureOf(GetLastError(), L"writing [%s] %s into the run journal \"%s\" failed", section,
                 key, file.Text());
}

tmk_String RunIdOf(const tmk_String& journalFolder) {
  const wchar_t* last = std::wcsrchr(journalFolder.Text(), L'\\');
  return tmk_String(last ? last + 1 : journalFolder.Text());
}

void RecordBackupInJournal(const tmk_String& journalFolder, const tmk_String& backup,
                           const tmk_String& digest, const tmk_String& from) {
  for (const wchar_t* copyName : kRecordedFiles) {
    tmk_String file = JournalText(journalFolder, L"files", copyName);
    if (_wcsicmp(BackupPathOf(file).Text(), backup.Text()) != 0) continue;
    tmk_String key = BackupKey(copyName);
    SetJournalText(journalFolder, L"backups", key.Text(), backup);
    SetJournalText(journalFolder, L"backups", Concatenate(key, L" digest").Text(), digest);
    SetJournalText(journalFolder, L"backups", Concatenate(key, L" from").Text(),
                   from.IsEmpty() ? tmk_String(L"this run") : from);
  }
}

tmk_String UnfinishedRunHolding(const tmk_String& backup, const tmk_String& digest,
                                const tmk_String& journalFolder) {
  for (const tmk_String& folder : JournalsNewestFirst()) {
    if (_wcsicmp(folder.Text(), journalFolder.Text()) != 0 && IsUnfinished(folder) &&
        HoldsBackup(folder, backup, digest))
      return folder;
  }
  return tmk_String();
}

void MarkTakenOver(const tmk_String& journalFolder) {
  tmk_String state;
  state.Format(L"taken over by %s", RunIdOf(journalFolder).Text());
  for (const wchar_t* copyName : kRecordedFiles) {
    tmk_String key = BackupKey(copyName);
    tmk_String from = JournalText(journalFolder, L"backups", Concatenate(key, L" from").Text());
    if (from.IsEmpty() || _wcsicmp(from.Text(), L"this run") == 0) continue;
    tmk_String backup = JournalText(journalFolder, L"backups", key.Text());
    tmk_String digest = JournalText(journalFolder, L"backups", Concatenate(key, L" digest").Text());
    for (const tmk_String& folder : JournalsNewestFirst()) {
      if (_wcsicmp(folder.Text(), journalFolder.Text()) != 0 && IsUnfinished(folder) &&
          HoldsBackup(folder, backup, digest))
        SetJournalText(folder, L"run", L"state", state);
    }
  }
}

void PutBackAsJournalled(const tmk_String& journalFolder) {
  if (journalFolder.IsEmpty()) return;
  PutBackValues(journalFolder);
  for (const wchar_t* copyName : kRecordedFiles) PutBackFile(journalFolder, copyName);
}

void FinishRunJournal(const tmk_String& journalFolder) {
  if (journalFolder.IsEmpty()) return;
  bool kept = StillHoldsABackup(journalFolder);
  SetJournalText(journalFolder, L"run", L"state", kept ? kStateBackupKept : kStateEnded);
  SetJournalText(journalFolder, L"run", L"ended", Now());
  if (kept)
    LogLine(L"run journal \"%s\": a backup copy of this run is kept; the next run restores it",
            journalFolder.Text());
}

void ReportConfigurationNotSaved(DWORD error) {
  LogLine(L"the configuration could not be saved (error %lu): the update is not started", error);
  ShowMessage(nullptr, L"The configuration could not be saved. The update was not started.",
              L"QIRO Update", MB_OK | MB_ICONERROR);
}
