// Package mode: the installation's folders are refreshed from the unpacked
// package "vskr_update" next to the updater, by a fixed map of thirteen rows.
#include <windows.h>

#include <cwchar>

#include "platform/run_log.h"
#include "package/package_map.h"
#include "settings/update_context.h"

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

DWORD UpdateContext::InstallPackage(tmk_String updaterFolder) {
  tmk_String packageRoot = Concatenate(updaterFolder, L"\\vskr_update");
  DWORD attributes = GetFileAttributesW(packageRoot.Text());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY;
    LogFailure(L"finding the package folder", packageRoot.Text(), error);
    return ERROR_FILE_NOT_FOUND;
  }

  // The installation's folders, read anew in this order. A missing value
  // gives an empty folder, and the destinations built on it then start with
  // their first piece (a folder at the root of the current drive).
  tmk_String dataFolder = ReadProductValue(L"DATA_PATH");
  dataFolder.Append(L"\\Data");
  tmk_String rootFolder = ReadProductValue(L"ROOTPATH");
  tmk_String workFolder = ReadProductValue(L"WORK_PATH");
  workFolder.Append(L"\\Work");

  struct Row {
    const wchar_t* source;          // below the package root
    const tmk_String* destination;  // the installation folder of the row
    const wchar_t* piece;           // appended to it (null: nothing)
  };
  const Row rows[] = {
      {SystemFolderSource(ExecutablePath), &ExecutablePath, nullptr},
      {L"\\Veskaro\\App", &rootFolder, L"\\App"},
      {L"\\Veskaro\\app_acad_common", &rootFolder, L"\\App"},
      {L"\\Veskaro\\Init", &rootFolder, L"\\Init"},
      {L"\\Veskaro\\Tools", &rootFolder, L"\\Tools"},
      {L"\\Veskaro\\SystemDefault", &rootFolder, L"\\SystemDefault"},
      {L"\\Veskaro\\catalog", &workFolder, L"\\catalog"},
      {L"\\Veskaro\\library", &workFolder, L"\\library"},
      {L"\\Veskaro\\Config", &dataFolder, L"\\Config"},
      {L"\\Veskaro\\Default", &dataFolder, L"\\Default"},
      {L"\\Veskaro\\Template", &dataFolder, L"\\Template"},
      {L"\\Veskaro\\Reports", &dataFolder, L"\\Reports"},
      {L"\\Veskaro\\LocalCfg", &dataFolder, L"\\LocalCfg"},
  };
  int number = 0;
  DWORD first = ERROR_SUCCESS;
  for (const Row& row : rows) {
    tmk_String source = Concatenate(packageRoot, row.source);
    tmk_String destination = Concatenate(*row.destination, row.piece);
    unsigned long replaced = 0;
    // A failed copy ends only the walk of its own row; the first one is the
    // run's outcome.
    DWORD error = RefreshFolderTreeCounted(source, destination, replaced);
    if (first == ERROR_SUCCESS) first = error;
    LogLine(L"package row %d: \"%s\" -> \"%s\": %lu files replaced%s", ++number, source.Text(),
            destination.Text(), replaced,
            error == ERROR_SUCCESS ? L"" : L", stopped at a failed copy");
  }
  return first;
}
