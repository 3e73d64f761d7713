#include "package/own_signature_check.h"

#include <string>

#include "platform/system_text.h"

namespace {

OwnSignature Examine() {
  OwnSignature own;
  const std::wstring path = vskr::OwnModulePath();
  if (CarriesNoCertificateTable(path, nullptr)) {
    own.signing = OwnSigning::Absent;
    own.result = TRUST_E_NOSIGNATURE;
    return own;
  }
  DWORD lastError = 0;
  own.result = VerifyFileSignature(path, nullptr, lastError);
  const DWORD result = static_cast<DWORD>(own.result);
  if (MeansNoSignature(result) && MeansNoSignature(lastError)) {
    own.signing = OwnSigning::Absent;
  } else if (result == ERROR_SUCCESS) {
    own.signerError = ReadSignerSubject(path, own.signer);
    own.signing = own.signerError == ERROR_SUCCESS ? OwnSigning::Valid : OwnSigning::Broken;
  }
  return own;
}

}  // namespace

OwnSignatureCheck::OwnSignatureCheck() : thread_([this] { outcome_ = Examine(); }) {}

OwnSignatureCheck::~OwnSignatureCheck() {
  if (thread_.joinable()) thread_.join();
}

const OwnSignature& OwnSignatureCheck::Outcome() {
  if (thread_.joinable()) thread_.join();
  return outcome_;
}
