#include "settings/settings_file.h"

#include <shlobj.h>

#include "driver/run_log.h"

const wchar_t kSettingsSection[] = L"TMK-QIRO";

bool SettingsFilePathOf(tmk_String& path) {
  wchar_t folder[MAX_PATH] = {0};
  // The folder's current path, not its default one; no user token.
  HRESULT status = SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT,
                                    folder);
  if (FAILED(status) || folder[0] == 0) return false;
  tmk_String located;
  located.Format(L"%s\\Quendris\\QIRO\\Settings\\qiro.ini", folder);
  path.Assign(located.Text());
  return true;
}

tmk_String SettingsFileLocation() {
  tmk_String path;
  (void)SettingsFilePathOf(path);  // unknown folder: the empty text
  return path;
}

DWORD ReadSettingsText(const tmk_String& file, const wchar_t* section, const wchar_t* key,
                       tmk_String& value) {
  wchar_t buffer[kSettingsValueUnits] = {0};
  DWORD units = 0;
  if (!file.IsEmpty()) {
    units = GetPrivateProfileStringW(section, key, L"", buffer, kSettingsValueUnits, file.Text());
  }
  value.Assign(buffer);
  return units;
}

void WriteSettingsText(const tmk_String& file, const wchar_t* section, const wchar_t* key,
                       const tmk_String& text) {
  if (file.IsEmpty()) return;
  tmk_String old;
  ReadSettingsText(file, section, key, old);
  // Not examined beyond the run log: a settings file that can't be written
  // is passed over.
  if (WritePrivateProfileStringW(section, key, text.Text(), file.Text())) {
    LogLine(L"settings key [%s] %s written: \"%s\" (was \"%s\")", section, key, text.Text(),
            old.Text());
  } else {
    LogFailure(L"writing a settings key", file.Text(), GetLastError());
  }
}

int ReadSettingsRootPath(tmk_String& rootPath) {
  tmk_String file = SettingsFileLocation();
  // The count is not needed: the text read, empty or not, is the result.
  (void)ReadSettingsText(file, kSettingsSection, L"PHI_ROOTPATH", rootPath);
  return 0;
}

int ReadSettingsLanguage(tmk_String& language) {
  tmk_String file = SettingsFileLocation();
  (void)ReadSettingsText(file, kSettingsSection, L"PHI_LANGUAGE", language);  // as above
  return 0;
}
