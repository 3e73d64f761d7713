// Putting the configuration back from the run journal, in the two ways a
// run may need: as it was at the start (a run that stopped before its
// backups were complete) and as after the installer (the backup copies, the
// database variables, the language). Each step is recorded as done once it
// is, so that no later run does it again over newer content.
#include <cwchar>

#include "journal/backup_slots.h"
#include "journal/journal_store.h"
#include "journal/run_journal.h"
#include "platform/file_content.h"
#include "platform/registry_value.h"
#include "platform/run_log.h"
#include "settings/system_environment.h"
#include "settings/update_context.h"

DWORD RunJournal::PutBackValuesAsAtStart() {
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
  return first;
}

DWORD RunJournal::PutFileBackAsAtStart(const RecordedFile& file) {
  if (file.path.empty()) return ERROR_SUCCESS;
  if (!file.existed) {
    if (!PathPresent(file.path)) return ERROR_SUCCESS;
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
  if (!record_.valuesBack) {
    first = PutBackValuesAsAtStart();
    if (first == ERROR_SUCCESS) {
      record_.valuesBack = true;
      (void)WriteRecord();  // the run log tells a failure; the values are then put back again
    }
  }
  for (RecordedFile& file : record_.files) {
    if (file.slot == RecordedFile::Slot::Back || file.slot == RecordedFile::Slot::Released) {
      ReleaseSlot(file);
      continue;
    }
    DWORD error = PutFileBackAsAtStart(file);
    if (first == ERROR_SUCCESS) first = error;
    if (error != ERROR_SUCCESS) continue;  // its backup copy stays, for the next run
    if (file.slot == RecordedFile::Slot::Making) {
      ReleaseSlot(file);  // this run's incomplete copy: released at once
    } else if (RecordBack(file) == ERROR_SUCCESS) {
      ReleaseSlot(file);
    }
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

DWORD RunJournal::WriteBackLanguage() {
  if (record_.language.empty()) {
    LogLine(L"no language in the settings file: PHI_LANGUAGE is left as it is");
    return ERROR_SUCCESS;
  }
  vskr::UniqueHkey key;
  LONG status = OpenMachineKey(kProductKey, KEY_WRITE, key);  // opened, never created
  if (status != ERROR_SUCCESS) {
    LogFailure(L"opening the product key for writing the language", kProductKey,
               static_cast<DWORD>(status));
    return static_cast<DWORD>(status);
  }
  const tmk_String language(record_.language.c_str());
  const tmk_String old = ReadProductValue(tmk_String(L"PHI_LANGUAGE"));
  status = SetRegistryText(key.Get(), L"PHI_LANGUAGE", language);
  if (status == ERROR_SUCCESS) {
    LogLine(L"registry value PHI_LANGUAGE written: \"%s\" (was \"%s\")", language.Text(),
            old.Text());
  } else {
    LogFailureOf(static_cast<DWORD>(status),
                 L"writing registry value PHI_LANGUAGE of \"%s\" as \"%s\" failed", kProductKey,
                 language.Text());
  }
  return static_cast<DWORD>(status);
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
  // Recorded before the copy is released: no later run restores it again.
  if (RecordBack(file) == ERROR_SUCCESS) ReleaseSlot(file);
  return ERROR_SUCCESS;
}

DWORD RunJournal::PutBackAfterInstaller() {
  DWORD first = ERROR_SUCCESS;
  if (!record_.valuesBack) {
    first = PutBackDatabaseVariables();
    DWORD language = WriteBackLanguage();
    if (first == ERROR_SUCCESS) first = language;
    if (first == ERROR_SUCCESS) {
      record_.valuesBack = true;
      (void)WriteRecord();  // the run log tells a failure; the values are then written again
    }
  }
  for (RecordedFile& file : record_.files) {
    if (file.slot == RecordedFile::Slot::Back) {
      ReleaseSlot(file);  // put back before; only its backup copy is left to release
      continue;
    }
    DWORD error = PutFileBackAfterInstaller(file);
    if (first == ERROR_SUCCESS) first = error;
  }
  return first;
}
