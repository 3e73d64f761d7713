#include "package/install_package.h"

#include <string>
#include <vector>

#include "package/package_map.h"
#include "package/package_plan.h"
#include "package/package_transaction.h"
#include "package/package_verification.h"
#include "package/package_version_record.h"
#include "platform/run_log.h"
#include "settings/update_files.h"

namespace {

// Seconds on the performance counter, for the steps' times in the log.
double Seconds() {
  LARGE_INTEGER frequency{}, now{};
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return frequency.QuadPart ? static_cast<double>(now.QuadPart) / frequency.QuadPart : 0.0;
}

// 0 when the package folder is there; ERROR_FILE_NOT_FOUND when it is not
// (or a file has its name); else the error of the look-up (an offline
// share, access denied), so that a package that can't be read is no
// "no package".
DWORD FindPackageFolder(const tmk_String& packageRoot) {
  DWORD attributes = GetFileAttributesW(packageRoot.Text());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return ERROR_SUCCESS;
  DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY;
  LogFailure(L"finding the package folder", packageRoot.Text(), error);
  return IsMissingError(error) || error == ERROR_DIRECTORY ? ERROR_FILE_NOT_FOUND : error;
}

// Plans every row; returns the first row's error (each is logged).
DWORD PlanRows(const std::vector<PackageRow>& rows, PackagePlan& plan) {
  DWORD first = ERROR_SUCCESS;
  for (const PackageRow& row : rows) {
    unsigned long planned = 0;
    DWORD error = PlanFolderTree(row.source, row.destination, plan, planned);
    LogLine(L"package row %d: \"%s\" -> \"%s\": %lu files to replace", row.number,
            row.source.Text(), row.destination.Text(), planned);
    if (first == ERROR_SUCCESS) first = error;
  }
  return first;
}

// Undoes a switch that failed with `error`, records the run
// done when the installation is as it was, and returns `error`.
DWORD Undo(RunJournal& journal, const std::vector<PackageReplacement>& files, DWORD error) {
  if (UndoPackageFiles(files, kPackageThreads) != ERROR_SUCCESS) {
    LogLine(L"package: the run could not be undone completely: the files named above keep the "
            L"new version or a temporary name; the next run undoes the rest from the journal");
    return error;
  }
  LogLine(L"package: the run is undone, the installation is as it was");
  // A failed record is logged; the next run would then find nothing to undo.
  (void)journal.RecordPackageStage(PackageStage::Done);
  return error;
}

// Records the plan, then switches and finishes it; `start` is when the run
// began to plan. The old files are removed only once the journal holds the
// switch as complete: a run ended before that is undone by the next one.
DWORD Transact(const PackagePlan& plan, RunJournal& journal, double start) {
  const std::vector<PackageReplacement>& files = plan.Files();
  DWORD error = journal.RecordPackagePlan(files);
  if (error == ERROR_SUCCESS) error = journal.RecordPackageStage(PackageStage::Switching);
  if (error != ERROR_SUCCESS) return error;  // nothing is changed yet
  double planned = Seconds();
  error = SwitchInFiles(plan, kPackageThreads);
  if (error != ERROR_SUCCESS) return Undo(journal, files, error);
  double switched = Seconds();
  error = journal.RecordPackageStage(PackageStage::Switched);
  if (error != ERROR_SUCCESS) {
    LogLine(L"package: every file is switched, but the journal could not record it: the switch "
            L"is undone");
    return Undo(journal, files, error);
  }
  DWORD finished = FinishPackageFiles(files, kPackageThreads);
  // The installation is the package's version whatever the removal gave (a
  // file left is logged); a failed record is logged, and the next run
  // finishes the switch again, which finds nothing left to do.
  (void)journal.RecordPackageStage(PackageStage::Done);
  LogLine(L"package: %zu files replaced (plan %.2f s, switch %.2f s, removal of the old files "
          L"%.2f s)",
          files.size(), planned - start, switched - planned, Seconds() - switched);
  return finished;
}

const wchar_t* StageName(PackageStage stage) {
  return stage == PackageStage::Switched ? L"switched" : L"switching";
}

}  // namespace

DWORD InstallPackage(const UpdateContext& context, const tmk_String& updaterFolder,
                     RunJournal& journal, bool allowDowngrade, OwnSignatureCheck& own) {
  double start = Seconds();
  tmk_String packageRoot;
  packageRoot.Format(L"%s\\%s", updaterFolder.Text(), kPackageFolder);
  DWORD error = FindPackageFolder(packageRoot);
  if (error != ERROR_SUCCESS) return error;
  PackageCheck check;
  error = ReadPackageList(packageRoot, check);
  if (error != ERROR_SUCCESS) return error;
  std::vector<PackageRow> rows;
  error = ResolvePackageRows(context.ExecutablePath, packageRoot, rows);
  if (error != ERROR_SUCCESS) {
    LogLine(L"package: a row's folder can't be resolved, so the run changes nothing");
    return error;
  }
  ListedFiles listed(check.listed ? &check.list : nullptr, packageRoot.Text());
  PackagePlan plan(journal.Id(), &listed);
  error = PlanRows(rows, plan);
  if (error != ERROR_SUCCESS) {
    LogLine(L"package: a file or folder named above can't be replaced or read, so the run "
            L"changes nothing");
    return error;
  }
  // Judged once the plan is made, which changes nothing: the updater's own
  // signature is examined on its thread meanwhile.
  error = JudgePackage(check, allowDowngrade, own);
  if (error != ERROR_SUCCESS) return error;
  if (listed.FindUnmetFiles() != ERROR_SUCCESS) {
    LogLine(L"package refused, nothing is changed: a listed file is not in the package");
    return kPackageRefused;
  }
  LogLine(L"package: %zu files to replace, %.1f MB", plan.Files().size(), plan.Bytes() / 1e6);
  std::vector<std::wstring> rowFolders;
  for (const PackageRow& row : rows) rowFolders.push_back(row.destination.Text());
  error = CheckRoomForNewFiles(plan, rowFolders);
  if (error != ERROR_SUCCESS) return error;
  error = Transact(plan, journal, start);
  const bool replaced = error == ERROR_SUCCESS || error == ERROR_SUCCESS_REBOOT_REQUIRED;
  // Every file is replaced whether or not the version is recorded (a
  // failure is logged): a detection rule that misses it runs the package
  // again, which repairs.
  if (replaced && check.listed && check.list.HasVersion())
    (void)RecordPackageVersion(check.list.Version());
  return error;
}

DWORD RecoverPackageRun(RunJournal& earlier) {
  const PackageStage stage = earlier.PackageStageOf();
  if (stage == PackageStage::None || stage == PackageStage::Done) return ERROR_SUCCESS;
  const std::vector<PackageReplacement>& files = earlier.PackagePlan();
  SwitchDirection direction = SwitchDirection::Undo;
  DWORD error = ReadSwitchDirection(files, stage == PackageStage::Switched, kPackageThreads,
                                    direction);
  if (error != ERROR_SUCCESS) return error;
  const bool finish = direction == SwitchDirection::Finish;
  LogLine(L"package run %s did not end (%zu files, recorded %s; on the disk the switch %s): %s",
          earlier.Id().c_str(), files.size(), StageName(stage),
          finish ? L"is complete" : L"is not complete or its undo had begun",
          finish ? L"its old files are removed" : L"it is undone");
  if (finish) {
    // The installation is one version whatever the removal gives: an old
    // file that can be neither removed nor scheduled is logged and left,
    // and never stops a later run.
    error = FinishPackageFiles(files, kPackageThreads);
    if (error != ERROR_SUCCESS && error != ERROR_SUCCESS_REBOOT_REQUIRED)
      LogLine(L"package run %s: an old file named above is left beside the new one",
              earlier.Id().c_str());
    LogLine(L"package run %s finished: the installation is the package's version",
            earlier.Id().c_str());
  } else {
    error = UndoPackageFiles(files, kPackageThreads);
    if (error != ERROR_SUCCESS) {
      LogLine(L"package run %s: the installation could not be brought back to one version; the "
              L"files named above are as they were left, and the journal stays unfinished",
              earlier.Id().c_str());
      return error;
    }
    LogLine(L"package run %s undone: the installation is as it was before it",
            earlier.Id().c_str());
  }
  // A failed record is logged; the next run would find nothing left to do.
  (void)earlier.RecordPackageStage(PackageStage::Done);
  return ERROR_SUCCESS;
}
