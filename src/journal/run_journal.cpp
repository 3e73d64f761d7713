// The run journal's record and its own copies: a journal begun, the record
// rewritten at each step, the copies of the protected files and of backup
// copies that differ from them, the package stages, and the end of a run.
#include "journal/run_journal.h"

#include <cwchar>

#include "journal/journal_store.h"
#include "platform/file_content.h"
#include "platform/registry_value.h"
#include "platform/run_log.h"
#include "platform/system_text.h"
#include "settings/settings_file.h"
#include "settings/update_files.h"
#include "settings/update_context.h"

namespace {

// The protected files: the name of the copy in the journal.
const wchar_t kModulesCopy[] = L"Modules.ini";
const wchar_t kSettingsCopy[] = L"qiro.ini";

}  // namespace

std::wstring RunJournal::NewRunId() {
  wchar_t process[16];
  std::swprintf(process, 16, L"-%lu", GetCurrentProcessId());
  return vskr::LocalTimeText(true) + process;
}

std::wstring RunJournal::PathInJournal(const std::wstring& name) const {
  return JoinPath(folder_, name);
}

void RunJournal::HoldOpen(const std::wstring& path) {
  vskr::UniqueFileHandle held(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held) {
    LogFailure(L"holding a file of the run journal open", path.c_str(), GetLastError());
    return;  // the copy is there all the same; only an installer could take it
  }
  held_.push_back(std::move(held));
}

DWORD RunJournal::WriteRecord() {
  const std::wstring record = PathInJournal(kRecordFileName);
  const std::wstring next = record + L".new";
  DWORD error = WriteUtf16File(next, RecordText(record_), CREATE_ALWAYS);
  if (error == ERROR_SUCCESS &&
      !MoveFileExW(next.c_str(), record.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    error = GetLastError();
  if (error != ERROR_SUCCESS) LogFailure(L"writing the run journal", record.c_str(), error);
  return error;
}

DWORD RunJournal::RecordFile(const wchar_t* name, const tmk_String& path) {
  RecordedFile file;
  file.name = name;
  file.path = path.Text();
  if (!file.path.empty()) {
    const std::wstring copy = PathInJournal(name);
    DWORD error = FileDigest(file.path, file.digest);
    if (error == ERROR_SUCCESS) error = CopyVerified(file.path, copy, file.digest, false);
    if (error == ERROR_SUCCESS) {
      file.existed = true;
      HoldOpen(copy);
    } else if (!(IsMissingError(error) && !PathPresentOrUnknown(file.path))) {
      LogFailureOf(error, L"copying \"%s\" into the run journal as \"%s\" failed",
                   file.path.c_str(), copy.c_str());
      return error;
    }
  }
  record_.files.push_back(file);
  return ERROR_SUCCESS;
}

DWORD RunJournal::Begin(const std::wstring& runId, uint64_t lastSequence, bool packageMode,
                        RunJournal& journal) {
  journal = RunJournal();
  if (JournalRoot().empty()) return ERROR_PATH_NOT_FOUND;
  journal.folder_ = JournalFolderOf(runId);
  JournalRecord& record = journal.record_;
  record.id = runId;
  record.sequence = lastSequence + 1;
  record.started = vskr::LocalTimeText();
  record.process = GetCurrentProcessId();
  record.packageMode = packageMode;
  record.program = vskr::OwnModulePath();
  if (!CreateDirectoryW(journal.folder_.c_str(), nullptr)) {
    DWORD error = GetLastError();
    LogFailure(L"creating the folder of the run journal", journal.folder_.c_str(), error);
    return error;
  }
  DWORD error = journal.RecordFile(kModulesCopy, ModuleConfigurationPath(ReadProductValue(L"DATA_PATH")));
  if (error == ERROR_SUCCESS) error = journal.RecordFile(kSettingsCopy, SettingsFileLocation());
  if (error == ERROR_SUCCESS) error = ReadRecordedValues(journal.values_);
  if (error == ERROR_SUCCESS) {
    const std::wstring values = journal.PathInJournal(kValuesFile);
    error = WriteUtf16File(values, ValuesText(runId, journal.values_), CREATE_NEW);
    if (error != ERROR_SUCCESS) LogFailure(L"recording the values in the run journal", values.c_str(), error);
    journal.HoldOpen(values);
  }
  if (error == ERROR_SUCCESS) error = journal.WriteRecord();
  if (error != ERROR_SUCCESS) {
    // Nothing has been changed: what there is of the journal goes again (a
    // failure is in the run log; what stays has no record and is left).
    journal.held_.clear();
    (void)RemoveJournal(journal.folder_);
    journal = RunJournal();
    return error;
  }
  LogLine(L"run journal: \"%s\"", journal.folder_.c_str());
  return ERROR_SUCCESS;
}

void RunJournal::Finish(const std::wstring& byRun) {
  if (folder_.empty()) return;
  // The journals no longer kept go at the end of a run, not before its
  // installer: the installer's start waits for nothing that can wait.
  if (byRun.empty()) RemoveJournalsNoLongerKept(record_.id);
  if (!LeftNothingToPutBack(record_)) {
    LogLine(L"run journal \"%s\" stays unfinished: what it has not put back or released yet is "
            L"taken up by the next run", folder_.c_str());
    return;
  }
  record_.ended = true;
  record_.endNote = byRun.empty() ? L"at " + vskr::LocalTimeText() : L"recovered by " + byRun;
  (void)WriteRecord();  // the run log tells a failure; the next run then finds it unfinished
}

DWORD RunJournal::RecordPackagePlan(const std::vector<PackageReplacement>& plan) {
  const std::wstring file = PathInJournal(kPlanFile);
  DWORD error = WriteUtf16File(file, PlanText(plan), CREATE_NEW);
  if (error != ERROR_SUCCESS) {
    LogFailure(L"recording the package plan in the run journal", file.c_str(), error);
    return error;
  }
  plan_ = plan;
  return ERROR_SUCCESS;
}

DWORD RunJournal::RecordPackageStage(PackageStage stage) {
  record_.packageStage = stage;
  return WriteRecord();
}
