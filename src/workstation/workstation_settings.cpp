#include "workstation/workstation_settings.h"

#include <windows.h>

#include <cwchar>
#include <io.h>

#include "platform/message_box.h"
#include "platform/run_log.h"
#include "platform/unique_handle.h"
#include "platform/registry_value.h"
#include "settings/settings_file.h"
#include "workstation/product_switch.h"

namespace {

// The file whose presence marks the product's program folder.
const wchar_t kProgramFolderMarker[] = L"\\VC_BaseSBCS_RD.dll";

// A root folder shorter than this is checked against the program folder
// even when the registry and the settings file agree on it.
constexpr size_t kShortestTrustedRoot = 5;
// Product codes of this length or shorter are not looked up.
constexpr size_t kLongestIgnoredCode = 2;
// Shorter product switches are not put into the launch arguments.
constexpr size_t kShortestProductSwitch = 3;
// The computer name's buffer: 15 characters and the terminator.
constexpr DWORD kComputerNameUnits = 16;

// The sections that hold one AutoCAD launch argument each, one per kind of
// plan, in the order in which they are completed.
const wchar_t* const kApplicationSections[] = {
    L"2D-PIPE",   L"3D-PIPE",       L"ISO",           L"Proze\u00DFschema",
    L"Installationsplan", L"Logikplan", L"Stromlaufplan", L"Hookup",
};

// "0" marks a value that is still to be filled in.
bool IsPlaceholder(const tmk_String& text) { return _wcsicmp(text.Text(), L"0") == 0; }

size_t LengthOf(const tmk_String& text) { return std::wcslen(text.Text()); }

// The text before the last backslash; empty when there is none.
tmk_String FolderAbove(const tmk_String& path) {
  const wchar_t* last = std::wcsrchr(path.Text(), L'\\');
  return Left(path, last ? static_cast<int>(last - path.Text()) : -1);
}

// Takes `key` of the computer's own section into `field` when the settings
// file has a non-empty value for it. True when it did.
bool TakeFromComputerSection(const tmk_String& settingsFile, const wchar_t* computerName,
                             const wchar_t* key, tmk_String& field) {
  tmk_String value;
  if (ReadSettingsText(settingsFile, computerName, key, value) == 0) return false;
  field.Assign(value.Text());
  return true;
}

struct FilledFolders {
  bool project = false;
  bool database = false;
};

// The project and database folders that the registry lacks, from the
// section named after this computer. Without a computer name both stay.
FilledFolders FillFoldersFromComputerSection(UpdateContext& context,
                                             const tmk_String& settingsFile) {
  FilledFolders filled;
  wchar_t computerName[kComputerNameUnits] = {0};
  DWORD size = kComputerNameUnits;
  if (!GetComputerNameW(computerName, &size)) {
    LogFailure(L"reading the computer's name", L"", GetLastError());
    return filled;
  }
  if (context.ProjectPath.IsEmpty()) {
    filled.project =
        TakeFromComputerSection(settingsFile, computerName, L"PHI_PRJPATH", context.ProjectPath);
  }
  if (context.DatabasePath.IsEmpty()) {
    filled.database =
        TakeFromComputerSection(settingsFile, computerName, L"VERSANT_DB", context.DatabasePath);
  }
  return filled;
}

// Settles RootPath. When the registry's root and the settings file's agree
// (letter case aside) and the root is long enough, nothing is checked.
// Otherwise the program folder must hold its marker file: then RootPath
// takes the settings file's root, unless that is still to be filled in
// (empty or "0"), in which case the registry's root stays so that the
// settings file receives a usable one. Without the marker RootPath becomes
// the folder above the program folder, and the marker is looked for once
// more. False when the program folder could not be verified.
bool SettleRootFolder(UpdateContext& context, const tmk_String& settingsRoot,
                      bool settingsRootUnfilled) {
  if (_wcsicmp(context.RootPath.Text(), settingsRoot.Text()) == 0 &&
      LengthOf(context.RootPath) >= kShortestTrustedRoot) {
    return true;
  }
  if (IsProgramFolder(context.ExecutablePath)) {
    if (!settingsRootUnfilled) context.RootPath.Assign(settingsRoot.Text());
    return true;
  }
  context.RootPath.Assign(FolderAbove(context.ExecutablePath).Text());
  return IsProgramFolder(context.ExecutablePath);
}

// Writes a text value of the product key; the result is looked at for the
// run log alone.
void WriteProductValue(HKEY productKey, const wchar_t* name, const tmk_String& old,
                       const tmk_String& text) {
  LONG status = SetRegistryText(productKey, name, text);
  if (status == ERROR_SUCCESS) {
    LogLine(L"registry value %s written: \"%s\" (was \"%s\")", name, text.Text(), old.Text());
  } else {
    LogFailureOf(static_cast<DWORD>(status), L"writing registry value %s as \"%s\" failed", name,
                 text.Text());
  }
}

// The product switch of the linked AutoCAD when the registry has none yet
// (empty or "0") and the product code is long enough to look up; it is
// stored in the product key, also when the code is unknown and the switch
// therefore empty.
void DeriveProductSwitch(UpdateContext& context, HKEY productKey) {
  if (!context.LinkedAcadProduct.IsEmpty() && !IsPlaceholder(context.LinkedAcadProduct)) return;
  if (LengthOf(context.LinkedAcadId) <= kLongestIgnoredCode) return;
  tmk_String old(context.LinkedAcadProduct);
  GetProductSwitch(context.LinkedAcadId, context.LinkedAcadProduct);
  WriteProductValue(productKey, L"Linked_ACAD_Product", old, context.LinkedAcadProduct);
}

void ShowProgramPathMessage() {
  LogLine(L"the program folder holds no VC_BaseSBCS_RD.dll");
  ShowMessage(GetForegroundWindow(),
              L"The VESKARO program path cannot be determined. Please contact your "
              L"administrator or the VESKARO hotline.",
              L"Error", MB_OK);
}

// Works on the product key when it can be opened for writing: the root
// folder, the folders taken from the settings file, the product switch.
// A key that can't be opened is passed over and leaves the context as it
// is. False when the program folder could not be verified (the user has
// been told; nothing has been written).
bool UpdateProductKey(UpdateContext& context, const tmk_String& settingsRoot,
                      bool settingsRootUnfilled, const FilledFolders& filled) {
  vskr::UniqueHkey key;
  LONG opened = OpenMachineKey(kProductKey, KEY_WRITE, key);
  if (opened != ERROR_SUCCESS) {
    LogFailure(L"opening the product key for writing", kProductKey, static_cast<DWORD>(opened));
    return true;
  }
  if (!SettleRootFolder(context, settingsRoot, settingsRootUnfilled)) {
    key.Reset();
    ShowProgramPathMessage();
    return false;
  }
  // The registry had none of the two folders that are filled here.
  if (filled.database)
    WriteProductValue(key.Get(), L"DATABASE_PATH", tmk_String(), context.DatabasePath);
  if (filled.project)
    WriteProductValue(key.Get(), L"PROJECT_PATH", tmk_String(), context.ProjectPath);
  DeriveProductSwitch(context, key.Get());
  return true;
}

// Puts the product switch in place of the trailing "0" of one launch
// argument. Only the last character counts ("x 10" becomes "x 1" and the
// switch). A value that fills the whole read buffer may have been cut by
// the read; it is left alone, as writing it back would lose its end.
void CompleteLaunchArgument(const tmk_String& settingsFile, const wchar_t* section,
                            const wchar_t* key, const tmk_String& productSwitch) {
  tmk_String argument;
  DWORD units = ReadSettingsText(settingsFile, section, key, argument);
  if (units == 0 || units >= kSettingsValueUnits - 1) return;
  if (!IsPlaceholder(Right(argument, 1))) return;
  tmk_String completed = Left(argument, static_cast<int>(LengthOf(argument)) - 1);
  completed.Append(productSwitch.Text());
  // Passed over: the run log tells a failed write, and the update goes on.
  (void)WriteSettingsText(settingsFile, section, key, completed);
}

}  // namespace

bool IsProgramFolder(tmk_String folder) {
  tmk_String marker = Concatenate(folder, kProgramFolderMarker);
  struct _wfinddata64i32_t entry;
  vskr::UniqueCrtFind search(_wfindfirst64i32(marker.Text(), &entry));
  return search.IsValid();
}

int WriteWorkstationSettings(UpdateContext& context) {
  // An unknown common application data folder leaves the path empty: the
  // settings file then reads as missing and is not written.
  tmk_String settingsFile = SettingsFileLocation();

  tmk_String settingsRoot;
  // The count is not needed: an empty text and a missing key mean the same.
  (void)ReadSettingsText(settingsFile, kSettingsSection, L"PHI_ROOTPATH", settingsRoot);
  // Decided from the file as it is now, before anything is written.
  bool settingsRootUnfilled = settingsRoot.IsEmpty() || IsPlaceholder(settingsRoot);

  FilledFolders filled = FillFoldersFromComputerSection(context, settingsFile);
  if (!UpdateProductKey(context, settingsRoot, settingsRootUnfilled, filled)) {
    return 1;
  }

  if (settingsRootUnfilled) {
    (void)WriteSettingsText(settingsFile, kSettingsSection, L"PHI_ROOTPATH", context.RootPath);
  }

  if (LengthOf(context.LinkedAcadProduct) < kShortestProductSwitch) return 0;
  CompleteLaunchArgument(settingsFile, kSettingsSection, L"PHI_DWGEDITORARGUMENT",
                         context.LinkedAcadProduct);
  for (const wchar_t* section : kApplicationSections) {
    CompleteLaunchArgument(settingsFile, section, L"APP_ACADARGUMENT", context.LinkedAcadProduct);
  }
  return 0;
}

