#include "journal/run_journal.h"

#include <algorithm>
#include <cwchar>

#include "journal/journal_store.h"
#include "platform/file_content.h"
#include "platform/message_box.h"
#include "platform/registry_value.h"
#include "platform/run_log.h"
#include "platform/system_text.h"
#include "settings/settings_file.h"
#include "settings/system_environment.h"
#include "settings/update_files.h"
#include "settings/update_context.h"

namespace {

const wchar_t kValuesFile[] = L"values.reg";
const wchar_t kPlanFile[] = L"package.plan";
// The protected files: the name of the copy in the journal.
const wchar_t kModulesCopy[] = L"Modules.ini";
const wchar_t kSettingsCopy[] = L"qiro.ini";

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
  return folder + L"\\" + name;
}

std::wstring SlotOf(const RecordedFile& file) { return file.path + kBackupSuffix; }

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring LocalTimeText(const wchar_t* format) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t text[64];
  std::swprintf(text, 64, format, now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                now.wSecond);
  return text;
}

// Sets `slot` aside under a name of its own: it may be somebody's only copy.
DWORD SetAside(const std::wstring& slot, const std::wstring& runId) {
  const std::wstring aside = slot + L"." + runId;
  if (!MoveFileExW(slot.c_str(), aside.c_str(), 0)) {
    DWORD error = GetLastError();
    LogFailureOf(error, L"setting aside the earlier backup copy \"%s\" as \"%s\" failed",
                 slot.c_str(), aside.c_str());
    return error;
  }
  LogLine(L"an earlier backup copy that no unfinished run holds is set aside: \"%s\" -> \"%s\"",
          slot.c_str(), aside.c_str());
  return ERROR_SUCCESS;
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

bool IsText(const RecordedValue& value) {
  return value.exists && (value.type == REG_SZ || value.type == REG_EXPAND_SZ);
}

bool IsDatabaseVariable(const RecordedValue& value) {
  return _wcsicmp(value.key.c_str(), kSystemEnvironmentKey) == 0;
}

}  // namespace

std::wstring RunJournal::NewRunId() {
  wchar_t process[16];
  std::swprintf(process, 16, L"-%lu", GetCurrentProcessId());
  return LocalTimeText(L"%04u%02u%02u-%02u%02u%02u") + process;
}

std::wstring RunJournal::PathInJournal(const std::wstring& name) const {
  return Join(folder_, name);
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
    } else if (!(IsMissingError(error) && !Exists(file.path))) {
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
  record.started = LocalTimeText(L"%04u-%02u-%02u %02u:%02u:%02u");
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
    // Nothing has been changed: what there is of the journal goes again.
    journal.held_.clear();
    RemoveJournal(journal.folder_);
    journal = RunJournal();
    return error;
  }
  LogLine(L"run journal: \"%s\"", journal.folder_.c_str());
  return ERROR_SUCCESS;
}

std::vector<RunJournal> RunJournal::Unfinished(uint64_t& lastSequence) {
  lastSequence = 0;
  std::vector<RunJournal> journals;
  for (const std::wstring& name : JournalFolderNames()) {
    RunJournal journal;
    journal.folder_ = JournalFolderOf(name);
    if (!ReadRecordIn(journal.folder_, journal.record_)) {
      LogLine(L"a run journal that can't be read is left as it is: \"%s\"", journal.folder_.c_str());
      continue;
    }
    lastSequence = std::max(lastSequence, journal.record_.sequence);
    if (journal.record_.ended) continue;
    std::wstring text;
    if (ReadUtf16File(journal.PathInJournal(kValuesFile), text))
      journal.values_ = ParseValuesText(text);
    if (ReadUtf16File(journal.PathInJournal(kPlanFile), text) &&
        !ParsePlanText(text, journal.plan_))
      LogLine(L"the package plan of run journal \"%s\" can't be read", journal.folder_.c_str());
    journals.push_back(std::move(journal));
  }
  std::sort(journals.begin(), journals.end(), [](const RunJournal& a, const RunJournal& b) {
    return a.record_.sequence < b.record_.sequence;
  });
  return journals;
}

DWORD RunJournal::ClearSlot(const std::wstring& slot) {
  DWORD attributes = GetFileAttributesW(slot.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return ERROR_SUCCESS;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    LogLine(L"a folder is in the way of the backup copy \"%s\"", slot.c_str());
    return ERROR_DIRECTORY;
  }
  return SetAside(slot, record_.id);
}

DWORD RunJournal::MakeBackup(RecordedFile& file) {
  const std::wstring slot = SlotOf(file);
  std::wstring digest;
  DWORD error = FileDigest(file.path, digest);
  if (IsMissingError(error) && !Exists(file.path)) {
    LogLine(L"no backup copy made: \"%s\" does not exist", file.path.c_str());
    return ERROR_SUCCESS;
  }
  if (error == ERROR_SUCCESS) error = ClearSlot(slot);
  if (error == ERROR_SUCCESS) {
    file.slot = RecordedFile::Slot::Making;
    error = WriteRecord();
  }
  if (error == ERROR_SUCCESS) error = CopyVerified(file.path, slot, digest, false);
  if (error != ERROR_SUCCESS) {
    LogFailureOf(error, L"making a backup copy failed for \"%s\" to \"%s\"", file.path.c_str(),
                 slot.c_str());
    return error;
  }
  file.backupDigest = digest;
  file.backupCopy = file.name;
  if (!file.existed || digest != file.digest) {
    // The journal keeps the backup copy's content too.
    file.backupCopy = file.name + kBackupSuffix;
    const std::wstring copy = PathInJournal(file.backupCopy);
    error = CopyVerified(slot, copy, digest, false);
    if (error != ERROR_SUCCESS) {
      LogFailureOf(error, L"copying the backup copy \"%s\" into the run journal as \"%s\" failed",
                   slot.c_str(), copy.c_str());
      return error;
    }
    HoldOpen(copy);
  }
  file.slot = RecordedFile::Slot::Held;
  error = WriteRecord();
  if (error == ERROR_SUCCESS) LogLine(L"backup copy made: \"%s\"", slot.c_str());
  return error;
}

DWORD RunJournal::SaveBackups(const tmk_String& language) {
  record_.hasLanguage = true;
  record_.language = language.Text();
  for (RecordedFile& file : record_.files) {
    if (file.path.empty()) continue;  // no settings file while its folder is unknown
    DWORD error = MakeBackup(file);
    if (error != ERROR_SUCCESS) return error;
  }
  for (const RecordedValue& value : values_) {
    if (!IsDatabaseVariable(value)) continue;
    if (!value.exists || value.Text().empty()) {
      LogLine(L"environment variable %s is not set: left alone after the update", value.name.c_str());
    } else if (!IsText(value)) {
      LogLine(L"environment variable %s is of type %s (%lu): not saved, left as it is after the "
              L"update", value.name.c_str(), TypeName(value.type), value.type);
    } else {
      LogLine(L"environment variable %s saved: \"%s\" (%s)", value.name.c_str(),
              value.Text().c_str(), TypeName(value.type));
    }
  }
  record_.phase = JournalRecord::Phase::Saved;
  return WriteRecord();
}

void RunJournal::ReleaseSlot(RecordedFile& file) {
  if (file.slot != RecordedFile::Slot::Making && file.slot != RecordedFile::Slot::Held) return;
  const std::wstring slot = SlotOf(file);
  std::wstring digest;
  DWORD read = FileDigest(slot, digest);
  if (IsMissingError(read) && !Exists(slot)) {
    file.slot = RecordedFile::Slot::Released;
  } else if (file.slot == RecordedFile::Slot::Making ||
             (read == ERROR_SUCCESS && digest == file.backupDigest)) {
    // This run's own copy (a copy being made is this run's whatever it holds).
    ClearReadOnly(slot);
    if (DeleteFileW(slot.c_str())) {
      file.slot = RecordedFile::Slot::Released;
    } else {
      LogFailure(L"removing the backup copy", slot.c_str(), GetLastError());
    }
  } else if (SetAside(slot, record_.id) == ERROR_SUCCESS) {
    file.slot = RecordedFile::Slot::Released;  // no longer what this run made
  }
  (void)WriteRecord();  // a record not written leaves the slot held: the next run looks again
}

DWORD RunJournal::PutFileBackAsAtStart(const RecordedFile& file) {
  if (file.path.empty()) return ERROR_SUCCESS;
  if (!file.existed) {
    if (!Exists(file.path)) return ERROR_SUCCESS;
    ClearReadOnly(file.path);
    if (!DeleteFileW(file.path.c_str())) {
      DWORD error = GetLastError();
      LogFailure(L"deleting a file the run created", file.path.c_str(), error);
      return error;
    }
    LogLine(L"deleted again: \"%s\" did not exist before the run", file.path.c_str());
    return ERROR_SUCCESS;
  }
  std::wstring digest;
  if (FileDigest(file.path, digest) == ERROR_SUCCESS && digest == file.digest) return ERROR_SUCCESS;
  const std::wstring copy = PathInJournal(file.name);
  DWORD error = CreateFoldersOf(file.path);
  if (error == ERROR_SUCCESS) error = CopyVerified(copy, file.path, file.digest, true);
  if (error != ERROR_SUCCESS) {
    LogFailureOf(error, L"putting back \"%s\" from the run journal's \"%s\" failed",
                 file.path.c_str(), copy.c_str());
    return error;
  }
  LogLine(L"put back from the run journal as it was before the run: \"%s\"", file.path.c_str());
  return ERROR_SUCCESS;
}

DWORD RunJournal::PutBackAsAtStart() {
  DWORD first = ERROR_SUCCESS;
  bool environment = false;
  for (const RecordedValue& value : values_) {
    RecordedValue current;
    bool differs = ReadCurrentValue(value, current) != ERROR_SUCCESS || !current.SameAs(value);
    LONG status = PutBackValue(value);
    if (status == ERROR_SUCCESS && differs && IsDatabaseVariable(value)) environment = true;
    if (first == ERROR_SUCCESS) first = static_cast<DWORD>(status);
  }
  if (environment) AnnounceEnvironmentChange();
  for (RecordedFile& file : record_.files) {
    DWORD error = PutFileBackAsAtStart(file);
    if (first == ERROR_SUCCESS) first = error;
    ReleaseSlot(file);
  }
  return first;
}

DWORD RunJournal::PutBackDatabaseVariables() {
  bool changed = false;
  DWORD first = ERROR_SUCCESS;
  for (const RecordedValue& saved : values_) {
    // A variable that was not set stays as the installer left it; only text
    // is written back, with its type. Letter case alone is no change.
    if (!IsDatabaseVariable(saved) || !IsText(saved) || saved.Text().empty()) continue;
    const tmk_String name(saved.name.c_str());
    const tmk_String current = ReadSystemEnvironmentValue(name);
    if (_wcsicmp(current.Text(), saved.Text().c_str()) == 0) continue;
    LogLine(L"environment variable %s changed by the installer to \"%s\": written back as \"%s\"",
            saved.name.c_str(), current.Text(), saved.Text().c_str());
    LONG status = WriteSystemEnvironmentValue(name, tmk_String(saved.Text().c_str()), saved.type);
    if (status == ERROR_SUCCESS) changed = true;
    if (first == ERROR_SUCCESS) first = static_cast<DWORD>(status);
  }
  // Programs started later from the running shell see the restored values.
  if (changed) AnnounceEnvironmentChange();
  return first;
}

void RunJournal::WriteBackLanguage() {
  vskr::UniqueHkey key;
  LONG opened = OpenMachineKey(kProductKey, KEY_WRITE, key);  // opened, never created
  if (opened != ERROR_SUCCESS) {
    LogFailure(L"opening the product key for writing the language", kProductKey,
               static_cast<DWORD>(opened));
    return;
  }
  if (!record_.hasLanguage || record_.language.empty()) {
    LogLine(L"no language in the settings file: PHI_LANGUAGE is left as it is");
    return;
  }
  const tmk_String language(record_.language.c_str());
  const tmk_String old = ReadProductValue(tmk_String(L"PHI_LANGUAGE"));
  LONG status = SetRegistryText(key.Get(), L"PHI_LANGUAGE", language);
  if (status == ERROR_SUCCESS) {
    LogLine(L"registry value PHI_LANGUAGE written: \"%s\" (was \"%s\")", language.Text(), old.Text());
  } else {
    LogFailureOf(static_cast<DWORD>(status),
                 L"writing registry value PHI_LANGUAGE of \"%s\" as \"%s\" failed", kProductKey,
                 language.Text());
  }
}

DWORD RunJournal::PutFileBackAfterInstaller(RecordedFile& file) {
  if (file.slot != RecordedFile::Slot::Held) return ERROR_SUCCESS;
  const std::wstring slot = SlotOf(file);
  const std::wstring copy = PathInJournal(file.backupCopy);
  std::wstring digest;
  DWORD slotRead = FileDigest(slot, digest);
  const bool fromSlot = slotRead == ERROR_SUCCESS && digest == file.backupDigest;
  if (!fromSlot) {
    LogLine(slotRead == ERROR_SUCCESS ? L"the backup copy \"%s\" was changed since it was made"
                                      : L"the backup copy \"%s\" is gone or can't be read",
            slot.c_str());
  }
  DWORD error = CreateFoldersOf(file.path);
  if (error == ERROR_SUCCESS)
    error = CopyVerified(fromSlot ? slot : copy, file.path, file.backupDigest, true);
  if (error != ERROR_SUCCESS && fromSlot) {
    error = CopyVerified(copy, file.path, file.backupDigest, true);
  }
  if (error != ERROR_SUCCESS) {
    LogFailureOf(error, L"restoring \"%s\" failed from its backup copy \"%s\" and from the run "
                 L"journal's copy \"%s\" (the backup copy is kept)", file.path.c_str(),
                 slot.c_str(), copy.c_str());
    return error;
  }
  LogLine(fromSlot ? L"restored from its backup copy: \"%s\""
                   : L"restored from the run journal's copy: \"%s\"", file.path.c_str());
  ReleaseSlot(file);
  return ERROR_SUCCESS;
}

DWORD RunJournal::PutBackAfterInstaller() {
  DWORD first = PutBackDatabaseVariables();
  WriteBackLanguage();
  for (RecordedFile& file : record_.files) {
    DWORD error = PutFileBackAfterInstaller(file);
    if (first == ERROR_SUCCESS) first = error;
  }
  return first;
}

DWORD RunJournal::Recover(const std::wstring& byRun) {
  LogLine(L"the unfinished run %s (started %s) is put back as it would have been at its end",
          record_.id.c_str(), record_.started.c_str());
  // Recorded first: whoever looks at the journal sees which run is at it.
  record_.endNote = L"being put back by " + byRun;
  DWORD recorded = WriteRecord();
  if (recorded != ERROR_SUCCESS) return recorded;
  DWORD error = record_.phase == JournalRecord::Phase::Saved ? PutBackAfterInstaller()
                                                              : PutBackAsAtStart();
  if (error == ERROR_SUCCESS) Finish(byRun);
  return error;
}

void RunJournal::Finish(const std::wstring& byRun) {
  if (folder_.empty()) return;
  // The journals no longer kept go at the end of a run, not before its
  // installer: the installer's start waits for nothing that can wait.
  if (byRun.empty()) RemoveJournalsNoLongerKept(record_.id);
  if (!HeldBackupSlots().empty()) {
    LogLine(L"run journal \"%s\": a backup copy of the run is kept; the next run restores it",
            folder_.c_str());
    return;
  }
  record_.ended = true;
  record_.endNote = byRun.empty() ? L"at " + LocalTimeText(L"%04u-%02u-%02u %02u:%02u:%02u")
                                  : L"recovered by " + byRun;
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
  return RecordPackageStage(PackageStage::Staging);
}

DWORD RunJournal::RecordPackageStage(PackageStage stage) {
  record_.packageStage = stage;
  return WriteRecord();
}

std::vector<std::wstring> RunJournal::HeldBackupSlots() const {
  std::vector<std::wstring> slots;
  for (const RecordedFile& file : record_.files) {
    if (file.slot == RecordedFile::Slot::Making || file.slot == RecordedFile::Slot::Held)
      slots.push_back(SlotOf(file));
  }
  return slots;
}

void ReportConfigurationNotSaved(DWORD error) {
  LogLine(L"the configuration could not be saved (error %lu): the update is not started", error);
  ShowMessage(nullptr, L"The configuration could not be saved. The update was not started.",
              L"QIRO Update", MB_OK | MB_ICONERROR);
}
