#include "package/package_verification.h"

#include <string>

#include "package/package_version_record.h"
#include "platform/detached_signature.h"
#include "platform/run_log.h"
#include "platform/signature.h"
#include "platform/system_text.h"
#include "platform/unique_handle.h"

namespace {

// A list or signature larger than this is no package's.
constexpr DWORD kLargestList = 64 * 1024 * 1024;

// The updater's own signature and signer, logged.
void LogOwnSignature(const OwnSignature& own) {
  if (own.signing == OwnSigning::Absent) return;
  LogLine(L"package: the updater's own signature: verification result 0x%08lX, signer \"%s\"",
          static_cast<DWORD>(own.result), own.signer.text.c_str());
  if (own.signerError != ERROR_SUCCESS)
    LogFailure(L"reading the updater's signer certificate", vskr::OwnModulePath().c_str(),
               own.signerError);
}

// Reads a whole file of at most kLargestList bytes; `there` is false (and 0
// returned) when it is not there.
DWORD ReadWholeFile(const std::wstring& path, bool& there, std::string& bytes) {
  there = false;
  vskr::UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    DWORD error = GetLastError();
    return IsMissingError(error) ? ERROR_SUCCESS : error;
  }
  there = true;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.Get(), &size)) return GetLastError();
  if (size.QuadPart > kLargestList) return ERROR_FILE_TOO_LARGE;
  bytes.assign(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!bytes.empty() &&
      !ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr))
    return GetLastError();
  bytes.resize(read);
  return ERROR_SUCCESS;
}

DWORD Refuse(const wchar_t* why, const std::wstring& path) {
  LogLine(L"package refused, nothing is changed: %s: \"%s\"", why, path.c_str());
  return kPackageRefused;
}

// The list's signature judged against the updater's signer.
DWORD JudgeListSignature(const std::wstring& listPath, const std::string& list,
                         const SignerSubject& updater) {
  const std::wstring signaturePath =
      listPath.substr(0, listPath.rfind(L'\\') + 1) + kPackageListSignatureName;
  bool there = false;
  std::string signature;
  DWORD error = ReadWholeFile(signaturePath, there, signature);
  if (error != ERROR_SUCCESS) {
    LogFailure(L"reading the package list's signature", signaturePath.c_str(), error);
    return error;
  }
  if (!there) return Refuse(L"the updater is signed, the package list is not", signaturePath);
  SignerSubject signer;
  DWORD result = VerifyDetachedSignature(list, signature, signer);
  LogLine(L"package: the list's signature: verification result 0x%08lX, signer \"%s\"", result,
          signer.text.c_str());
  if (result != ERROR_SUCCESS)
    return Refuse(L"the package list's signature does not verify", signaturePath);
  if (signer.encoded != updater.encoded)
    return Refuse(L"the package list is signed by another publisher than the updater",
                  signaturePath);
  LogLine(L"package: the list is signed by the updater's publisher");
  return ERROR_SUCCESS;
}

// Refuses a version lower than the one recorded, unless allowed.
DWORD CompareVersions(const PackageList& list, bool allowDowngrade) {
  if (!list.HasVersion()) return ERROR_SUCCESS;
  bool recorded = false;
  PackageVersion installed{};
  DWORD error = ReadRecordedPackageVersion(recorded, installed);
  if (error != ERROR_SUCCESS) return error;
  const std::wstring version = PackageVersionText(list.Version());
  if (!recorded || !(list.Version() < installed)) {
    LogLine(L"package version %s (recorded: %s)", version.c_str(),
            recorded ? PackageVersionText(installed).c_str() : L"none");
    return ERROR_SUCCESS;
  }
  if (allowDowngrade) {
    LogLine(L"package version %s is lower than the recorded %s: applied, ALLOW_DOWNGRADE is given",
            version.c_str(), PackageVersionText(installed).c_str());
    return ERROR_SUCCESS;
  }
  LogLine(
      L"package refused, nothing is changed: its version %s is lower than the recorded %s "
      L"(ALLOW_DOWNGRADE applies it)",
      version.c_str(), PackageVersionText(installed).c_str());
  return ERROR_PRODUCT_VERSION;
}

}  // namespace

DWORD ReadPackageList(const tmk_String& packageRoot, PackageCheck& check) {
  check.listPath = std::wstring(packageRoot.Text()) + L"\\" + kPackageListName;
  bool there = false;
  DWORD error = ReadWholeFile(check.listPath, there, check.bytes);
  if (error != ERROR_SUCCESS) {
    LogFailure(L"reading the package list", check.listPath.c_str(), error);
    return error;
  }
  if (!there) return ERROR_SUCCESS;
  std::wstring problem;
  if (check.list.Parse(check.bytes, problem) != ERROR_SUCCESS) {
    LogLine(L"package refused, nothing is changed: the package list \"%s\" is invalid: %s",
            check.listPath.c_str(), problem.c_str());
    return ERROR_INVALID_DATA;
  }
  check.listed = true;
  LogLine(L"package list \"%s\": %zu files", check.listPath.c_str(), check.list.Count());
  return ERROR_SUCCESS;
}

DWORD JudgePackage(const PackageCheck& check, bool allowDowngrade, OwnSignatureCheck& own) {
  const OwnSignature& updater = own.Outcome();
  LogOwnSignature(updater);
  if (updater.signing == OwnSigning::Broken)
    return Refuse(L"the updater's own signature does not verify", vskr::OwnModulePath());
  if (updater.signing == OwnSigning::Valid) {
    if (!check.listed)
      return Refuse(L"the updater is signed, the package has no list", check.listPath);
    DWORD error = JudgeListSignature(check.listPath, check.bytes, updater.signer);
    if (error != ERROR_SUCCESS) return error;
  } else {
    LogLine(check.listed
                ? L"package: the list's signature is not judged against a publisher: the "
                  L"updater is not signed"
                : L"package: not verified: the updater is not signed and the package has no list");
  }
  return check.listed ? CompareVersions(check.list, allowDowngrade) : ERROR_SUCCESS;
}
