#include "platform/signature.h"

#include <cstddef>

#include "platform/system_crypto.h"
#include "platform/unique_handle.h"

namespace {

std::wstring NameText(const CERT_NAME_BLOB& name) {
  if (Crypto().error != ERROR_SUCCESS) return std::wstring();
  auto* blob = const_cast<CERT_NAME_BLOB*>(&name);
  DWORD units = Crypto().nameToText(X509_ASN_ENCODING, blob, CERT_X500_NAME_STR, nullptr, 0);
  if (units <= 1) return std::wstring();
  std::wstring text(units, L'\0');
  units = Crypto().nameToText(X509_ASN_ENCODING, blob, CERT_X500_NAME_STR, &text[0], units);
  text.resize(units > 0 ? units - 1 : 0);
  return text;
}

// Runs WinVerifyTrust's `action` on what `data` names (its union already
// set) without any user interface and without fetching anything from the
// network: revocation only as far as the machine's policy asks, from what
// the system has cached (workstations are often offline). `lastError`, when
// not null, receives the thread's error after the verification.
LONG VerifyTrust(const SystemCrypto& crypto, GUID action, WINTRUST_DATA& data, DWORD* lastError) {
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  // No window: nobody is asked anything.
  HWND noUser = reinterpret_cast<HWND>(INVALID_HANDLE_VALUE);
  LONG result = crypto.verifyTrust(noUser, &action, &data);
  if (lastError) *lastError = GetLastError();
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  // Frees what the verification kept; its result tells nothing more.
  (void)crypto.verifyTrust(noUser, &action, &data);
  return result;
}

}  // namespace

bool MeansNoSignature(DWORD code) {
  return code == static_cast<DWORD>(TRUST_E_NOSIGNATURE) ||
         code == static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN) ||
         code == static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN);
}

LONG VerifyFileSignature(const std::wstring& path, HANDLE file, DWORD& lastError) {
  const SystemCrypto& crypto = Crypto();
  if (crypto.error != ERROR_SUCCESS) {
    lastError = crypto.error;
    return static_cast<LONG>(crypto.error);
  }
  WINTRUST_FILE_INFO fileInfo{};
  fileInfo.cbStruct = sizeof fileInfo;
  fileInfo.pcwszFilePath = path.c_str();
  fileInfo.hFile = file;
  WINTRUST_DATA data{};
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  return VerifyTrust(crypto, WINTRUST_ACTION_GENERIC_VERIFY_V2, data, &lastError);
}

LONG VerifySignerCertificate(PCCERT_CONTEXT certificate, HCERTSTORE extra) {
  const SystemCrypto& crypto = Crypto();
  if (crypto.error != ERROR_SUCCESS) return static_cast<LONG>(crypto.error);
  WINTRUST_CERT_INFO certificateInfo{};
  certificateInfo.cbStruct = sizeof certificateInfo;
  certificateInfo.psCertContext = const_cast<CERT_CONTEXT*>(certificate);
  certificateInfo.chStores = extra ? 1 : 0;
  certificateInfo.pahStores = extra ? &extra : nullptr;
  WINTRUST_DATA data{};
  data.dwUnionChoice = WTD_CHOICE_CERT;
  data.pCert = &certificateInfo;
  return VerifyTrust(crypto, WINTRUST_ACTION_GENERIC_CERT_VERIFY, data, nullptr);
}

DWORD ReadSignerSubject(const std::wstring& path, SignerSubject& subject) {
  const SystemCrypto& crypto = Crypto();
  if (crypto.error != ERROR_SUCCESS) return crypto.error;
  vskr::UniqueHandle<CertStoreTraits> store;
  vskr::UniqueHandle<CryptMessageTraits> message;
  DWORD encoding = 0, content = 0, format = 0;
  if (!crypto.queryObject(CERT_QUERY_OBJECT_FILE, path.c_str(),
                          CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY,
                          0, &encoding, &content, &format, store.Put(), message.Put(), nullptr))
    return GetLastError();
  std::vector<BYTE> info;
  DWORD read = ReadSignerInfo(message.Get(), info);
  if (read != ERROR_SUCCESS) return read;
  const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(info.data());
  CERT_INFO wanted{};
  wanted.Issuer = signer->Issuer;
  wanted.SerialNumber = signer->SerialNumber;
  vskr::UniqueHandle<CertificateTraits> certificate(
      crypto.findCertificate(store.Get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                             CERT_FIND_SUBJECT_CERT, &wanted, nullptr));
  if (!certificate) return GetLastError();
  DescribeSigner(certificate.Get()->pCertInfo->Subject, subject);
  return ERROR_SUCCESS;
}

void DescribeSigner(const CERT_NAME_BLOB& name, SignerSubject& subject) {
  subject.encoded.assign(name.pbData, name.pbData + name.cbData);
  subject.text = NameText(name);
}

namespace {

// Reads `bytes` at `offset` of an open file; false when they are not all there.
bool ReadAt(HANDLE file, LONGLONG offset, void* buffer, DWORD bytes) {
  LARGE_INTEGER at;
  at.QuadPart = offset;
  DWORD got = 0;
  return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
         ReadFile(file, buffer, bytes, &got, nullptr) && got == bytes;
}

// The size of the certificate table of the image `file`; false when it is
// no program image.
bool CertificateTableSize(HANDLE file, DWORD& size) {
  IMAGE_DOS_HEADER dos;
  if (!ReadAt(file, 0, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) return false;
  DWORD signature = 0;
  IMAGE_FILE_HEADER header;
  WORD magic = 0;
  const LONGLONG nt = dos.e_lfanew;
  const LONGLONG optional = nt + sizeof signature + sizeof header;
  if (!ReadAt(file, nt, &signature, sizeof signature) || signature != IMAGE_NT_SIGNATURE ||
      !ReadAt(file, nt + sizeof signature, &header, sizeof header) ||
      !ReadAt(file, optional, &magic, sizeof magic))
    return false;
  // The data directories follow the optional header's fixed part, which
  // differs between 32- and 64-bit images.
  LONGLONG directories = 0;
  DWORD count = 0;
  if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
    directories = optional + offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
    if (!ReadAt(file, optional + offsetof(IMAGE_OPTIONAL_HEADER32, NumberOfRvaAndSizes), &count,
                sizeof count))
      return false;
  } else if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
    directories = optional + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
    if (!ReadAt(file, optional + offsetof(IMAGE_OPTIONAL_HEADER64, NumberOfRvaAndSizes), &count,
                sizeof count))
      return false;
  } else {
    return false;
  }
  IMAGE_DATA_DIRECTORY table{};
  if (count > IMAGE_DIRECTORY_ENTRY_SECURITY &&
      !ReadAt(file, directories + IMAGE_DIRECTORY_ENTRY_SECURITY * sizeof table, &table,
              sizeof table))
    return false;
  size = table.Size;
  return true;
}

}  // namespace

bool CarriesNoCertificateTable(const std::wstring& path, HANDLE file) {
  vskr::UniqueFileHandle opened;
  if (file == nullptr) {
    opened.Reset(CreateFileW(path.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!opened) return false;
    file = opened.Get();
  }
  DWORD size = 0;
  bool image = CertificateTableSize(file, size);
  LARGE_INTEGER start{};
  // The handle is handed on from its start, as it came.
  (void)SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
  return image && size == 0;
}
