#include "package/own_signature_check.h"

#include <string>

#include "platform/system_text.h"

namespace {

// The codes by which the verification says a file carries no signature.
bool MeansNoSignature(DWORD code) {
  return code == static_cast<DWORD>(TRUST_E_NOSIGNATURE) ||
         code == static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN) ||
         code == static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN);
}

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
