#include "platform/detached_signature.h"

#include <cstring>
#include <vector>

#include "platform/sha256.h"
#include "platform/system_crypto.h"
#include "platform/unique_handle.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

const BYTE* Bytes(const std::string& text) { return reinterpret_cast<const BYTE*>(text.data()); }

// The first signer's information (digest algorithm, signed attributes) of
// the encoded message `signature`.
DWORD ReadFirstSigner(const std::string& signature, std::vector<BYTE>& info) {
  const SystemCrypto& crypto = Crypto();
  vskr::UniqueHandle<CryptMessageTraits> message(
      crypto.openToDecode(kEncoding, CMSG_DETACHED_FLAG, 0, 0, nullptr, nullptr));
  if (!message) return GetLastError();
  if (!crypto.updateMessage(message.Get(), Bytes(signature), static_cast<DWORD>(signature.size()),
                            TRUE))
    return GetLastError();
  return ReadSignerInfo(message.Get(), info);
}

// Compares the signer's messageDigest attribute with the SHA-256 of
// `content`. Without signed attributes the signature covers the content's
// digest itself, which the signature's verification has compared.
DWORD CompareSignedDigest(const CMSG_SIGNER_INFO& signer, const std::string& content) {
  if (std::strcmp(signer.HashAlgorithm.pszObjId, szOID_NIST_sha256) != 0)
    return static_cast<DWORD>(CRYPT_E_UNKNOWN_ALGO);
  if (signer.AuthAttrs.cAttr == 0) return ERROR_SUCCESS;
  Sha256Digest digest{};
  DWORD error = Sha256Of(content.data(), content.size(), digest);
  if (error != ERROR_SUCCESS) return error;
  for (DWORD i = 0; i < signer.AuthAttrs.cAttr; ++i) {
    const CRYPT_ATTRIBUTE& attribute = signer.AuthAttrs.rgAttr[i];
    if (std::strcmp(attribute.pszObjId, szOID_PKCS_9_MESSAGE_DIGEST) != 0) continue;
    // One value: an OCTET STRING of the 32 bytes.
    if (attribute.cValue != 1) return static_cast<DWORD>(CRYPT_E_HASH_VALUE);
    const CRYPT_ATTR_BLOB& value = attribute.rgValue[0];
    bool equal = value.cbData == 2 + digest.size() && value.pbData[0] == 0x04 &&
                 value.pbData[1] == digest.size() &&
                 std::memcmp(value.pbData + 2, digest.data(), digest.size()) == 0;
    return equal ? ERROR_SUCCESS : static_cast<DWORD>(CRYPT_E_HASH_VALUE);
  }
  return static_cast<DWORD>(CRYPT_E_HASH_VALUE);  // signed attributes without the digest
}

}  // namespace

DWORD VerifyDetachedSignature(const std::string& content, const std::string& signature,
                              SignerSubject& signer) {
  const SystemCrypto& crypto = Crypto();
  if (crypto.error != ERROR_SUCCESS) return crypto.error;
  CRYPT_VERIFY_MESSAGE_PARA parameters{};
  parameters.cbSize = sizeof parameters;
  parameters.dwMsgAndCertEncodingType = kEncoding;
  const BYTE* contentBytes = Bytes(content);
  DWORD contentSize = static_cast<DWORD>(content.size());
  vskr::UniqueHandle<CertificateTraits> certificate;
  BOOL verified =
      crypto.verifyDetached(&parameters, 0, Bytes(signature), static_cast<DWORD>(signature.size()),
                            1, &contentBytes, &contentSize, certificate.Put());
  DWORD error = verified ? ERROR_SUCCESS : GetLastError();
  if (certificate) DescribeSigner(certificate.Get()->pCertInfo->Subject, signer);
  if (error != ERROR_SUCCESS) return error;
  if (!certificate) return static_cast<DWORD>(CRYPT_E_NO_SIGNER);
  std::vector<BYTE> info;
  error = ReadFirstSigner(signature, info);
  if (error != ERROR_SUCCESS) return error;
  error = CompareSignedDigest(*reinterpret_cast<const CMSG_SIGNER_INFO*>(info.data()), content);
  if (error != ERROR_SUCCESS) return error;
  return static_cast<DWORD>(
      VerifySignerCertificate(certificate.Get(), certificate.Get()->hCertStore));
}
