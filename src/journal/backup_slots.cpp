// The backup copies beside the protected files: made before the installer,
// set aside, released once their file is back.
#include "journal/backup_slots.h"

#include "journal/journal_store.h"
#include "journal/run_journal.h"
#include "platform/file_content.h"
#include "platform/long_path.h"
#include "platform/run_log.h"
#include "platform/system_text.h"
#include "settings/update_files.h"

namespace {

// More set-aside copies of one slot by one run than any run makes.
constexpr unsigned kMostAsideNames = 100;

}  // namespace

std::wstring SlotOf(const RecordedFile& file) { return file.path + kBackupSuffix; }

std::wstring AsideName(const std::wstring& slot, const std::wstring& runId, unsigned taken) {
  std::wstring aside = slot + L"." + runId;
  return taken == 0 ? aside : aside + L"-" + std::to_wstring(taken + 1);
}

DWORD SetAsideSlot(const std::wstring& slot, const std::wstring& runId) {
  DWORD error = ERROR_ALREADY_EXISTS;
  std::wstring aside;
  for (unsigned taken = 0; taken < kMostAsideNames && error == ERROR_ALREADY_EXISTS; ++taken) {
    aside = AsideName(slot, runId, taken);
    error = MoveFileExW(ExtendedPath(slot).c_str(), ExtendedPath(aside).c_str(), 0) ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_FILE_EXISTS) error = ERROR_ALREADY_EXISTS;
  }
  if (error != ERROR_SUCCESS) {
    LogFailureOf(error, L"setting aside the backup copy \"%s\" as \"%s\" failed", slot.c_str(),
                 aside.c_str());
    return error;
  }
  LogLine(L"a backup copy that no unfinished run holds is set aside: \"%s\" -> \"%s\"",
          slot.c_str(), aside.c_str());
  return ERROR_SUCCESS;
}

DWORD RunJournal::KeepBackupContent(RecordedFile& file, const std::wstring& digest) {
  file.backupDigest = digest;
  file.backupCopy = file.name;
  if (file.existed && digest == file.digest) return ERROR_SUCCESS;  // the copy of the start
  file.backupCopy = file.name + kBackupSuffix;
  const std::wstring slot = SlotOf(file);
  const std::wstring copy = PathInJournal(file.backupCopy);
  DWORD error = CopyVerified(slot, copy, digest, false);
  if (error != ERROR_SUCCESS) {
    LogFailureOf(error, L"copying the backup copy \"%s\" into the run journal as \"%s\" failed",
                 slot.c_str(), copy.c_str());
    return error;
  }
  HoldOpen(copy);
  return ERROR_SUCCESS;
}

DWORD RunJournal::ClearSlot(const std::wstring& slot) {
  DWORD attributes = GetFileAttributesW(ExtendedPath(slot).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return ERROR_SUCCESS;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    LogLine(L"a folder is in the way of the backup copy \"%s\"", slot.c_str());
    return ERROR_DIRECTORY;
  }
  return SetAsideSlot(slot, record_.id);
}

DWORD RunJournal::MakeBackup(RecordedFile& file) {
  const std::wstring slot = SlotOf(file);
  std::wstring digest;
  DWORD error = FileDigest(file.path, digest);
  if (IsMissingError(error) && !PathPresentOrUnknown(file.path)) {
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
  error = KeepBackupContent(file, digest);
  if (error != ERROR_SUCCESS) return error;
  file.slot = RecordedFile::Slot::Held;
  error = WriteRecord();
  if (error == ERROR_SUCCESS) LogLine(L"backup copy made: \"%s\"", slot.c_str());
  return error;
}

DWORD RunJournal::SaveBackups(const tmk_String& language) {
  record_.language = language.Text();
  for (RecordedFile& file : record_.files) {
    if (file.path.empty()) continue;  // no settings file while its folder is unknown
    DWORD error = MakeBackup(file);
    if (error != ERROR_SUCCESS) return error;
  }
  for (const RecordedValue& value : values_) {
    if (!IsDatabaseVariable(value)) continue;
    if (!value.exists || value.Text().empty()) {
      LogLine(L"environment variable %s is not set: left alone after the update",
              value.name.c_str());
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

DWORD RunJournal::RecordBack(RecordedFile& file) {
  // A file whose slot this run never held has no copy to release.
  file.slot = file.slot == RecordedFile::Slot::Free ? RecordedFile::Slot::Released
                                                    : RecordedFile::Slot::Back;
  return WriteRecord();
}

void RunJournal::ReleaseSlot(RecordedFile& file) {
  if (file.slot != RecordedFile::Slot::Back && file.slot != RecordedFile::Slot::Making) return;
  const std::wstring slot = SlotOf(file);
  std::wstring digest;
  DWORD read = FileDigest(slot, digest);
  DWORD released = ERROR_SUCCESS;
  if (IsMissingError(read) && !PathPresentOrUnknown(slot)) {
    LogLine(L"the backup copy \"%s\" is gone already", slot.c_str());
  } else if (file.slot == RecordedFile::Slot::Making ||
             (read == ERROR_SUCCESS && digest == file.backupDigest)) {
    // This run's own copy, whose content its file has again (a copy still
    // being made is this run's whatever it holds: the slot was cleared first).
    ClearReadOnly(slot);
    released = DeleteFileW(ExtendedPath(slot).c_str()) ? ERROR_SUCCESS : GetLastError();
    if (released == ERROR_SUCCESS) {
      LogLine(L"backup copy released: \"%s\"", slot.c_str());
    } else {
      LogFailure(L"removing the backup copy (a later run removes it)", slot.c_str(), released);
    }
  } else {
    // No longer (or not surely) what this run made: kept under a name of its own.
    released = SetAsideSlot(slot, record_.id);
  }
  if (released != ERROR_SUCCESS) return;  // still Back: a later run releases it
  file.slot = RecordedFile::Slot::Released;
  (void)WriteRecord();  // a record not written leaves it Back: the next run looks again
}
