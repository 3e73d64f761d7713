// The updater's own Authenticode signature, by which package mode judges the
// package's list, examined on a thread of its own from the run's first
// moment: the system's first verification in a process costs hundreds of
// milliseconds under Wine (its libraries and the machine's root
// certificates), and the run takes its lock, looks at earlier runs and
// reads the package's list meanwhile.
#pragma once

#include <windows.h>

#include <thread>

#include "platform/signature.h"

enum class OwnSigning {
  Valid,   // a signature that verifies, with its signer
  Absent,  // no signature (a build of its own)
  Broken   // a signature that does not verify, or whose signer can't be read
};

struct OwnSignature {
  OwnSigning signing = OwnSigning::Broken;
  LONG result = 0;              // the verification's result
  SignerSubject signer;         // when it was read
  DWORD signerError = 0;        // of reading the signer, when that failed
};

// Starts the examination when made; nothing is logged from its thread. The
// thread is joined at the latest when the object goes.
class OwnSignatureCheck {
 public:
  OwnSignatureCheck();
  ~OwnSignatureCheck();
  OwnSignatureCheck(const OwnSignatureCheck&) = delete;
  OwnSignatureCheck& operator=(const OwnSignatureCheck&) = delete;

  // Waits until the examination is done and gives its outcome.
  const OwnSignature& Outcome();

 private:
  OwnSignature outcome_;
  std::thread thread_;
};
