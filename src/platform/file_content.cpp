#include "platform/file_content.h"

#include <cstdint>
#include <string>

#include "platform/long_path.h"
#include "platform/run_log.h"
#include "platform/unique_handle.h"

namespace {

constexpr DWORD kChunkBytes = 64 * 1024;

vskr::UniqueFileHandle OpenForReading(const std::wstring& file) {
  return vskr::UniqueFileHandle(CreateFileW(ExtendedPath(file).c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                                            nullptr));
}

// Reads up to `bytes` (less only at the file's end); 0 or the error.
DWORD ReadChunk(HANDLE file, char* buffer, DWORD bytes, DWORD& got) {
  got = 0;
  while (got < bytes) {
    DWORD part = 0;
    if (!ReadFile(file, buffer + got, bytes - got, &part, nullptr)) return GetLastError();
    if (part == 0) break;
    got += part;
  }
  return ERROR_SUCCESS;
}

}  // namespace

DWORD LookForPath(const std::wstring& path, bool& there) {
  there = GetFileAttributesW(ExtendedPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  DWORD error = there ? ERROR_SUCCESS : GetLastError();
  return IsMissingError(error) ? ERROR_SUCCESS : error;
}

DWORD FileDigest(const std::wstring& file, std::wstring& digest) {
  vskr::UniqueFileHandle opened = OpenForReading(file);
  if (!opened) return GetLastError();
  uint64_t hash = 14695981039346656037ull;
  std::string chunk(kChunkBytes, '\0');
  DWORD got = 0;
  do {
    DWORD error = ReadChunk(opened.Get(), &chunk[0], kChunkBytes, got);
    if (error != ERROR_SUCCESS) return error;
    for (DWORD i = 0; i < got; ++i) {
      hash ^= static_cast<unsigned char>(chunk[i]);
      hash *= 1099511628211ull;
    }
  } while (got == kChunkBytes);
  wchar_t text[17];
  static const wchar_t kDigits[] = L"0123456789abcdef";
  for (int i = 15; i >= 0; --i, hash >>= 4) text[i] = kDigits[hash & 0xF];
  text[16] = L'\0';
  digest = text;
  return ERROR_SUCCESS;
}

void ClearReadOnly(const std::wstring& file) {
  const std::wstring extended = ExtendedPath(file);
  DWORD attributes = GetFileAttributesW(extended.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) return;
  if (!SetFileAttributesW(extended.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
    LogFailure(L"taking off the read-only attribute", file.c_str(), GetLastError());
}

DWORD CopyVerified(const std::wstring& source, const std::wstring& target,
                   const std::wstring& digest, bool replace) {
  std::wstring expected = digest;
  DWORD error = expected.empty() ? FileDigest(source, expected) : ERROR_SUCCESS;
  if (error != ERROR_SUCCESS) return error;
  const std::wstring extendedTarget = ExtendedPath(target);
  bool existed = GetFileAttributesW(extendedTarget.c_str()) != INVALID_FILE_ATTRIBUTES;
  if (replace && existed) ClearReadOnly(target);
  if (!CopyFileW(ExtendedPath(source).c_str(), extendedTarget.c_str(), replace ? FALSE : TRUE)) {
    error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) error = ERROR_FILE_EXISTS;
    // What a failed copy left of a new file is removed; a file that was
    // there is not.
    if (!existed && error != ERROR_FILE_EXISTS) (void)DeleteFileW(extendedTarget.c_str());
    return error;
  }
  std::wstring copied;
  error = FileDigest(target, copied);
  if (error == ERROR_SUCCESS && copied != expected) error = ERROR_INVALID_DATA;
  if (error != ERROR_SUCCESS && !existed) {
    ClearReadOnly(target);
    (void)DeleteFileW(extendedTarget.c_str());  // an incomplete new copy is never left behind
  }
  return error;
}

DWORD CreateFoldersOf(const std::wstring& path) {
  size_t last = path.find_last_of(L'\\');
  if (last == std::wstring::npos || last == 0) return ERROR_SUCCESS;
  std::wstring folder = path.substr(0, last);
  const std::wstring extended = ExtendedPath(folder);
  DWORD attributes = GetFileAttributesW(extended.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES)
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ERROR_SUCCESS : ERROR_DIRECTORY;
  if (folder.size() <= 3) return ERROR_PATH_NOT_FOUND;  // a drive that isn't there
  DWORD error = CreateFoldersOf(folder);
  if (error != ERROR_SUCCESS) return error;
  if (CreateDirectoryW(extended.c_str(), nullptr)) return ERROR_SUCCESS;
  error = GetLastError();
  return error == ERROR_ALREADY_EXISTS ? ERROR_SUCCESS : error;
}
