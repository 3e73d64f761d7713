// The names of the files an update brings into the updater's folder, in one
// place: the installer search, the unpack, package mode and the clean-up
// after a failed installer start all go by these.
#pragma once

#include <string>

// The installers the updater looks for (a file-search pattern).
constexpr wchar_t kInstallerPattern[] = L"qiro_upd*_win64.exe";
// The installer file that updates are delivered with; the clean-up removes
// it under this name too, beside the installer that was found.
constexpr wchar_t kFixedInstaller[] = L"qiro_upd240046_Win64.exe";

// The data archive that is unpacked into the updater's folder before the
// installer runs, and its name in capitals as updates deliver it as well.
constexpr wchar_t kDataArchive[] = L"vskr_update.zip";
constexpr wchar_t kDataArchiveCapitals[] = L"VSKR_UPDATE.zip";
// The system's tar, run in the updater's folder on kDataArchive: to unpack
// it, and to list what it holds.
constexpr wchar_t kUnpackArchiveCommand[] = L"tar -xf vskr_update.zip";
constexpr wchar_t kListArchiveCommand[] = L"tar -tf vskr_update.zip";

// The unpacked update package that package mode copies from; the clean-up
// removes it with everything in it.
constexpr wchar_t kPackageFolder[] = L"vskr_update";

// The suffix of a backup copy of the configuration ("<file>.upd"), which the
// run journal alone makes, restores and removes; one set aside is
// "<file>.upd.<run id>". Nothing else deletes or overwrites either.
constexpr wchar_t kBackupSuffix[] = L".upd";

// True when the last part of `name` is a backup slot of the
// administrator's configuration, whatever the letter case: a name ending in
// ".upd" (the run's backup copy, "Modules.ini.upd") or "<name>.upd.<run id>"
// (one set aside by a run, "qiro.ini.upd.20240131-235959-4711"; a run id of
// digits and hyphens that begins with a digit).
bool IsBackupSlotName(const std::wstring& name);
