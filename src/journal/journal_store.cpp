#include "journal/journal_store.h"

#include <cwchar>

#include "platform/admin_folder.h"
#include "platform/long_path.h"
#include "platform/run_log.h"
#include "platform/system_text.h"

namespace {

const wchar_t kLockFile[] = L"run.lock";

bool IsPlainFolder(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::vector<JournalSummary> SummariesOfJournals() {
  std::vector<JournalSummary> journals;
  for (const std::wstring& name : JournalFolderNames()) {
    JournalRecord record;
    JournalSummary summary;
    summary.id = name;
    summary.readable = ReadRecordIn(JoinPath(JournalRoot(), name), record);
    summary.sequence = record.sequence;
    summary.ended = record.ended;
    journals.push_back(summary);
  }
  return journals;
}

// Deletes one file of a journal, clearing its read-only attribute first:
// the journal's copy of a read-only file keeps that attribute.
DWORD DeleteJournalFile(const std::wstring& path, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_READONLY) &&
      !SetFileAttributesW(ExtendedPath(path).c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
    DWORD error = GetLastError();
    LogFailure(L"clearing the read-only attribute of a file of an old run journal", path.c_str(),
               error);
    return error;
  }
  if (DeleteFileW(ExtendedPath(path).c_str())) return ERROR_SUCCESS;
  DWORD error = GetLastError();
  LogFailure(L"removing a file of an old run journal", path.c_str(), error);
  return error;
}

}  // namespace

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
  return folder + L"\\" + name;
}

std::wstring JournalFolderOf(const std::wstring& runId) { return JoinPath(JournalRoot(), runId); }

DWORD WriteUtf16File(const std::wstring& path, const std::wstring& text, DWORD disposition) {
  vskr::UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return GetLastError();
  std::wstring content = L"\xFEFF" + text;
  DWORD bytes = static_cast<DWORD>(content.size() * sizeof(wchar_t));
  DWORD written = 0;
  if (!WriteFile(file.Get(), content.data(), bytes, &written, nullptr)) return GetLastError();
  if (written != bytes) return ERROR_WRITE_FAULT;
  return FlushFileBuffers(file.Get()) ? ERROR_SUCCESS : GetLastError();
}

bool ReadUtf16File(const std::wstring& path, std::wstring& text) {
  text.clear();
  vskr::UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  wchar_t chunk[4096];
  DWORD got = 0;
  while (ReadFile(file.Get(), chunk, sizeof chunk, &got, nullptr) && got > 0)
    text.append(chunk, got / sizeof(wchar_t));
  if (!text.empty() && text[0] == L'\xFEFF') text.erase(0, 1);
  return true;
}

std::vector<std::wstring> JournalFolderNames() {
  std::vector<std::wstring> names;
  const std::wstring root = JournalRoot();
  if (root.empty()) return names;
  WIN32_FIND_DATAW found;
  vskr::UniqueFindHandle search(FindFirstFileW(JoinPath(root, L"*").c_str(), &found));
  if (!search) return names;
  do {
    if (IsPlainFolder(found.dwFileAttributes) && found.cFileName[0] != L'.')
      names.push_back(found.cFileName);
  } while (FindNextFileW(search.Get(), &found));
  return names;
}

bool ReadRecordIn(const std::wstring& folder, JournalRecord& record) {
  std::wstring text;
  return ReadUtf16File(JoinPath(folder, kRecordFileName), text) && ParseRecord(text, record);
}

DWORD RemoveJournal(const std::wstring& folder) {
  DWORD first = ERROR_SUCCESS;
  WIN32_FIND_DATAW found;
  vskr::UniqueFindHandle search(FindFirstFileW(JoinPath(folder, L"*").c_str(), &found));
  if (search) {
    do {
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
          _wcsicmp(found.cFileName, kRecordFileName) == 0)
        continue;
      DWORD error = DeleteJournalFile(JoinPath(folder, found.cFileName), found.dwFileAttributes);
      if (first == ERROR_SUCCESS) first = error;
    } while (FindNextFileW(search.Get(), &found));
  }
  search.Reset();
  // The record goes last, and only once everything else has gone.
  const std::wstring record = JoinPath(folder, kRecordFileName);
  const DWORD attributes = GetFileAttributesW(record.c_str());
  if (first == ERROR_SUCCESS && attributes != INVALID_FILE_ATTRIBUTES)
    first = DeleteJournalFile(record, attributes);
  if (first == ERROR_SUCCESS && !RemoveDirectoryW(folder.c_str())) first = GetLastError();
  if (first == ERROR_SUCCESS) {
    LogLine(L"old run journal removed: \"%s\"", folder.c_str());
  } else {
    LogFailure(L"removing an old run journal (what is left stays for a later run)",
               folder.c_str(), first);
  }
  return first;
}

void RemoveJournalsNoLongerKept(const std::wstring& running) {
  // Each failure is in the run log; the journal then stays for a later run.
  for (const std::wstring& id : JournalsToRemove(SummariesOfJournals(), running, kJournalsKept))
    (void)RemoveJournal(JoinPath(JournalRoot(), id));
}

std::wstring JournalRoot() { return vskr::ProductDataFolder(L"Journal"); }

DWORD PrepareJournalRoot() {
  const std::wstring common = vskr::CommonDataFolder();
  const std::wstring root = JournalRoot();
  if (common.empty() || root.empty()) return ERROR_PATH_NOT_FOUND;
  for (size_t at = root.find(L'\\', common.size() + 1); at != std::wstring::npos;
       at = root.find(L'\\', at + 1)) {
    const std::wstring step = root.substr(0, at);
    if (CreateDirectoryW(step.c_str(), nullptr)) continue;
    DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS) return error;
    if (!IsPlainFolder(GetFileAttributesW(step.c_str())))
      return ERROR_DIRECTORY;  // a file or a link where a folder belongs
  }
  DWORD attributes = GetFileAttributesW(root.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && !IsPlainFolder(attributes)) return ERROR_DIRECTORY;
  return PrepareAdministratorsOnlyFolder(root);
}

RunLock::RunLock() {
  refusal_ = PrepareJournalRoot();
  const std::wstring lock = JoinPath(JournalRoot(), kLockFile);
  if (refusal_ != ERROR_SUCCESS) {
    LogFailure(L"preparing the journal folder that holds the run lock", JournalRoot().c_str(),
               refusal_);
    return;
  }
  file_.Reset(CreateFileW(lock.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (file_) return;
  refusal_ = GetLastError();
  if (refusal_ == ERROR_SHARING_VIOLATION || refusal_ == ERROR_LOCK_VIOLATION) {
    refusal_ = ERROR_INSTALL_ALREADY_RUNNING;
    return;
  }
  LogFailure(L"opening the lock that keeps other runs out", lock.c_str(), refusal_);
}
