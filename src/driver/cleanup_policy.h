// What the clean-up after a failed installer start may delete in the
// updater's folder. Every entry it meets is judged by one set of rules
// (DeletionRefusal); the run log tells each refusal with its reason.
#pragma once

#include <string>
#include <vector>

#include "text/tmk_string.h"

// The entries the clean-up meets in the updater's folder.
enum class CleanupEntry {
  ArchiveFile,     // a file the data archive lists
  ArchiveFolder,   // a folder of the archive's entries, removed only when empty
  Installer,       // the installer that could not be started
  FixedInstaller,  // the installer file under its fixed name (kFixedInstaller)
  DataArchive,     // the data archive (kDataArchive, kDataArchiveCapitals)
  PackageFolder,   // the package folder (kPackageFolder), removed with what it holds
  PackageContent,  // an entry inside the package folder, met while it is removed
};

// What the rules go by, for one entry. The flags are found out by
// CleanupPolicy::FactsOf; they stay false for a name that leads elsewhere.
struct CleanupFacts {
  CleanupEntry kind = CleanupEntry::ArchiveFile;
  // Below the updater's folder, as listed or known ("docs/readme.txt").
  std::wstring name;
  // The entry, or a folder between it and the updater's folder, is a link
  // (to a folder or to a file), or that can't be told.
  bool linkOnTheWay = false;
  // The entry is the running updater's program file.
  bool runningUpdater = false;
  // The entry is an installation folder (the product key's ROOTPATH,
  // EXECUTABLEPATH, DATA_PATH, WORK_PATH) or a folder above one.
  bool installationOrAbove = false;
  // The entry lies inside an installation folder that the updater's folder
  // is not inside as well.
  bool inOtherInstallation = false;
  // A folder that MayRemoveFolderWhole refuses (a root, a well-known or
  // profile folder); found out for the folder kinds only.
  bool protectedFolder = false;
};

// Null when the entry may be deleted; otherwise why it stays, a text for
// the run log ("it is ..."). Looks at `facts` alone.
const wchar_t* DeletionRefusal(const CleanupFacts& facts);

// An archive entry as a path below the updater's folder, with backslashes,
// without a leading ".\" or trailing separators ("docs\readme.txt"). Empty
// for one that would lead elsewhere or that Windows would read as another
// name: "..", ".", an empty part, a part ending in a dot or a blank, a drive
// letter, an absolute, "\\?\" or UNC path, an alternate data stream
// ("name:stream").
std::wstring RelativeEntry(std::wstring entry);


// The places the rules stand on, read once for a clean-up: the updater's
// folder as given and as it finally is, the installation folders of the
// product key, the running updater's file.
class CleanupPolicy {
 public:
  // `updaterFolder`: the folder the updater runs from, without a trailing
  // backslash ("E:" for a drive's root).
  explicit CleanupPolicy(const tmk_String& updaterFolder);

  // The folder and `relative` (a result of RelativeEntry).
  std::wstring PathOf(const std::wstring& relative) const;
  // Where the entry `relative` lies when no link is on its way: the
  // updater's folder as it finally is, and `relative`. A handle on the
  // entry itself shows this path; empty when the folder can't be opened.
  std::wstring OwnPathOf(const std::wstring& relative) const;

  // Finds out the facts of the entry `name` of kind `kind`. For package
  // content only the entry itself is looked at for links: the folders above
  // it were judged on the way down.
  CleanupFacts FactsOf(const std::wstring& name, CleanupEntry kind) const;
  // DeletionRefusal of the entry's facts; a refusal is logged with the
  // reason and the entry's path.
  bool MayDelete(const std::wstring& name, CleanupEntry kind) const;

 private:
  bool LinkOnTheWay(const std::wstring& relative, size_t firstPart) const;
  // True when the updater's folder lies below the installation folder
  // `installation` (comparable form), not the folder itself.
  bool HoldsUpdaterFolderBelow(const std::wstring& installation) const;

  std::wstring folder_;
  std::wstring folderFinal_;
  std::vector<std::wstring> updaterForms_;
  std::vector<std::wstring> installationForms_;
  std::vector<std::wstring> ownProgramForms_;
};
