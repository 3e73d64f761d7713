// Authenticode signatures of program files as the system verifies them, and
// the publisher a signature names.
//
// The system's wintrust.dll and crypt32.dll are loaded from the system
// folder when first needed, not imported: neither is one the system always
// takes from its own folder, so an imported one would be looked for first in
// this elevated program's folder, where a download may have planted it.
#pragma once

#include <windows.h>

#include <wincrypt.h>

#include <string>
#include <vector>

// The publisher of a signed file: the subject of the certificate that signed
// it (the leaf signer). A renewed certificate of the same publisher has the
// same subject.
struct SignerSubject {
  std::vector<BYTE> encoded;  // as the certificate holds it; empty when none was read
  std::wstring text;          // "CN=..., O=...", for the run log
};

// Fills `subject` with the certificate subject `name` (its encoding and
// its text). Loads crypt32.dll from the system folder for the text; the
// text stays empty when that fails.
void DescribeSigner(const CERT_NAME_BLOB& name, SignerSubject& subject);

// Verifies the signature embedded in the file at `path` with WinVerifyTrust
// (WINTRUST_ACTION_GENERIC_VERIFY_V2) without any user interface. Nothing is
// fetched from the network: revocation is checked only as far as the
// machine's Authenticode policy asks, and only against what the system has
// cached (workstations are often offline, where fetching would wait for
// time-outs and then fail a valid file). `file`, when not null, is a handle
// of the file opened for reading, which is verified instead of the path.
// Returns the system's result: 0 for a valid signature, TRUST_E_NOSIGNATURE,
// TRUST_E_BAD_DIGEST, CERT_E_UNTRUSTEDROOT and so on, or the error of
// loading the system's DLLs. `lastError` receives the thread's error after
// the verification: with TRUST_E_NOSIGNATURE it tells a missing signature
// (TRUST_E_NOSIGNATURE, TRUST_E_SUBJECT_FORM_UNKNOWN,
// TRUST_E_PROVIDER_UNKNOWN) from one that is there but can't be read.
[[nodiscard]] LONG VerifyFileSignature(const std::wstring& path, HANDLE file, DWORD& lastError);

// True for the codes by which the verification says a file carries no
// signature (TRUST_E_NOSIGNATURE, TRUST_E_SUBJECT_FORM_UNKNOWN,
// TRUST_E_PROVIDER_UNKNOWN).
bool MeansNoSignature(DWORD code);

// True when the file at `path` (or the open `file`, read from its start) is
// a program image whose certificate table is empty: it carries no
// Authenticode signature, and VerifyFileSignature would only answer
// TRUST_E_NOSIGNATURE after loading the system's crypto libraries (tens of
// milliseconds on their first use). False when it has a certificate table
// or can't be read as an image: the verification decides then.
bool CarriesNoCertificateTable(const std::wstring& path, HANDLE file);

// Verifies the certificate `certificate` as the signer of code, with
// WinVerifyTrust (WINTRUST_ACTION_GENERIC_CERT_VERIFY): the chain to a root
// the machine trusts, its validity and usage, judged as the system judges a
// program file's signer, without any user interface and with nothing fetched
// from the network. `extra` (may be null) is a store of certificates that
// came with it (a signed message's). Returns the system's result: 0 for a
// valid one, e.g. CERT_E_UNTRUSTEDROOT, CERT_E_EXPIRED, or the error of
// loading the system's DLLs.
[[nodiscard]] LONG VerifySignerCertificate(PCCERT_CONTEXT certificate, HCERTSTORE extra);

// Reads the subject of the certificate that signed the file at `path` (its
// first signer), whether or not the signature verifies. Returns 0, or the
// system's error (CRYPT_E_NO_MATCH for a file without a signature); `subject`
// is not touched then.
[[nodiscard]] DWORD ReadSignerSubject(const std::wstring& path, SignerSubject& subject);
