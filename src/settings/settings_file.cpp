#include "settings/settings_file.h"

#include <cwchar>
#include <vector>

#include "platform/run_log.h"
#include "platform/system_text.h"

const wchar_t kSettingsSection[] = L"TMK-QIRO";

bool SettingsFilePathOf(tmk_String& path) {
  std::wstring folder = vskr::ProductDataFolder(L"Settings");
  if (folder.empty()) return false;
  path.Assign((folder + L"\\qiro.ini").c_str());
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

bool IsUnreadableSettingsFile(const tmk_String& file) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (file.IsEmpty() || !GetFileAttributesExW(file.Text(), GetFileExInfoStandard, &data))
    return false;
  if (data.nFileSizeHigh == 0 && data.nFileSizeLow == 0) return false;
  // The names of all sections, each ending in a zero, the list in two.
  std::vector<wchar_t> names(64 * 1024, 0);
  DWORD units = GetPrivateProfileSectionNamesW(names.data(), static_cast<DWORD>(names.size()),
                                               file.Text());
  for (const wchar_t* name = names.data(); name < names.data() + units && *name;
       name += std::wcslen(name) + 1) {
    if (_wcsicmp(name, kSettingsSection) == 0) return false;
  }
  return true;
}

DWORD WriteSettingsText(const tmk_String& file, const wchar_t* section, const wchar_t* key,
                        const tmk_String& text) {
  if (file.IsEmpty()) return ERROR_SUCCESS;
  // The system would write the file anew from what it could read: nothing.
  if (IsUnreadableSettingsFile(file)) {
    LogLine(L"settings key [%s] %s not written: \"%s\" is not empty, but its section [%s] can't "
            L"be read (an encoding the system does not read, such as UTF-16 without a byte-order "
            L"mark); writing would lose its content",
            section, key, file.Text(), kSettingsSection);
    return ERROR_INVALID_DATA;
  }
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
