#include "settings/settings_file.h"

#include "platform/run_log.h"
#include "platform/system_text.h"

const wchar_t kSettingsSection[] = L"TMK-QIRO";

bool SettingsFilePathOf(tmk_String& path) {
  std::wstring folder = vskr::CommonDataFolder();
  if (folder.empty()) return false;
  tmk_String located;
  located.Format(L"%s\\Quendris\\QIRO\\Settings\\qiro.ini", folder.c_str());
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

DWORD WriteSettingsText(const tmk_String& file, const wchar_t* section, const wchar_t* key,
                        const tmk_String& text) {
  if (file.IsEmpty()) return ERROR_SUCCESS;
  tmk_String old;
  ReadSettingsText(file, section, key, old);
  if (!WritePrivateProfileStringW(section, key, text.Text(), file.Text())) {
    DWORD error = GetLastError();
    LogFailureOf(error, L"writing settings key [%s] %s as \"%s\" in \"%s\" failed", section, key,
                 text.Text(), file.Text());
    return error;
  }
  LogLine(L"settings key [%s] %s written: \"%s\" (was \"%s\")", section, key, text.Text(),
          old.Text());
  return ERROR_SUCCESS;
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
