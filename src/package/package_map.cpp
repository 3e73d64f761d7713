// The thirteen rows of the package map and the folders they resolve to.
#include "package/package_map.h"

#include <cwchar>

#include "platform/path_identity.h"
#include "platform/run_log.h"
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

DWORD ResolvePackageRows(const tmk_String& executablePath, const tmk_String& packageRoot,
                         std::vector<PackageRow>& rows) {
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
  const Row map[] = {
      {SystemFolderSource(executablePath), L"EXECUTABLEPATH", &executablePath, &executablePath,
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
  DWORD outcome = ERROR_SUCCESS;
  int number = 0;
  for (const Row& row : map) {
    tmk_String destination = Concatenate(*row.destination, row.piece);
    ++number;
    if (!IsAbsolutePath(row.value->Text())) {
      LogLine(L"package row %d can't be resolved: the registry value %s (\"%s\") is empty or not "
              L"an absolute path, so \"%s\" would lie outside the installation",
              number, row.valueName, row.value->Text(), destination.Text());
      outcome = ERROR_BAD_PATHNAME;
      continue;
    }
    rows.push_back({number, Concatenate(packageRoot, row.source), destination});
  }
  return outcome;
}
