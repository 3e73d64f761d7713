#include "preserve/backup_copy.h"

#include <cstdint>
#include <string>

#include "platform/run_log.h"
#include "platform/unique_handle.h"
#include "preserve/run_journal.h"

namespace {

constexpr DWORD kChunkBytes = 64 * 1024;

vskr::UniqueFileHandle OpenForReading(const tmk_String& file) {
  return vskr::UniqueFileHandle(CreateFileW(file.Text(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                                            nullptr));
}

// Reads up to `bytes` (less only at the file's end); 0 or the error.
DWORD ReadChunk(HANDLE file, char* buffer, DWORD bytes, DWORD& got) {
  got = 0;
  while (got < bytes) {
    DWORD part = 0;
    if (!ReadFile(file, buffer + got, bytes - got, &part, nullptr)) return GetLastError();
    if (part == 0) break;
    got += part;
  }
  return ERROR_SUCCESS;
}

// Sets aside a backup copy that no unfinished run holds, under a name of
// its own: it may still be somebody's only copy.
DWORD SetAside(const tmk_String& backup, const tmk_String& journalFolder) {
  tmk_String aside;
  aside.Format(L"%s.%s", backup.Text(), RunIdOf(journalFolder).Text());
  if (!MoveFileExW(backup.Text(), aside.Text(), 0)) {
    DWORD error = GetLastError();
    LogFailureOf(error, L"setting aside the earlier backup copy \"%s\" as \"%s\" failed",
                 backup.Text(), aside.Text());
    return error;
  }
  LogLine(L"an earlier backup copy that no unfinished run holds is set aside: \"%s\" -> \"%s\"",
          backup.Text(), aside.Text());
  return ERROR_SUCCESS;
}

// The earlier backup copy at `backup`: adopted, set aside, or in the way.
DWORD TakeCareOfEarlierCopy(const tmk_String& backup, const tmk_String& journalFolder,
                            BackupOrigin& origin, tmk_String& adoptedFrom) {
  DWORD attributes = GetFileAttributesW(backup.Text());
  if (attributes == INVALID_FILE_ATTRIBUTES) return ERROR_SUCCESS;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    LogLine(L"a folder is in the way of the backup copy \"%s\"", backup.Text());
    return ERROR_DIRECTORY;
  }
  tmk_String digest;
  DWORD error = FileDigest(backup, digest);
  if (error != ERROR_SUCCESS) {
    LogFailure(L"reading an earlier backup copy", backup.Text(), error);
    return error;
  }
  tmk_String owner = UnfinishedRunHolding(backup, digest, journalFolder);
  if (owner.IsEmpty()) return SetAside(backup, journalFolder);
  LogLine(L"backup copy of the unfinished run %s found: \"%s\": this run keeps it as its own "
          L"and restores it at its end",
          RunIdOf(owner).Text(), backup.Text());
  RecordBackupInJournal(journalFolder, backup, digest, RunIdOf(owner));
  origin = BackupOrigin::Adopted;
  adoptedFrom.Assign(owner.Text());
  return ERROR_SUCCESS;
}

// Removes what a failed copy left at `backup`: this run created it.
void RemovePartialCopy(const tmk_String& backup) {
  DWORD attributes = GetFileAttributesW(backup.Text());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  ClearReadOnly(backup);
  if (DeleteFileW(backup.Text())) {
    LogLine(L"incomplete backup copy removed: \"%s\"", backup.Text());
  } else {
    LogFailure(L"removing an incomplete backup copy", backup.Text(), GetLastError());
  }
}

}  // namespace

tmk_String BackupPathOf(const tmk_String& file) { return Concatenate(file, L".upd"); }

tmk_String ModuleConfigurationPath(const tmk_String& dataFolder) {
  tmk_String path;
  path.Format(L"%s\\Data\\LocalCfg\\Modules.ini", dataFolder.Text());
  return path;
}

DWORD CompareFileContents(const tmk_String& a, const tmk_String& b, bool& same) {
  same = false;
  vskr::UniqueFileHandle first = OpenForReading(a);
  if (!first) return GetLastError();
  vskr::UniqueFileHandle second = OpenForReading(b);
  if (!second) return GetLastError();
  std::string left(kChunkBytes, '\0');
  std::string right(kChunkBytes, '\0');
  for (;;) {
    DWORD gotLeft = 0;
    DWORD gotRight = 0;
    DWORD error = ReadChunk(first.Get(), &left[0], kChunkBytes, gotLeft);
    if (error == ERROR_SUCCESS) error = ReadChunk(second.Get(), &right[0], kChunkBytes, gotRight);
    if (error != ERROR_SUCCESS) return error;
    if (gotLeft != gotRight || left.compare(0, gotLeft, right, 0, gotRight) != 0)
      return ERROR_SUCCESS;
    if (gotLeft < kChunkBytes) break;
  }
  same = true;
  return ERROR_SUCCESS;
}

DWORD FileDigest(const tmk_String& file, tmk_String& digest) {
  vskr::UniqueFileHandle opened = OpenForReading(file);
  if (!opened) return GetLastError();
  uint64_t hash = 14695981039346656037ull;
  std::string chunk(kChunkBytes, '\0');
  DWORD got = 0;
  do {
    DWORD error = ReadChunk(opened.Get(), &chunk[0], kChunkBytes, got);
    if (error != ERROR_SUCCESS) return error;
    for (DWORD i = 0; i < got; ++i) {
      hash ^= static_cast<unsigned char>(chunk[i]);
      hash *= 1099511628211ull;
    }
  } while (got == kChunkBytes);
  digest.Format(L"%08lx%08lx", static_cast<unsigned long>(hash >> 32),
                static_cast<unsigned long>(hash & 0xFFFFFFFFu));
  return ERROR_SUCCESS;
}

void ClearReadOnly(const tmk_String& file) {
  DWORD attributes = GetFileAttributesW(file.Text());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) return;
  if (!SetFileAttributesW(file.Text(), attributes & ~FILE_ATTRIBUTE_READONLY))
    LogFailure(L"taking off the read-only attribute", file.Text(), GetLastError());
}

DWORD MakeBackupCopy(const tmk_String& file, const tmk_String& journalFolder,
                     BackupOrigin& origin, tmk_String& adoptedFrom) {
  origin = BackupOrigin::None;
  tmk_String backup = BackupPathOf(file);
  DWORD error = TakeCareOfEarlierCopy(backup, journalFolder, origin, adoptedFrom);
  if (error != ERROR_SUCCESS || origin == BackupOrigin::Adopted) return error;

  if (!CopyFileW(file.Text(), backup.Text(), TRUE)) {
    error = GetLastError();
    if (IsMissingError(error) && GetFileAttributesW(file.Text()) == INVALID_FILE_ATTRIBUTES) {
      LogLine(L"no backup copy made: \"%s\" does not exist", file.Text());
      return ERROR_SUCCESS;
    }
    LogFailureOf(error, L"making a backup copy failed for \"%s\" to \"%s\"", file.Text(),
                 backup.Text());
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) RemovePartialCopy(backup);
    return error;
  }
  bool same = false;
  error = CompareFileContents(file, backup, same);
  if (error == ERROR_SUCCESS && !same) error = ERROR_INVALID_DATA;
  tmk_String digest;
  if (error == ERROR_SUCCESS) error = FileDigest(backup, digest);
  if (error != ERROR_SUCCESS) {
    LogFailureOf(error, L"the backup copy \"%s\" is not identical to \"%s\"", backup.Text(),
                 file.Text());
    RemovePartialCopy(backup);
    return error;
  }
  RecordBackupInJournal(journalFolder, backup, digest, tmk_String());
  origin = BackupOrigin::Made;
  LogLine(L"backup copy made: \"%s\"", backup.Text());
  return ERROR_SUCCESS;
}

DWORD RestoreBackupCopy(const tmk_String& file) {
  tmk_String backup = BackupPathOf(file);
  if (GetFileAttributesW(backup.Text()) == INVALID_FILE_ATTRIBUTES) {
    LogLine(L"no backup copy to restore: \"%s\"", backup.Text());
    return ERROR_FILE_NOT_FOUND;
  }
  ClearReadOnly(file);
  if (!CopyFileW(backup.Text(), file.Text(), FALSE)) {
    DWORD error = GetLastError();
    LogFailureOf(error, L"restoring the backup copy (kept) failed for \"%s\" to \"%s\"",
                 backup.Text(), file.Text());
    return error;
  }
  LogLine(L"restored from its backup copy: \"%s\"", file.Text());
  ClearReadOnly(backup);
  if (!DeleteFileW(backup.Text())) LogFailure(L"deleting the backup copy", backup.Text(), GetLastError());
  return ERROR_SUCCESS;
}
