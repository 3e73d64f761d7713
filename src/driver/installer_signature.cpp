#include "driver/installer_signature.h"

#include <string>

#include "platform/message_box.h"
#include "platform/run_log.h"
#include "platform/signature.h"
#include "platform/system_text.h"

namespace {

const wchar_t kRefusalMessage[] =
    L"The update file is not signed by the publisher of this program.";

enum class Signing { Valid, Absent, Broken };

struct Examined {
  Signing signing = Signing::Broken;
  LONG result = 0;
  SignerSubject signer;
};

// The codes by which the verification says a file carries no signature.
bool MeansNoSignature(DWORD code) {
  return code == static_cast<DWORD>(TRUST_E_NOSIGNATURE) ||
         code == static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN) ||
         code == static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN);
}

std::wstring SignerText(const SignerSubject& signer) {
  return signer.encoded.empty() ? std::wstring(L"none") : L"\"" + signer.text + L"\"";
}

// Verifies the file's signature and reads its signer; logs both.
Examined Examine(const std::wstring& path, HANDLE file) {
  Examined examined;
  DWORD lastError = 0;
  examined.result = VerifyFileSignature(path, file, lastError);
  DWORD result = static_cast<DWORD>(examined.result);
  if (result == ERROR_SUCCESS) {
    examined.signing = Signing::Valid;
  } else if (MeansNoSignature(result) && MeansNoSignature(lastError)) {
    examined.signing = Signing::Absent;
  } else if (MeansNoSignature(result)) {
    LogLine(L"the signature of \"%s\" is there but can't be read: error 0x%08lX", path.c_str(),
            lastError);
  }
  DWORD read = ReadSignerSubject(path, examined.signer);
  if (read != ERROR_SUCCESS && examined.signing != Signing::Absent) {
    LogFailure(L"reading the signer certificate", path.c_str(), read);
    // A publisher that can't be read can't be compared.
    if (examined.signing == Signing::Valid) examined.signing = Signing::Broken;
  }
  LogLine(L"signature of \"%s\": verification result 0x%08lX, signer %s", path.c_str(), result,
          SignerText(examined.signer).c_str());
  return examined;
}

// Why the installer may not run; null when it may.
const wchar_t* RefusalReason(const Examined& installer, const Examined& updater) {
  if (installer.signing == Signing::Broken) return L"its signature does not verify";
  if (updater.signing == Signing::Broken) return L"the updater's own signature does not verify";
  if (updater.signing == Signing::Absent) return nullptr;
  if (installer.signing != Signing::Valid) return L"it is not signed, the updater is";
  if (installer.signer.encoded != updater.signer.encoded)
    return L"it is signed by another publisher than the updater";
  return nullptr;
}

DWORD Refuse(const tmk_String& installerPath, const wchar_t* reason, const Examined& installer) {
  LogLine(L"installer refused, nothing is changed: \"%s\" (%s; signer %s, verification result "
          L"0x%08lX)",
          installerPath.Text(), reason, SignerText(installer.signer).c_str(),
          static_cast<DWORD>(installer.result));
  ShowMessage(nullptr, kRefusalMessage, L"QIRO Update", MB_OK | MB_ICONERROR);
  return kInstallerRefused;
}

}  // namespace

DWORD AdmitInstaller(const tmk_String& installerPath, vskr::UniqueFileHandle& held) {
  // Others may read it, nobody may change it while the run holds it.
  held.Reset(CreateFileW(installerPath.Text(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held) {
    Examined unopened;
    unopened.result = static_cast<LONG>(GetLastError());
    LogFailure(L"opening the installer to check its signature", installerPath.Text(),
               static_cast<DWORD>(unopened.result));
    return Refuse(installerPath, L"it can't be opened", unopened);
  }
  Examined installer = Examine(installerPath.Text(), held.Get());
  Examined updater = Examine(vskr::OwnModulePath(), nullptr);
  const wchar_t* reason = RefusalReason(installer, updater);
  if (reason) {
    held.Reset();
    return Refuse(installerPath, reason, installer);
  }
  LogLine(updater.signing == Signing::Absent
              ? L"the installer was not checked against a publisher: the updater is not signed"
              : L"the installer is signed by the updater's publisher");
  return ERROR_SUCCESS;
}
