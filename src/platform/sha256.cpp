#include "platform/sha256.h"

#include <bcrypt.h>

#include <climits>

#include "platform/system_library.h"

namespace {

using NtStatusToError = ULONG(WINAPI*)(NTSTATUS);

// The functions this file calls, from the system's own DLLs, and the one
// algorithm handle every digest shares (the system allows that across
// threads).
struct SystemHash {
  decltype(&BCryptOpenAlgorithmProvider) openAlgorithm = nullptr;
  decltype(&BCryptCreateHash) createHash = nullptr;
  decltype(&BCryptHashData) hashData = nullptr;
  decltype(&BCryptFinishHash) finishHash = nullptr;
  decltype(&BCryptDestroyHash) destroyHash = nullptr;
  NtStatusToError toError = nullptr;
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  DWORD error = ERROR_SUCCESS;  // of loading them
};

DWORD ErrorOf(const SystemHash& system, NTSTATUS status) {
  if (status >= 0) return ERROR_SUCCESS;
  DWORD error = system.toError ? system.toError(status) : ERROR_INVALID_FUNCTION;
  return error != ERROR_SUCCESS ? error : ERROR_INVALID_FUNCTION;
}

SystemHash LoadSystemHash() {
  SystemHash system;
  HMODULE bcrypt = LoadSystemLibrary(L"bcrypt.dll");
  // ntdll is in every process; it is never looked for elsewhere.
  (void)ResolveExport(GetModuleHandleW(L"ntdll.dll"), "RtlNtStatusToDosError", system.toError);
  bool complete = ResolveExport(bcrypt, "BCryptOpenAlgorithmProvider", system.openAlgorithm) &&
                  ResolveExport(bcrypt, "BCryptCreateHash", system.createHash) &&
                  ResolveExport(bcrypt, "BCryptHashData", system.hashData) &&
                  ResolveExport(bcrypt, "BCryptFinishHash", system.finishHash) &&
                  ResolveExport(bcrypt, "BCryptDestroyHash", system.destroyHash);
  if (!complete) {
    DWORD error = GetLastError();
    system.error = error != ERROR_SUCCESS ? error : ERROR_PROC_NOT_FOUND;
    return system;
  }
  system.error =
      ErrorOf(system, system.openAlgorithm(&system.algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0));
  return system;
}

const SystemHash& Hashing() {
  static const SystemHash system = LoadSystemHash();
  return system;
}

}  // namespace

Sha256::~Sha256() {
  if (hash_) Hashing().destroyHash(hash_);
}

DWORD Sha256::Begin() {
  const SystemHash& system = Hashing();
  if (system.error != ERROR_SUCCESS) return system.error;
  if (hash_) system.destroyHash(hash_);
  hash_ = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  DWORD error =
      ErrorOf(system, system.createHash(system.algorithm, &hash, nullptr, 0, nullptr, 0, 0));
  if (error == ERROR_SUCCESS) hash_ = hash;
  return error;
}

DWORD Sha256::Add(const void* data, size_t size) {
  if (!hash_) return ERROR_INVALID_HANDLE;
  const SystemHash& system = Hashing();
  auto* bytes = static_cast<UCHAR*>(const_cast<void*>(data));
  while (size > 0) {
    ULONG part = size > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(size);
    DWORD error = ErrorOf(system, system.hashData(hash_, bytes, part, 0));
    if (error != ERROR_SUCCESS) return error;
    bytes += part;
    size -= part;
  }
  return ERROR_SUCCESS;
}

DWORD Sha256::Finish(Sha256Digest& digest) {
  if (!hash_) return ERROR_INVALID_HANDLE;
  const SystemHash& system = Hashing();
  DWORD error = ErrorOf(
      system, system.finishHash(hash_, digest.data(), static_cast<ULONG>(digest.size()), 0));
  system.destroyHash(hash_);
  hash_ = nullptr;
  return error;
}

DWORD Sha256Of(const void* data, size_t size, Sha256Digest& digest) {
  Sha256 hash;
  DWORD error = hash.Begin();
  if (error == ERROR_SUCCESS) error = hash.Add(data, size);
  if (error == ERROR_SUCCESS) error = hash.Finish(digest);
  return error;
}

std::wstring DigestText(const Sha256Digest& digest) {
  static const wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring text;
  for (BYTE byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}
