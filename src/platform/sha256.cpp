#include "platform/sha256.h"

#include <bcrypt.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/sha256_instructions.h"
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

const uint32_t kInitialState[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

// The system's digest of `size` bytes, in one piece.
DWORD SystemDigest(const void* data, ULONG size, Sha256Digest& digest) {
  const SystemHash& system = Hashing();
  if (system.error != ERROR_SUCCESS) return system.error;
  BCRYPT_HASH_HANDLE hash = nullptr;
  DWORD error =
      ErrorOf(system, system.createHash(system.algorithm, &hash, nullptr, 0, nullptr, 0, 0));
  if (error != ERROR_SUCCESS) return error;
  error = ErrorOf(system, system.hashData(hash, static_cast<UCHAR*>(const_cast<void*>(data)),
                                          size, 0));
  if (error == ERROR_SUCCESS)
    error = ErrorOf(system, system.finishHash(hash, digest.data(),
                                              static_cast<ULONG>(digest.size()), 0));
  system.destroyHash(hash);
  return error;
}

}  // namespace

void Sha256::OwnBegin(Own& own) {
  std::memcpy(own.state, kInitialState, sizeof kInitialState);
  own.pendingSize = 0;
  own.total = 0;
}

void Sha256::OwnAdd(Own& own, const unsigned char* data, size_t size) {
  own.total += size;
  if (own.pendingSize > 0) {
    size_t part = std::min(size, sizeof own.pending - own.pendingSize);
    std::memcpy(own.pending + own.pendingSize, data, part);
    own.pendingSize += part;
    data += part;
    size -= part;
    if (own.pendingSize < sizeof own.pending) return;
    Sha256Blocks(own.state, own.pending, 1);
    own.pendingSize = 0;
  }
  if (size >= 64) Sha256Blocks(own.state, data, size / 64);
  std::memcpy(own.pending, data + size / 64 * 64, size % 64);
  own.pendingSize = size % 64;
}

void Sha256::OwnFinish(Own& own, Sha256Digest& digest) {
  // The padding: one 0x80 byte, zeros up to 56 bytes of a block, the
  // message's length in bits, big-endian.
  const uint64_t bits = own.total * 8;
  unsigned char tail[128] = {0x80};
  size_t length = own.pendingSize < 56 ? 64 - own.pendingSize : 128 - own.pendingSize;
  for (int i = 0; i < 8; ++i) tail[length - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
  OwnAdd(own, tail, length);
  for (size_t i = 0; i < 8; ++i)
    for (size_t k = 0; k < 4; ++k)
      digest[4 * i + k] = static_cast<BYTE>(own.state[i] >> (24 - 8 * k));
}

bool Sha256::UseOwnInstructions() {
  static const bool use = [] {
    if (!ProcessorHasShaInstructions()) return false;
    unsigned char message[200];
    for (size_t i = 0; i < sizeof message; ++i) message[i] = static_cast<unsigned char>(i * 7 + 3);
    Sha256Digest system{}, computed{};
    if (SystemDigest(message, sizeof message, system) != ERROR_SUCCESS) return false;
    Own own;
    OwnBegin(own);
    OwnAdd(own, message, 3);  // in pieces, across the blocks' bounds
    OwnAdd(own, message + 3, 100);
    OwnAdd(own, message + 103, sizeof message - 103);
    OwnFinish(own, computed);
    return computed == system;
  }();
  return use;
}

Sha256::~Sha256() {
  if (hash_) Hashing().destroyHash(hash_);
}

DWORD Sha256::Begin() {
  useOwn_ = UseOwnInstructions();
  if (useOwn_) {
    OwnBegin(own_);
    return ERROR_SUCCESS;
  }
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
  if (useOwn_) {
    OwnAdd(own_, static_cast<const unsigned char*>(data), size);
    return ERROR_SUCCESS;
  }
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
  if (useOwn_) {
    OwnFinish(own_, digest);
    useOwn_ = false;
    return ERROR_SUCCESS;
  }
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
