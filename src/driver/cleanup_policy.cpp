#include "driver/cleanup_policy.h"

#include <windows.h>

#include "driver/protected_folders.h"
#include "platform/path_identity.h"
#include "platform/run_log.h"
#include "platform/system_text.h"
#include "platform/unique_handle.h"
#include "settings/update_context.h"
#include "settings/update_files.h"

namespace {

bool IsArchiveKind(CleanupEntry kind) {
  return kind == CleanupEntry::ArchiveFile || kind == CleanupEntry::ArchiveFolder;
}

bool IsFolderKind(CleanupEntry kind) {
  return kind == CleanupEntry::ArchiveFolder || kind == CleanupEntry::PackageFolder;
}

// The last part of `name`, trailing separators aside, in small letters.


// The path in comparable form and, when links lead elsewhere, the place it
// finally is; nothing for an empty or relative path.
void AddForms(std::vector<std::wstring>& forms, const std::wstring& path) {
  std::wstring comparable = ComparablePath(path);
  if (comparable.empty()) return;
  forms.push_back(comparable);
  std::wstring final = FinalComparablePath(comparable);
  if (!final.empty() && !SamePath(final, comparable)) forms.push_back(final);
}

// Where the entry at `path` finally is, links followed; empty when it can't
// be opened (the thread's last error tells why).
std::wstring FinalPathOf(const std::wstring& path) {
  vskr::UniqueFileHandle entry(CreateFileW(path.c_str(), 0,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                           nullptr));
  return entry ? FinalPathOfHandle(entry.Get()) : std::wstring();
}

bool AnySame(const std::vector<std::wstring>& forms, const std::vector<std::wstring>& others) {
  for (const std::wstring& form : forms) {
    for (const std::wstring& other : others) {
      if (SamePath(form, other)) return true;
    }
  }
  return false;
}

}  // namespace

const wchar_t* DeletionRefusal(const CleanupFacts& facts) {
  // In this order; the first rule that refuses gives the reason.
  const struct {
    bool refuses;
    const wchar_t* reason;
  } rules[] = {
      // Only what lies in the updater's folder can be the update's.
      {RelativeEntry(facts.name).empty(), L"it would lie outside the updater's folder"},
      // While a run's journal waits for it, a backup slot is the only copy
      // of the administrator's configuration.
      {IsBackupSlotName(facts.name), L"it is a backup slot of the configuration"},
      {facts.runningUpdater, L"it is the running updater"},
      // Deleting through a link would take what it points to, another
      // folder's file.
      {facts.linkOnTheWay,
       L"it or a folder on its way from the updater's folder is a link, or can't be told from one"},
      {facts.installationOrAbove, L"it is an installation folder or a folder above one"},
      // An updater started from the installation's root folder would
      // otherwise take the installation's own files for the archive's.
      {IsArchiveKind(facts.kind) && facts.inOtherInstallation,
       L"it is the archive's, in an installation folder that the updater's folder is not inside"},
      {IsFolderKind(facts.kind) && facts.protectedFolder,
       L"it is a folder that is not the update's own"},
  };
  for (const auto& rule : rules) {
    if (rule.refuses) return rule.reason;
  }
  return nullptr;
}

std::wstring RelativeEntry(std::wstring entry) {
  for (wchar_t& c : entry) {
    if (c == L'/') c = L'\\';
  }
  while (entry.compare(0, 2, L".\\") == 0) entry.erase(0, 2);
  while (!entry.empty() && entry.back() == L'\\') entry.pop_back();
  if (entry.empty() || entry[0] == L'\\' || entry.find(L':') != std::wstring::npos)
    return std::wstring();
  // Windows trims a name's trailing dots and blanks, so ".." or "docs." would
  // name another entry than the one listed.
  for (size_t start = 0; start <= entry.size();) {
    size_t end = entry.find(L'\\', start);
    if (end == std::wstring::npos) end = entry.size();
    if (end == start || entry[end - 1] == L'.' || entry[end - 1] == L' ') return std::wstring();
    start = end + 1;
  }
  return entry;
}


CleanupPolicy::CleanupPolicy(const tmk_String& updaterFolder) : folder_(updaterFolder.Text()) {
  // With its backslash: "E:" alone would name the drive's current folder.
  const std::wstring withBackslash = folder_ + L"\\";
  folderFinal_ = FinalPathOf(withBackslash);
  if (folderFinal_.empty())  // then no entry is deleted: links below can't be told
    LogFailure(L"opening the updater's folder to tell the links in it", withBackslash.c_str(),
               GetLastError());
  AddForms(updaterForms_, withBackslash);
  for (const wchar_t* name : {L"ROOTPATH", L"EXECUTABLEPATH", L"DATA_PATH", L"WORK_PATH"})
    AddForms(installationForms_, ReadProductValue(name).Text());
  AddForms(ownProgramForms_, vskr::OwnModulePath());
}

std::wstring CleanupPolicy::PathOf(const std::wstring& relative) const {
  return folder_ + L"\\" + relative;
}

std::wstring CleanupPolicy::OwnPathOf(const std::wstring& relative) const {
  return folderFinal_.empty() ? std::wstring() : folderFinal_ + L"\\" + relative;
}

// Looks at each part of `relative` from the one at `firstPart` down to the
// entry itself. What is not there is deleted by nobody, so the look ends
// there.
bool CleanupPolicy::LinkOnTheWay(const std::wstring& relative, size_t firstPart) const {
  if (folderFinal_.empty()) return true;
  for (size_t end = relative.find(L'\\', firstPart);; end = relative.find(L'\\', end + 1)) {
    const std::wstring part = relative.substr(0, end);
    const std::wstring path = PathOf(part);
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return !IsMissingError(GetLastError());
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
    // Some systems show a link to a file as an ordinary file; where it
    // leads still tells.
    if (!SamePath(FinalPathOf(path), OwnPathOf(part))) return true;
    if (end == std::wstring::npos) return false;
  }
}

bool CleanupPolicy::HoldsUpdaterFolderBelow(const std::wstring& installation) const {
  for (const std::wstring& updater : updaterForms_) {
    if (IsSameOrAbove(installation, updater) && !SamePath(installation, updater)) return true;
  }
  return false;
}

CleanupFacts CleanupPolicy::FactsOf(const std::wstring& name, CleanupEntry kind) const {
  CleanupFacts facts;
  facts.kind = kind;
  facts.name = name;
  const std::wstring relative = RelativeEntry(name);
  if (relative.empty()) return facts;
  // Of package content only the entry itself: the walk judged its folders
  // on the way down. (npos + 1 is 0: no folder above it.)
  const size_t firstPart =
      kind == CleanupEntry::PackageContent ? relative.find_last_of(L'\\') + 1 : 0;
  facts.linkOnTheWay = LinkOnTheWay(relative, firstPart);
  std::vector<std::wstring> forms;
  AddForms(forms, PathOf(relative));
  facts.runningUpdater = AnySame(forms, ownProgramForms_);
  for (const std::wstring& installation : installationForms_) {
    for (const std::wstring& form : forms) {
      facts.installationOrAbove |= IsSameOrAbove(form, installation);
      facts.inOtherInstallation |=
          IsSameOrAbove(installation, form) && !HoldsUpdaterFolderBelow(installation);
    }
  }
  if (IsFolderKind(kind))
    facts.protectedFolder = !MayRemoveFolderWhole(tmk_String(PathOf(relative).c_str()));
  return facts;
}

bool CleanupPolicy::MayDelete(const std::wstring& name, CleanupEntry kind) const {
  const wchar_t* refusal = DeletionRefusal(FactsOf(name, kind));
  if (!refusal) return true;
  const std::wstring relative = RelativeEntry(name);
  LogLine(L"not removed, %s: \"%s\"", refusal,
          relative.empty() ? name.c_str() : PathOf(relative).c_str());
  return false;
}
