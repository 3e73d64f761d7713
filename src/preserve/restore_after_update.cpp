// What is put back after the installer: the language, and the backup copies
// of the module configuration file and the settings file.
#include <windows.h>

#include "platform/run_log.h"
#include "platform/unique_handle.h"
#include "preserve/backup_copy.h"
#include "platform/registry_value.h"
#include "settings/update_context.h"

namespace {

// "PHI_LANGUAGE" of the product key, which is opened but never created.
void WriteLanguage(const tmk_String& language) {
  vskr::UniqueHkey key;
  LONG opened = OpenMachineKey(kProductKey, KEY_WRITE, key);
  if (opened != ERROR_SUCCESS) {
    LogFailure(L"opening the product key for writing the language", kProductKey,
               static_cast<DWORD>(opened));
    return;
  }
  if (language.IsEmpty()) {
    LogLine(L"no language in the settings file: PHI_LANGUAGE is left as it is");
    return;
  }
  tmk_String old = ReadProductValue(L"PHI_LANGUAGE");
  LONG status = SetRegistryText(key.Get(), L"PHI_LANGUAGE", language);
  if (status == ERROR_SUCCESS) {
    LogLine(L"registry value PHI_LANGUAGE written: \"%s\" (was \"%s\")", language.Text(),
            old.Text());
  } else {
    LogFailureOf(static_cast<DWORD>(status), L"writing registry value PHI_LANGUAGE of \"%s\" as \"%s\" failed",
                 kProductKey, language.Text());
  }
}

}  // namespace

namespace {

// A copy-back that failed; a missing backup copy (none was made) is none.
DWORD CopyBackFailure(DWORD error) { return IsMissingError(error) ? ERROR_SUCCESS : error; }

}  // namespace

DWORD UpdateContext::RestoreAfterUpdate() {
  WriteLanguage(Language);
  // The data folder as the installer left it.
  tmk_String dataFolder = ReadProductValue(L"DATA_PATH");
  // Each outcome is in the run log; a backup copy not put back is kept.
  DWORD first = CopyBackFailure(RestoreBackupCopy(ModuleConfigurationPath(dataFolder)));
  if (!SettingsFilePath.IsEmpty()) {
    DWORD error = CopyBackFailure(RestoreBackupCopy(SettingsFilePath));
    if (first == ERROR_SUCCESS) first = error;
  }
  return first;
}
