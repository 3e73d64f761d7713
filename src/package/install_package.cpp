#include "package/install_package.h"

#include <string>
#include <vector>

#include "package/package_map.h"
#include "package/package_plan.h"
#include "package/package_transaction.h"
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

DWORD FindPackageFolder(const tmk_String& packageRoot) {
  DWORD attributes = GetFileAttributesW(packageRoot.Text());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return ERROR_SUCCESS;
  DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY;
  LogFailure(L"finding the package folder", packageRoot.Text(), error);
  return ERROR_FILE_NOT_FOUND;
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

// Undoes a staging or switch that failed with `error`, and returns `error`.
DWORD Undo(const std::vector<PackageReplacement>& files, DWORD error) {
  if (UndoPackageFiles(files, kPackageThreads) != ERROR_SUCCESS) {
    LogLine(L"package: the run could not be undone completely: the files named above keep the "
            L"new version or a temporary name");
    return error;
  }
  LogLine(L"package: the run is undone, the installation is as it was");
  return error;
}

// Stages, switches and finishes the plan; `start` is when the run began to
// plan.
DWORD Transact(const PackagePlan& plan, double start) {
  const std::vector<PackageReplacement>& files = plan.Files();
  double planned = Seconds();
  DWORD error = StageFiles(plan, kPackageThreads);
  if (error != ERROR_SUCCESS) return Undo(files, error);
  double staged = Seconds();
  error = SwitchFiles(files, kPackageThreads);
  if (error != ERROR_SUCCESS) return Undo(files, error);
  double switched = Seconds();
  DWORD finished = FinishPackageFiles(files, kPackageThreads);
  LogLine(L"package: %zu files replaced (plan %.2f s, staging %.2f s, switch %.2f s, removal of "
          L"the old files %.2f s)",
          files.size(), planned - start, staged - planned, switched - staged,
          Seconds() - switched);
  return finished;
}

}  // namespace

DWORD InstallPackage(const UpdateContext& context, const tmk_String& updaterFolder,
                     RunJournal& journal) {
  double start = Seconds();
  tmk_String packageRoot;
  packageRoot.Format(L"%s\\%s", updaterFolder.Text(), kPackageFolder);
  DWORD error = FindPackageFolder(packageRoot);
  if (error != ERROR_SUCCESS) return error;
  std::vector<PackageRow> rows;
  error = ResolvePackageRows(context.ExecutablePath, packageRoot, rows);
  if (error != ERROR_SUCCESS) {
    LogLine(L"package: a row's folder can't be resolved, so the run changes nothing");
    return error;
  }
  PackagePlan plan(journal.Id());
  error = PlanRows(rows, plan);
  if (error != ERROR_SUCCESS) {
    LogLine(L"package: an installed file can't be replaced, so the run changes nothing");
    return error;
  }
  LogLine(L"package: %zu files to replace, %.1f MB", plan.Files().size(), plan.Bytes() / 1e6);
  std::vector<std::wstring> rowFolders;
  for (const PackageRow& row : rows) rowFolders.push_back(row.destination.Text());
  error = CheckRoomForStaging(plan, rowFolders);
  if (error != ERROR_SUCCESS) return error;
  return Transact(plan, start);
}
