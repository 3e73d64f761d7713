#include "package/package_transaction.h"

#include <string>

#include "package/file_holders.h"
#include "package/package_verification.h"
#include "package/parallel_steps.h"
#include "platform/file_content.h"
#include "platform/hashing_copy.h"
#include "platform/long_path.h"
#include "platform/path_identity.h"
#include "platform/run_log.h"

namespace {

// --- the file system's primitives; each returns 0 or the system's error ---
// Each takes the plain path (as the plan and the log name it) and works on
// its extended form, so that a temporary name past MAX_PATH works too.

// Renames a file within its folder; never over another file.
DWORD RenameFile(const std::wstring& from, const std::wstring& to) {
  return MoveFileExW(ExtendedPath(from).c_str(), ExtendedPath(to).c_str(), 0) ? ERROR_SUCCESS
                                                                                : GetLastError();
}

// Takes the read-only attribute off a new copy: the package's attribute (a
// package copied from read-only media) is not the installation's, and a
// read-only installed file would stop the next package run.
DWORD MakeWritable(const std::wstring& path) {
  const std::wstring extended = ExtendedPath(path);
  DWORD attributes = GetFileAttributesW(extended.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
  if (!(attributes & FILE_ATTRIBUTE_READONLY)) return ERROR_SUCCESS;
  return SetFileAttributesW(extended.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)
             ? ERROR_SUCCESS
             : GetLastError();
}

// Deletes a file; a read-only one (what a copy of a read-only package file
// left) loses that attribute first.
DWORD RemoveFile(const std::wstring& path) {
  const std::wstring extended = ExtendedPath(path);
  if (DeleteFileW(extended.c_str())) return ERROR_SUCCESS;
  DWORD error = GetLastError();
  if (error != ERROR_ACCESS_DENIED) return error;
  DWORD attributes = GetFileAttributesW(extended.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
    return error;
  if (MakeWritable(path) != ERROR_SUCCESS) return error;
  return DeleteFileW(extended.c_str()) ? ERROR_SUCCESS : GetLastError();
}

// The system keeps the files to remove at the restart in one registry
// value; calls from several threads at once lose entries, so the caller
// makes them one at a time.
DWORD RemoveAtRestart(const std::wstring& path) {
  return MoveFileExW(ExtendedPath(path).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)
             ? ERROR_SUCCESS
             : GetLastError();
}

// --- what became of each file, for the run log ---

// The operation that failed on one file, with its paths; written by that
// file's step, logged by the calling thread afterwards.
struct FileOutcome {
  DWORD error = ERROR_SUCCESS;
  const wchar_t* operation = nullptr;
  const std::wstring* from = nullptr;
  const std::wstring* to = nullptr;  // null: an operation on one file
  std::wstring detail;               // what the log adds after the paths

  DWORD Failed(DWORD code, const wchar_t* what, const std::wstring& path,
               const std::wstring* target = nullptr) {
    error = code;
    operation = what;
    from = &path;
    to = target;
    return code;
  }
};

void LogOutcome(const FileOutcome& outcome) {
  if (outcome.to == nullptr) {
    LogFailureOf(outcome.error, L"%s failed for \"%s\"%s", outcome.operation,
                 outcome.from->c_str(), outcome.detail.c_str());
  } else {
    LogFailureOf(outcome.error, L"%s failed for \"%s\" as \"%s\"%s", outcome.operation,
                 outcome.from->c_str(), outcome.to->c_str(), outcome.detail.c_str());
  }
}

// Runs `step` (given a file's index) over the files and logs each failure;
// returns the error of the first file that failed (0: none).
DWORD RunFileSteps(const std::vector<PackageReplacement>& files, unsigned threads,
                   AfterFailure after,
                   const std::function<DWORD(size_t, FileOutcome&)>& step) {
  std::vector<FileOutcome> outcomes(files.size());
  std::vector<StepFailure> failures =
      RunSteps(files.size(), threads, after, [&](size_t i) { return step(i, outcomes[i]); });
  for (const StepFailure& failure : failures) LogOutcome(outcomes[failure.index]);
  return failures.empty() ? ERROR_SUCCESS : failures.front().error;
}

// --- one file's part of each step ---

// Sets the installed file aside and copies the package file to its name:
// the old version stays under the set-aside name until the run is done, so
// the file can be put back as long as the run is not finished. A listed
// file's copy must have the listed digest, taken of the bytes written: a
// package file changed since it was planned is caught as well.
DWORD SwitchInFile(const PackageSource& source, const PackageReplacement& file,
                   FileOutcome& outcome) {
  DWORD error = RenameFile(file.installed, file.aside);
  if (error) return outcome.Failed(error, L"setting an installed file aside", file.installed,
                                   &file.aside);
  // The copy loses a read-only package file's attribute: the package's
  // attribute (a package copied from read-only media) is not the
  // installation's.
  Sha256Digest copied{};
  error = CopyNewFile(ExtendedPath(source.path), ExtendedPath(file.installed),
                      source.verified ? &copied : nullptr);
  if (error) return outcome.Failed(error, L"copying a package file in place", source.path,
                                   &file.installed);
  if (!source.verified || copied == source.digest) return 0;
  outcome.detail = L" (listed digest " + DigestText(source.digest) + L", copied " +
                   DigestText(copied) + L")";
  return outcome.Failed(kPackageRefused, L"checking the digest of a copied package file",
                        source.path, &file.installed);
}

DWORD RemoveIfThere(const std::wstring& path, const wchar_t* operation, FileOutcome& outcome) {
  bool there = false;
  DWORD error = LookForPath(path, there);
  if (error == ERROR_SUCCESS && there) error = RemoveFile(path);
  return error ? outcome.Failed(error, operation, path) : 0;
}

DWORD UndoFile(const PackageReplacement& file, FileOutcome& outcome) {
  bool asideThere = false, installedThere = false;
  DWORD error = LookForPath(file.aside, asideThere);
  if (error) return outcome.Failed(error, L"looking for a set-aside file", file.aside);
  if (asideThere) {
    error = LookForPath(file.installed, installedThere);
    if (error) return outcome.Failed(error, L"looking for an installed file", file.installed);
    if (installedThere && (error = RenameFile(file.installed, file.staged)) != 0)
      return outcome.Failed(error, L"taking back a new file", file.installed, &file.staged);
    if ((error = RenameFile(file.aside, file.installed)) != 0)
      return outcome.Failed(error, L"putting back an installed file", file.aside, &file.installed);
  }
  return RemoveIfThere(file.staged, L"removing a staged file", outcome);
}

// Removes a set-aside file when it is there. A removal that fails (a
// program holds the file) is no failure of this step: `failed` receives its
// error, and the caller schedules the file's removal at the restart.
DWORD RemoveSetAside(const PackageReplacement& file, FileOutcome& outcome, DWORD& failed) {
  failed = RemoveIfThere(file.aside, L"removing a replaced file", outcome);
  return ERROR_SUCCESS;
}

// Logs each file whose old version waits for the restart, with the programs
// that hold it (where the system can tell) and the error of its removal.
void LogWaitingFiles(const std::vector<PackageReplacement>& files,
                     const std::vector<DWORD>& waiting) {
  std::vector<std::wstring> paths;
  for (size_t i = 0; i < files.size(); ++i)
    if (waiting[i]) paths.push_back(files[i].installed);
  std::vector<std::wstring> holders = ProgramsHolding(paths);
  size_t next = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    if (!waiting[i]) continue;
    const std::wstring& by = holders[next++];
    LogFailureOf(waiting[i],
                 L"package: \"%s\" is in use%s%s: replaced; its old version \"%s\" is removed "
                 L"at the next restart, as removing it now failed",
                 files[i].installed.c_str(), by.empty() ? L"" : L" by ", by.c_str(),
                 files[i].aside.c_str());
  }
}

// --- room for the staged copies ---

struct Volume {
  std::wstring root;
  unsigned long long cluster = 1;
  unsigned long long needed = 0;
};

// The volume (its root or mount folder) that holds `folder`, with its
// cluster size (1 when the system can't tell it: bytes are counted).
DWORD VolumeOf(const std::wstring& folder, Volume& volume) {
  wchar_t root[MAX_PATH + 1] = {0};
  if (!GetVolumePathNameW(folder.c_str(), root, MAX_PATH + 1)) return GetLastError();
  volume.root = root;
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
  if (GetDiskFreeSpaceW(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters) &&
      sectorsPerCluster * bytesPerSector > 0)
    volume.cluster = static_cast<unsigned long long>(sectorsPerCluster) * bytesPerSector;
  return ERROR_SUCCESS;
}

// The index of the longest of `folders` that is `path`'s folder or above it;
// folders.size() when none is.
size_t RowFolderOf(const std::wstring& path, const std::vector<std::wstring>& folders) {
  size_t best = folders.size();
  for (size_t i = 0; i < folders.size(); ++i) {
    const std::wstring& folder = folders[i];
    bool above = path.size() > folder.size() && path[folder.size()] == L'\\' &&
                 SamePath(path.substr(0, folder.size()), folder);
    if (above && (best == folders.size() || folder.size() > folders[best].size())) best = i;
  }
  return best;
}

// Sums the room each row folder's volume needs for the new files; the
// volumes are found for the rows that have files.
DWORD SumRoomByVolume(const PackagePlan& plan, const std::vector<std::wstring>& rowFolders,
                      std::vector<Volume>& volumes) {
  std::vector<int> volumeOfRow(rowFolders.size() + 1, -1);
  for (size_t i = 0; i < plan.Files().size(); ++i) {
    const PackageReplacement& file = plan.Files()[i];
    size_t row = RowFolderOf(file.installed, rowFolders);
    if (volumeOfRow[row] < 0) {
      Volume volume;
      const std::wstring folder = row < rowFolders.size()
                                      ? rowFolders[row]
                                      : file.installed.substr(0, file.installed.rfind(L'\\'));
      DWORD error = VolumeOf(folder, volume);
      if (error) {
        LogFailure(L"finding the volume of an installation folder", folder.c_str(), error);
        return error;
      }
      size_t known = 0;
      while (known < volumes.size() && !SamePath(volumes[known].root, volume.root)) ++known;
      if (known == volumes.size()) volumes.push_back(volume);
      volumeOfRow[row] = static_cast<int>(known);
    }
    Volume& volume = volumes[volumeOfRow[row]];
    const unsigned long long bytes = plan.Sources()[i].bytes;
    volume.needed += (bytes + volume.cluster - 1) / volume.cluster * volume.cluster;
  }
  return ERROR_SUCCESS;
}

}  // namespace

DWORD CheckRoomForNewFiles(const PackagePlan& plan, const std::vector<std::wstring>& rowFolders) {
  std::vector<Volume> volumes;
  DWORD error = SumRoomByVolume(plan, rowFolders, volumes);
  if (error) return error;
  for (const Volume& volume : volumes) {
    ULARGE_INTEGER free{};
    if (!GetDiskFreeSpaceExW(volume.root.c_str(), &free, nullptr, nullptr)) {
      error = GetLastError();
      LogFailure(L"asking for the free space of a volume", volume.root.c_str(), error);
      return error;
    }
    if (free.QuadPart >= volume.needed) continue;
    LogLine(L"package: not enough room on \"%s\" for the new files beside the installed ones: "
            L"%.1f MB needed, %.1f MB free",
            volume.root.c_str(), volume.needed / 1e6, free.QuadPart / 1e6);
    return ERROR_DISK_FULL;
  }
  return ERROR_SUCCESS;
}

DWORD SwitchInFiles(const PackagePlan& plan, unsigned threads) {
  return RunFileSteps(plan.Files(), threads, AfterFailure::Stop,
                      [&](size_t i, FileOutcome& outcome) {
                        return SwitchInFile(plan.Sources()[i], plan.Files()[i], outcome);
                      });
}

DWORD UndoPackageFiles(const std::vector<PackageReplacement>& files, unsigned threads) {
  // From the last file to the first, against the switch's order: a run
  // ended during the undo leaves the set-aside files of the first ones,
  // which tells it apart from a removal (ReadSwitchDirection).
  const size_t last = files.size() - 1;
  return RunFileSteps(files, threads, AfterFailure::CarryOn, [&](size_t i, FileOutcome& outcome) {
    return UndoFile(files[last - i], outcome);
  });
}

DWORD ReadSwitchDirection(const std::vector<PackageReplacement>& files, bool recordedSwitched,
                          unsigned threads, SwitchDirection& direction) {
  direction = recordedSwitched ? SwitchDirection::Finish : SwitchDirection::Undo;
  std::vector<bool> aside(files.size(), false);
  bool undoing = false;
  for (size_t i = 0; i < files.size(); ++i) {
    bool asideThere = false, stagedThere = false, installedThere = true;
    const std::wstring* looked = &files[i].aside;
    DWORD error = LookForPath(*looked, asideThere);
    if (error == ERROR_SUCCESS) error = LookForPath(*(looked = &files[i].staged), stagedThere);
    if (error == ERROR_SUCCESS && asideThere)
      error = LookForPath(*(looked = &files[i].installed), installedThere);
    if (error != ERROR_SUCCESS) {
      LogFailure(L"looking at a file of an unfinished package run", looked->c_str(), error);
      return error;
    }
    aside[i] = asideThere;
    // Only an undo takes a new file to its ".new" name; a set-aside file
    // without a file at its installed name was never copied over: finishing
    // would leave nothing there.
    undoing = undoing || stagedThere || !installedThere;
  }
  if (undoing) {
    direction = SwitchDirection::Undo;
    return ERROR_SUCCESS;
  }
  // The switch and the removal each go from the first file to the last, the
  // undo from the last to the first, each with at most `threads` files under
  // way: set-aside files missing before the last one there are removed ones;
  // missing after the first one there, never set aside or put back.
  size_t first = files.size(), lastThere = 0, missingBefore = 0, missingAfter = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    if (!aside[i]) continue;
    if (first == files.size()) first = i;
    lastThere = i;
  }
  if (first == files.size()) return ERROR_SUCCESS;  // none left: one version either way
  for (size_t i = 0; i < files.size(); ++i) {
    if (aside[i]) continue;
    if (i < lastThere) ++missingBefore;
    if (i > first) ++missingAfter;
  }
  if (missingBefore >= threads && missingAfter < threads) direction = SwitchDirection::Finish;
  if (missingAfter >= threads && missingBefore < threads) direction = SwitchDirection::Undo;
  return ERROR_SUCCESS;
}

DWORD FinishPackageFiles(const std::vector<PackageReplacement>& files, unsigned threads) {
  std::vector<DWORD> waiting(files.size(), ERROR_SUCCESS);
  DWORD error = RunFileSteps(files, threads, AfterFailure::CarryOn,
                             [&](size_t i, FileOutcome& outcome) {
                               return RemoveSetAside(files[i], outcome, waiting[i]);
                             });
  // One at a time, on this thread: the system's list of removals at the
  // restart loses entries written at once.
  bool anyWaiting = false;
  for (size_t i = 0; i < files.size(); ++i) {
    if (!waiting[i]) continue;
    DWORD scheduled = RemoveAtRestart(files[i].aside);
    if (scheduled == ERROR_SUCCESS) {
      anyWaiting = true;
      continue;
    }
    LogFailureOf(waiting[i], L"removing a replaced file failed for \"%s\"", files[i].aside.c_str());
    LogFailureOf(scheduled,
                 L"package: the replaced file \"%s\" is left: scheduling its removal at the "
                 L"restart failed as well; it can be deleted by hand",
                 files[i].aside.c_str());
    if (error == ERROR_SUCCESS) error = scheduled;
    waiting[i] = ERROR_SUCCESS;
  }
  if (anyWaiting) LogWaitingFiles(files, waiting);
  if (error) return error;
  return anyWaiting ? ERROR_SUCCESS_REBOOT_REQUIRED : ERROR_SUCCESS;
}
