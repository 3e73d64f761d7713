// Package mode: the installation's folders are refreshed from the unpacked
// package "vskr_update" next to the updater, by a fixed map of thirteen rows.
#include <windows.h>

#include <cwchar>

#include "platform/path_identity.h"
#include "platform/run_log.h"
#include "package/package_map.h"
#include "settings/update_context.h"
#include "settings/update_files.h"

namespace {

// Paths of at most this many characters always take the 2021 program folder.
constexpr size_t kAlwaysSys2021Length = 6;

}  // namespace

const wchar_t* SystemFolderSource(const tmk_String& executablePath) {
  const wchar_t* text = executablePath.Text();
  if (std::wcslen(text) > kAlwaysSys2021Length) {
    const wchar_t* found = std::wcsstr(text, L"2020");
    if (found != nullptr && found > text) return L"\\Veskaro\\Sys2020";
  }
  return L"\\Veskaro\\Sys2021";
}

DWORD InstallPackage(const UpdateContext& context, const tmk_String& updaterFolder) {
  tmk_String packageRoot;
  packageRoot.Format(L"%s\\%s", updaterFolder.Text(), kPackageFolder);
  DWORD attributes = GetFileAttributesW(packageRoot.Text());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY;
    LogFailure(L"finding the package folder", packageRoot.Text(), error);
    return ERROR_FILE_NOT_FOUND;
  }

  // The installation's folders, read anew in this order. A row whose
  // folder is empty (a missing or unreadable value) or not an absolute path
  // is skipped: its destination would lie at the root of the current drive
  // or under the current folder, where no installation is.
  tmk_String dataValue = ReadProductValue(L"DATA_PATH");
  tmk_String rootValue = ReadProductValue(L"ROOTPATH");
  tmk_String workValue = ReadProductValue(L"WORK_PATH");
  tmk_String dataFolder = Concatenate(dataValue, L"\\Data");
  tmk_String workFolder = Concatenate(workValue, L"\\Work");

  struct Row {
    const wchar_t* source;          // below the package root
    const wchar_t* valueName;       // the registry value the destination stands on
    const tmk_String* value;        // its text
    const tmk_String* destination;  // the installation folder of the row
    const wchar_t* piece;           // appended to it (null: nothing)
  };
  const Row rows[] = {
      {SystemFolderSource(context.ExecutablePath), L"EXECUTABLEPATH", &context.ExecutablePath,
       &context.ExecutablePath,
       nullptr},
      {L"\\Veskaro\\App", L"ROOTPATH", &rootValue, &rootValue, L"\\App"},
      {L"\\Veskaro\\app_acad_common", L"ROOTPATH", &rootValue, &rootValue, L"\\App"},
      {L"\\Veskaro\\Init", L"ROOTPATH", &rootValue, &rootValue, L"\\Init"},
      {L"\\Veskaro\\Tools", L"ROOTPATH", &rootValue, &rootValue, L"\\Tools"},
      {L"\\Veskaro\\SystemDefault", L"ROOTPATH", &rootValue, &rootValue, L"\\SystemDefault"},
      {L"\\Veskaro\\catalog", L"WORK_PATH", &workValue, &workFolder, L"\\catalog"},
      {L"\\Veskaro\\library", L"WORK_PATH", &workValue, &workFolder, L"\\library"},
      {L"\\Veskaro\\Config", L"DATA_PATH", &dataValue, &dataFolder, L"\\Config"},
      {L"\\Veskaro\\Default", L"DATA_PATH", &dataValue, &dataFolder, L"\\Default"},
      {L"\\Veskaro\\Template", L"DATA_PATH", &dataValue, &dataFolder, L"\\Template"},
      {L"\\Veskaro\\Reports", L"DATA_PATH", &dataValue, &dataFolder, L"\\Reports"},
      {L"\\Veskaro\\LocalCfg", L"DATA_PATH", &dataValue, &dataFolder, L"\\LocalCfg"},
  };
  int number = 0;
  DWORD first = ERROR_SUCCESS;
  for (const Row& row : rows) {
    tmk_String source = Concatenate(packageRoot, row.source);
    tmk_String destination = Concatenate(*row.destination, row.piece);
    ++number;
    if (!IsAbsolutePath(row.value->Text())) {
      LogLine(L"package row %d skipped: the registry value %s (\"%s\") is empty or not an "
              L"absolute path, so \"%s\" would lie outside the installation",
              number, row.valueName, row.value->Text(), destination.Text());
      if (first == ERROR_SUCCESS) first = ERROR_BAD_PATHNAME;
      continue;
    }
    unsigned long replaced = 0;
    // A failed copy ends only the walk of its own row; the first one is the
    // run's outcome.
    DWORD error = RefreshFolderTreeCounted(source, destination, replaced);
    if (first == ERROR_SUCCESS) first = error;
    LogLine(L"package row %d: \"%s\" -> \"%s\": %lu files replaced%s", number, source.Text(),
            destination.Text(), replaced,
            error == ERROR_SUCCESS ? L"" : L", stopped at a failed copy");
  }
  return first;
}
