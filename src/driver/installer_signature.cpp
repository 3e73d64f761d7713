#include "driver/installer_signature.h"

#include <cwchar>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "driver/installer_discovery.h"
#include "platform/message_box.h"
#include "platform/run_log.h"
#include "platform/signature.h"
#include "platform/system_text.h"

namespace {

const wchar_t kRefusalMessage[] =
    L"The update file is not signed by the publisher of this program.";

enum class Signing { Valid, Absent, Broken };

}  // namespace

struct Examined {
  Signing signing = Signing::Broken;
  LONG result = 0;
  SignerSubject signer;
  std::vector<std::wstring> notes;  // for the run log, written by the thread that decides
};

namespace {

std::wstring SignerText(const SignerSubject& signer) {
  return signer.encoded.empty() ? std::wstring(L"none") : L"\"" + signer.text + L"\"";
}

// Verifies the file's signature and reads its signer, noting both for the
// run log (this may run on a thread of its own).
Examined Examine(const std::wstring& path, HANDLE file) {
  Examined examined;
  wchar_t note[160];
  if (CarriesNoCertificateTable(path, file)) {
    // No signature to verify: the system's verification would say so.
    examined.signing = Signing::Absent;
    examined.result = TRUST_E_NOSIGNATURE;
    std::swprintf(note, 160, L"\": verification result 0x%08lX (no certificate table), signer ",
                  static_cast<DWORD>(examined.result));
    examined.notes.push_back(L"signature of \"" + path + note + SignerText(examined.signer));
    return examined;
  }
  DWORD lastError = 0;
  examined.result = VerifyFileSignature(path, file, lastError);
  DWORD result = static_cast<DWORD>(examined.result);
  if (result == ERROR_SUCCESS) {
    examined.signing = Signing::Valid;
  } else if (MeansNoSignature(result) && MeansNoSignature(lastError)) {
    examined.signing = Signing::Absent;
  } else if (MeansNoSignature(result)) {
    std::swprintf(note, 160, L"\" is there but can't be read: error 0x%08lX", lastError);
    examined.notes.push_back(L"the signature of \"" + path + note);
  }
  DWORD read = ReadSignerSubject(path, examined.signer);
  if (read != ERROR_SUCCESS && examined.signing != Signing::Absent) {
    std::swprintf(note, 160, L"\": error %lu", read);
    examined.notes.push_back(L"reading the signer certificate failed for \"" + path + note);
    // A publisher that can't be read can't be compared.
    if (examined.signing == Signing::Valid) examined.signing = Signing::Broken;
  }
  std::swprintf(note, 160, L"\": verification result 0x%08lX, signer ", result);
  examined.notes.push_back(L"signature of \"" + path + note + SignerText(examined.signer));
  return examined;
}

void LogNotes(const Examined& examined) {
  for (const std::wstring& note : examined.notes) LogLine(L"%s", note.c_str());
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

struct InstallerCheck::Outcome {
  tmk_String path;
  tmk_String fileName;
  vskr::UniqueFileHandle held;
  DWORD openError = ERROR_SUCCESS;
  Examined installer;
  Examined updater;
};

InstallerCheck::InstallerCheck(const tmk_String& updaterFolder)
    : outcome_(std::make_unique<Outcome>()), thread_([this, updaterFolder] {
        Outcome& outcome = *outcome_;
        FindInstaller(outcome.path, outcome.fileName, updaterFolder);
        if (outcome.path.IsEmpty()) return;
        // Others may read it, nobody may change it while the run holds it.
        outcome.held.Reset(CreateFileW(outcome.path.Text(), GENERIC_READ, FILE_SHARE_READ,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!outcome.held) {
          outcome.openError = GetLastError();
          return;
        }
        outcome.installer = Examine(outcome.path.Text(), outcome.held.Get());
        outcome.updater = Examine(vskr::OwnModulePath(), nullptr);
      }) {}

InstallerCheck::~InstallerCheck() { Wait(); }

void InstallerCheck::Wait() {
  if (thread_.joinable()) thread_.join();
}

const tmk_String& InstallerCheck::Path() const { return outcome_->path; }
const tmk_String& InstallerCheck::FileName() const { return outcome_->fileName; }
vskr::UniqueFileHandle& InstallerCheck::Held() { return outcome_->held; }

DWORD AdmitInstaller(InstallerCheck& check) {
  check.Wait();
  InstallerCheck::Outcome& outcome = *check.outcome_;
  if (!outcome.held) {
    Examined unopened;
    unopened.result = static_cast<LONG>(outcome.openError);
    LogFailure(L"opening the installer to check its signature", outcome.path.Text(),
               outcome.openError);
    return Refuse(outcome.path, L"it can't be opened", unopened);
  }
  LogNotes(outcome.installer);
  LogNotes(outcome.updater);
  const wchar_t* reason = RefusalReason(outcome.installer, outcome.updater);
  if (reason) {
    outcome.held.Reset();
    return Refuse(outcome.path, reason, outcome.installer);
  }
  LogLine(outcome.updater.signing == Signing::Absent
              ? L"the installer was not checked against a publisher: the updater is not signed"
              : L"the installer is signed by the updater's publisher");
  return ERROR_SUCCESS;
}
