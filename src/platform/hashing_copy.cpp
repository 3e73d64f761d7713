#include "platform/hashing_copy.h"

#include <algorithm>
#include <vector>

#include "platform/unique_handle.h"

namespace {

// Attributes a new file may be created with; read-only is left off.
constexpr DWORD kCarriedAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                     FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// The most read at once; a smaller file gets a buffer of its own size.
constexpr DWORD kLargestRead = 1024 * 1024;

// Copies the content from `from` to `to`, hashing what is written when
// `hash` is not null.
DWORD CopyContent(HANDLE from, HANDLE to, unsigned long long size, Sha256* hash) {
  std::vector<char> buffer(static_cast<size_t>(
      std::max<unsigned long long>(4096, std::min<unsigned long long>(size + 1, kLargestRead))));
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(from, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
      return GetLastError();
    if (read == 0) return ERROR_SUCCESS;
    DWORD written = 0;
    if (!WriteFile(to, buffer.data(), read, &written, nullptr)) return GetLastError();
    if (written != read) return ERROR_WRITE_FAULT;
    if (hash) {
      DWORD error = hash->Add(buffer.data(), read);
      if (error != ERROR_SUCCESS) return error;
    }
  }
}

}  // namespace

DWORD CopyNewFile(const std::wstring& source, const std::wstring& target, Sha256Digest* digest) {
  vskr::UniqueFileHandle from(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!from) return GetLastError();
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(from.Get(), &info)) return GetLastError();
  DWORD attributes = info.dwFileAttributes & kCarriedAttributes;
  vskr::UniqueFileHandle to(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        attributes ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!to) return GetLastError();
  Sha256 hash;
  DWORD error = digest ? hash.Begin() : ERROR_SUCCESS;
  const unsigned long long size =
      (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (error == ERROR_SUCCESS)
    error = CopyContent(from.Get(), to.Get(), size, digest ? &hash : nullptr);
  if (error == ERROR_SUCCESS && !SetFileTime(to.Get(), nullptr, nullptr, &info.ftLastWriteTime))
    error = GetLastError();
  if (error == ERROR_SUCCESS && digest) error = hash.Finish(*digest);
  to.Reset();
  // What a failed copy left is removed; a failure to remove it is left to
  // the caller's undo, which takes away whatever lies at the target.
  if (error != ERROR_SUCCESS) (void)DeleteFileW(target.c_str());
  return error;
}
