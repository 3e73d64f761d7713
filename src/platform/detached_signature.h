// Detached PKCS#7 signatures (DER SignedData without its content), as the
// vendor's build makes them for a file of its own (signtool's /p7ce
// DetachedSignedData, or openssl cms -sign -binary -outform DER): verified
// with the system's crypt32.dll, loaded from the system folder on first use.
#pragma once

#include <windows.h>

#include <string>

#include "platform/signature.h"

// Verifies `signature` over `content`, with the first signer of the
// signature:
// - the signature verifies with the signer's certificate (crypt32);
// - the signer used SHA-256, and the messageDigest of its signed attributes
//   equals the SHA-256 of `content`, compared here (some crypt32
//   implementations verify the attributes' signature without comparing the
//   digest they carry with the content);
// - the signer's certificate is trusted as the signer of code, as the system
//   judges a program file's signer (VerifySignerCertificate).
// Sets `signer` to the signer certificate's subject whenever it was read,
// also when the verification then fails. Returns 0, or the system's error:
// of the signature (e.g. NTE_BAD_SIGNATURE, CRYPT_E_ASN1_BADTAG for what is
// no signature), CRYPT_E_HASH_VALUE for a digest that is not the content's,
// CRYPT_E_UNKNOWN_ALGO for another digest algorithm, the certificate's
// (e.g. CERT_E_UNTRUSTEDROOT), or of loading the system's DLLs.
[[nodiscard]] DWORD VerifyDetachedSignature(const std::string& content,
                                            const std::string& signature, SignerSubject& signer);
