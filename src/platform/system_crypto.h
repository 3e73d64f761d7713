// The system's crypt32.dll and wintrust.dll functions that the signature
// checks call, loaded from the system folder on first use (not imported:
// neither DLL is one the system always takes from its own folder, so an
// imported one would be looked for first in this elevated program's folder),
// with the handle kinds they give out and the reading of a message's signer.
#pragma once

#include <windows.h>

#include <wincrypt.h>

#include <softpub.h>
#include <wintrust.h>

#include <vector>

#include "platform/unique_handle.h"

struct SystemCrypto {
  decltype(&WinVerifyTrust) verifyTrust = nullptr;
  decltype(&CryptQueryObject) queryObject = nullptr;
  decltype(&CryptVerifyDetachedMessageSignature) verifyDetached = nullptr;
  decltype(&CryptMsgOpenToDecode) openToDecode = nullptr;
  decltype(&CryptMsgUpdate) updateMessage = nullptr;
  decltype(&CryptMsgGetParam) messageParameter = nullptr;
  decltype(&CryptMsgClose) closeMessage = nullptr;
  decltype(&CertFindCertificateInStore) findCertificate = nullptr;
  decltype(&CertFreeCertificateContext) freeCertificate = nullptr;
  decltype(&CertCloseStore) closeStore = nullptr;
  decltype(&CertNameToStrW) nameToText = nullptr;
  DWORD error = ERROR_SUCCESS;  // of loading them: the others are null then
};

// The functions, loaded once for the whole process.
const SystemCrypto& Crypto();

struct CertStoreTraits {
  using Type = HCERTSTORE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { Crypto().closeStore(h, 0); }
};

struct CryptMessageTraits {
  using Type = HCRYPTMSG;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { Crypto().closeMessage(h); }
};

struct CertificateTraits {
  using Type = PCCERT_CONTEXT;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { Crypto().freeCertificate(h); }
};

// The first signer's information (CMSG_SIGNER_INFO: issuer and serial
// number, digest algorithm, signed attributes) of a decoded `message`, into
// `info`. Returns 0 or the system's error.
[[nodiscard]] DWORD ReadSignerInfo(HCRYPTMSG message, std::vector<BYTE>& info);
