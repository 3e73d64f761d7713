// SHA-256 digests: on the processor's SHA extensions where it has them and
// they give the system's results (checked once, on a test message of
// several blocks), else from the system's BCrypt (bcrypt.dll, loaded from
// the system folder on first use, not imported).
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

using Sha256Digest = std::array<BYTE, 32>;

// One digest being computed. Safe to use on any thread; each object on one
// thread at a time.
class Sha256 {
 public:
  Sha256() = default;
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  // Starts a digest (any earlier one is dropped). Returns 0 or the system's
  // error (of loading bcrypt.dll or of the hash object).
  [[nodiscard]] DWORD Begin();
  // Adds `size` bytes. Returns 0 or the system's error.
  [[nodiscard]] DWORD Add(const void* data, size_t size);
  // Ends the digest and writes it to `digest`. Returns 0 or the system's
  // error.
  [[nodiscard]] DWORD Finish(Sha256Digest& digest);

 private:
  // A digest computed here, on the processor's instructions.
  struct Own {
    uint32_t state[8];
    unsigned char pending[64];
    size_t pendingSize;
    uint64_t total;
  };
  static void OwnBegin(Own& own);
  static void OwnAdd(Own& own, const unsigned char* data, size_t size);
  static void OwnFinish(Own& own, Sha256Digest& digest);
  // Whether the processor's instructions are used (decided once).
  static bool UseOwnInstructions();

  void* hash_ = nullptr;  // BCRYPT_HASH_HANDLE, when the system hashes
  bool useOwn_ = false;
  Own own_ = {};
};

// The digest of `size` bytes at `data`. Returns 0 or the system's error.
[[nodiscard]] DWORD Sha256Of(const void* data, size_t size, Sha256Digest& digest);

// The digest as 64 lower-case hexadecimal digits, as sha256sum writes it.
std::wstring DigestText(const Sha256Digest& digest);
