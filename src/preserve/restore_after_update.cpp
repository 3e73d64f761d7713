// What is put back after the installer: the language, and the backup copies
// of the module configuration file and the settings file.
#include <windows.h>

#include "driver/run_log.h"
#include "platform/unique_handle.h"
#include "preserve/backup_copy.h"
#include "settings/registry_value.h"
#include "settings/update_context.h"

namespace {

// "PHI_LANGUAGE" of the product key, which is opened but never created.
void WriteLanguage(const tmk_String& language) {
  vskr::UniqueHkey key;
  if (!OpenMachineKey(kProductKey, KEY_WRITE, key)) {
    LogLine(L"the product key can't be opened for writing: the language is not written");
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
    LogFailure(L"writing registry value PHI_LANGUAGE", language.Text(), static_cast<DWORD>(status));
  }
}

}  // namespace

void UpdateContext::RestoreAfterUpdate() {
  WriteLanguage(Language);
  // The data folder as the installer left it.
  tmk_String dataFolder = ReadProductValue(L"DATA_PATH");
  RestoreBackupCopy(ModuleConfigurationPath(dataFolder));
  if (!SettingsFilePath.IsEmpty()) RestoreBackupCopy(SettingsFilePath);
}
