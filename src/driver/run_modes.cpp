#include "driver/run_modes.h"

#include <windows.h>

#include <cwchar>
#include <vector>

#include "driver/installer_discovery.h"
#include "settings/update_context.h"

const wchar_t kPackageModeSwitch[] = L"INSTALL_FROM_ZIP";

namespace {

// Shorter installer paths than this count as no installer found.
constexpr size_t kShortestInstallerPath = 10;

tmk_String OwnModulePath() {
  std::vector<wchar_t> buffer(2048, 0);
  DWORD length = GetModuleFileNameW(GetModuleHandleW(nullptr), buffer.data(), 2048);
  if (length >= 2048) length = 2047;  // truncated: keep what fits
  buffer[length] = 0;
  return tmk_String(buffer.data());
}

// The text before the last backslash; empty when there is none.
tmk_String FolderOf(const tmk_String& path) {
  const wchar_t* last = std::wcsrchr(path.Text(), L'\\');
  return Left(path, last ? static_cast<int>(last - path.Text()) : -1);
}

void RunPackageMode(UpdateContext& context, const tmk_String& updaterFolder) {
  context.ReadProductSettings();
  context.InstallPackage(updaterFolder);
}

void ShowNoInstallerMessage() {
  MessageBoxW(nullptr, L"No update file found.", L"QIRO Update", MB_OK | MB_ICONERROR);
}

void RunUpdateMode(UpdateContext& /*context*/, const tmk_String& /*commandLine*/,
                   const tmk_String& updaterFolder) {
  tmk_String installerPath;
  tmk_String installerFileName;
  FindInstaller(installerPath, installerFileName, updaterFolder);
  if (std::wcslen(installerPath.Text()) < kShortestInstallerPath) {
    ShowNoInstallerMessage();
    return;
  }
}

}  // namespace

bool IsPackageMode(const tmk_String& commandLine) {
  return std::wcsstr(commandLine.Text(), kPackageModeSwitch) != nullptr;
}

void RunUpdater(const wchar_t* commandLineText) {
  tmk_String commandLine(commandLineText);
  tmk_String ownPath = OwnModulePath();
  UpdateContext context;
  tmk_String updaterFolder = FolderOf(ownPath);
  if (IsPackageMode(commandLine)) {
    RunPackageMode(context, updaterFolder);
  } else {
    RunUpdateMode(context, commandLine, updaterFolder);
  }
}
