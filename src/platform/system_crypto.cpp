#include "platform/system_crypto.h"

#include "platform/system_library.h"

namespace {

SystemCrypto LoadSystemCrypto() {
  SystemCrypto crypto;
  HMODULE wintrust = LoadSystemLibrary(L"wintrust.dll");
  HMODULE crypt32 = LoadSystemLibrary(L"crypt32.dll");
  bool complete =
      ResolveExport(wintrust, "WinVerifyTrust", crypto.verifyTrust) &&
      ResolveExport(crypt32, "CryptQueryObject", crypto.queryObject) &&
      ResolveExport(crypt32, "CryptVerifyDetachedMessageSignature", crypto.verifyDetached) &&
      ResolveExport(crypt32, "CryptMsgOpenToDecode", crypto.openToDecode) &&
      ResolveExport(crypt32, "CryptMsgUpdate", crypto.updateMessage) &&
      ResolveExport(crypt32, "CryptMsgGetParam", crypto.messageParameter) &&
      ResolveExport(crypt32, "CryptMsgClose", crypto.closeMessage) &&
      ResolveExport(crypt32, "CertFindCertificateInStore", crypto.findCertificate) &&
      ResolveExport(crypt32, "CertFreeCertificateContext", crypto.freeCertificate) &&
      ResolveExport(crypt32, "CertCloseStore", crypto.closeStore) &&
      ResolveExport(crypt32, "CertNameToStrW", crypto.nameToText);
  DWORD error = GetLastError();
  if (!complete) crypto.error = error != ERROR_SUCCESS ? error : ERROR_PROC_NOT_FOUND;
  return crypto;
}

}  // namespace

const SystemCrypto& Crypto() {
  static const SystemCrypto crypto = LoadSystemCrypto();
  return crypto;
}

DWORD ReadSignerInfo(HCRYPTMSG message, std::vector<BYTE>& info) {
  DWORD size = 0;
  if (!Crypto().messageParameter(message, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size))
    return GetLastError();
  info.assign(size, 0);
  if (!Crypto().messageParameter(message, CMSG_SIGNER_INFO_PARAM, 0, info.data(), &size))
    return GetLastError();
  return ERROR_SUCCESS;
}
