#include "package/package_list.h"

#include <cwchar>
#include <cwctype>

#include "platform/run_log.h"
#include "platform/unique_handle.h"

const wchar_t kPackageListName[] = L"vskr_update.sha256";
const wchar_t kPackageListSignatureName[] = L"vskr_update.sha256.p7";

namespace {

const wchar_t kFormatHeader[] = L"# vskr-package:";
const wchar_t kVersionHeader[] = L"# version:";

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

// The names Windows gives its devices in every folder, with or without an
// extension.
bool IsDeviceName(std::wstring base) {
  while (!base.empty() && base.back() == L' ') base.pop_back();
  for (wchar_t& c : base) c = static_cast<wchar_t>(std::towupper(c));
  static const wchar_t* const kDevices[] = {L"CON",    L"PRN",     L"AUX",   L"NUL",
                                            L"CONIN$", L"CONOUT$", L"CLOCK$"};
  for (const wchar_t* device : kDevices)
    if (base == device) return true;
  return base.size() == 4 && (StartsWith(base, L"COM") || StartsWith(base, L"LPT")) &&
         base[3] >= L'0' && base[3] <= L'9';
}

const wchar_t* PartProblem(const std::wstring& part) {
  if (part.empty()) return L"an empty part";
  if (part == L"." || part == L"..") return L"a \".\" or \"..\" part";
  if (part.back() == L'.' || part.back() == L' ') return L"a part ending in a dot or a blank";
  if (IsDeviceName(part.substr(0, part.find(L'.')))) return L"a device name";
  return nullptr;
}

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// The digest from the first 64 characters of `hex`.
bool ParseDigest(const std::wstring& hex, Sha256Digest& digest) {
  if (hex.size() < 2 * digest.size()) return false;
  for (size_t i = 0; i < digest.size(); ++i) {
    int high = HexValue(hex[2 * i]), low = HexValue(hex[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    digest[i] = static_cast<BYTE>(high * 16 + low);
  }
  return true;
}

// UTF-8 to UTF-16; false for bytes that are not UTF-8.
bool FromUtf8(const std::string& bytes, std::wstring& text) {
  text.clear();
  if (bytes.empty()) return true;
  int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                  static_cast<int>(bytes.size()), nullptr, 0);
  if (units <= 0) return false;
  text.resize(units);
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                             static_cast<int>(bytes.size()), &text[0], units) == units;
}

}  // namespace

bool ParsePackageVersion(const std::wstring& text, PackageVersion& version) {
  PackageVersion parsed{};
  size_t at = 0;
  for (size_t part = 0; part < parsed.size(); ++part) {
    if (part > 0 && (at >= text.size() || text[at++] != L'.')) return false;
    size_t digits = 0;
    for (; at < text.size() && text[at] >= L'0' && text[at] <= L'9'; ++at, ++digits)
      parsed[part] = parsed[part] * 10 + (text[at] - L'0');
    if (digits == 0 || digits > 9) return false;
  }
  if (at != text.size()) return false;
  version = parsed;
  return true;
}

std::wstring PackageVersionText(const PackageVersion& version) {
  std::wstring text;
  for (size_t i = 0; i < version.size(); ++i)
    text += (i ? L"." : L"") + std::to_wstring(version[i]);
  return text;
}

const wchar_t* ListedPathProblem(const std::wstring& path) {
  if (path.empty()) return L"an empty path";
  if (path[0] == L'/') return L"an absolute path";
  if (path.size() >= 2 && path[1] == L':' && std::iswalpha(path[0])) return L"a drive letter";
  for (wchar_t c : path) {
    if (c == L':') return L"a \":\" (a stream)";
    if (c == L'\\') return L"a \"\\\"";
    if (c < 0x20 || std::wcschr(L"<>\"|?*", c)) return L"a character Windows refuses in names";
  }
  for (size_t start = 0;;) {
    size_t end = path.find(L'/', start);
    const wchar_t* problem = PartProblem(path.substr(start, end - start));
    if (problem || end == std::wstring::npos) return problem;
    start = end + 1;
  }
}

DWORD PackageList::Parse(const std::string& bytes, std::wstring& problem) {
  *this = PackageList();
  std::wstring text;
  size_t skip = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  if (!FromUtf8(bytes.substr(skip), text)) {
    problem = L"the list is not UTF-8 text";
    return ERROR_INVALID_DATA;
  }
  bool hasFormat = false;
  size_t number = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    const wchar_t* why = nullptr;
    if (line.empty()) {
      continue;
    } else if (StartsWith(line, kFormatHeader)) {
      if (hasFormat)
        why = L"the format header is there twice";
      else if (line != std::wstring(kFormatHeader) + L" 1")
        why = L"a format other than 1";
      hasFormat = true;
    } else if (StartsWith(line, kVersionHeader)) {
      if (hasVersion_)
        why = L"the version header is there twice";
      else if (line.compare(std::wcslen(kVersionHeader), 1, L" ") != 0 ||
               !ParsePackageVersion(line.substr(std::wcslen(kVersionHeader) + 1), version_))
        why = L"a version that is not four numbers a.b.c.d";
      hasVersion_ = true;
    } else if (line[0] == L'#') {
      continue;  // a comment
    } else {
      Sha256Digest digest{};
      if (line.size() < 67 || !ParseDigest(line, digest) || line[64] != L' ' ||
          (line[65] != L' ' && line[65] != L'*')) {
        why = L"not <64 hexadecimal digits><two blanks><path>";
      } else {
        std::wstring path = line.substr(66);
        why = ListedPathProblem(path);
        for (wchar_t& c : path) c = c == L'/' ? L'\\' : c;
        if (!why && !index_.emplace(path, paths_.size()).second)
          why = L"a file listed twice (letter case aside)";
        paths_.push_back(path);
        digests_.push_back(digest);
      }
    }
    if (why) {
      problem = L"line " + std::to_wstring(number) + L": " + why + L": \"" + line + L"\"";
      return ERROR_INVALID_DATA;
    }
  }
  if (!hasFormat) {
    problem = L"the header \"# vskr-package: 1\" is missing";
    return ERROR_INVALID_DATA;
  }
  return ERROR_SUCCESS;
}

bool ListedPathLess::operator()(const std::wstring& a, const std::wstring& b) const {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_LESS_THAN;
}

size_t PackageList::Find(const std::wstring& relativePath) const {
  auto found = index_.find(relativePath);
  return found == index_.end() ? paths_.size() : found->second;
}

ListedFiles::ListedFiles(const PackageList* list, const std::wstring& packageRoot)
    : list_(list), prefix_(packageRoot + L"\\"), met_(list ? list->Count() : 0, 0) {}

bool ListedFiles::Admit(const std::wstring& sourcePath, bool& verified, Sha256Digest& digest) {
  verified = false;
  if (!list_) return true;
  size_t entry = sourcePath.compare(0, prefix_.size(), prefix_) == 0
                     ? list_->Find(sourcePath.substr(prefix_.size()))
                     : list_->Count();
  if (entry == list_->Count()) {
    LogLine(L"package: \"%s\" is not on the package list: not copied", sourcePath.c_str());
    return false;
  }
  met_[entry] = 1;
  verified = true;
  digest = list_->Digest(entry);
  return true;
}

DWORD ListedFiles::FindUnmetFiles() const {
  // The unmet files by folder: each folder is read once, not each file
  // looked up (under Wine a lookup costs about as much as reading a small
  // folder).
  std::map<std::wstring, std::map<std::wstring, size_t, ListedPathLess>, ListedPathLess> folders;
  for (size_t i = 0; i < met_.size(); ++i) {
    if (met_[i]) continue;
    const std::wstring path = prefix_ + list_->Path(i);
    const size_t slash = path.rfind(L'\\');
    folders[path.substr(0, slash)].emplace(path.substr(slash + 1), i);
  }
  DWORD result = ERROR_SUCCESS;
  for (auto& [folder, names] : folders) {
    WIN32_FIND_DATAW found;
    vskr::UniqueFindHandle search(FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic,
                                                   &found, FindExSearchNameMatch, nullptr, 0));
    for (bool more = search.IsValid(); more; more = FindNextFileW(search.Get(), &found) != FALSE)
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.erase(found.cFileName);
    for (const auto& name : names) {
      LogLine(L"package: the listed file \"%s\\%s\" is not in the package", folder.c_str(),
              name.first.c_str());
      result = ERROR_FILE_NOT_FOUND;
    }
  }
  return result;
}
