// What an elevated run starts: a program given by its bare name never comes
// from the updater's own folder, whatever form that folder is given in, and
// the installer runs only with a signature of the updater's publisher (files
// signed here with test certificates made for the test; no key is kept).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/sandbox.h"

namespace {

using namespace testing_support;

const std::wstring kInstaller = L"qiro_upd240046_win64.exe";
const std::wstring kWork = L"C:\\vskr_tests\\security";
// The stand-ins a whole run starts: the system's tar (a planted one would log
// its full path), the installer, the registration tool.
const wchar_t kWholeRun[] = L"tar.exe qiro_upd240046_win64.exe regasm.exe ";
const Dialog kRefusal{L"QIRO Update",
                      L"The update file is not signed by the publisher of this program.", false,
                      true};

// Runs `script` (no double quotes) in the Linux system's shell, in kWork.
bool RunShell(const std::wstring& script) { return RunUnixTool(L"cd \\\"$1\\\"; " + script, {kWork}); }

std::wstring StartedPrograms() {
  std::wstring names;
  for (const StandInCall& call : ReadStandInLog()) names += call.program + L" ";
  return names;
}

class SecurityRun : public testing::Test {
 protected:
  void SetUp() override {
    DeleteMachineKey(kProductKeyPath);
    InstallStandIn(L"standin_tool.exe", SystemToolsFolder() + L"\\tar.exe");
    InstallRegistrationTool();
    ResetFolder(kWork);
    InstallUpdater(kWork);
    InstallStandIn(L"standin_installer64.exe", kWork + L"\\installer.exe");
  }
  void TearDown() override {
    RunShell(L"rm -f $WINEPREFIX/dosdevices/e:");
    DeleteTreeNoFollow(kWork);
  }
};

// Each row puts an updater and an installer into a folder with the archive
// and a planted tar.exe beside them (and one in E:\elsewhere), and starts the
// updater by a form of the folder's name (the short form is a unit test's
// row: this Wine names a program started by it by its long name). The
// archive step makes the folder current; the planted tar never runs. The
// files: unsigned, signed by publisher A ("_a"), by A's renewed certificate
// (same subject, new key), by publisher B, and A's installer changed after
// signing.
TEST_F(SecurityRun, OnlyTheSystemsToolsAndAnInstallerOfTheUpdatersPublisherRun) {
  // Drive E: is the sandbox's folder "stick", like a USB stick's root, and
  // the drive's current folder (which "E:" alone names) is another one.
  ASSERT_TRUE(
      RunShell(L"mkdir stick 'Update Folder'; ln -sfn $PWD/stick $WINEPREFIX/dosdevices/e:"));
  ASSERT_TRUE(PathExists(L"E:\\"));
  ScopedVariable driveCurrent(L"=E:", L"E:\\elsewhere");
  ASSERT_TRUE(RunShell(
      L"set -e; cert() { openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj $2 -keyout $1.key"
      L" -out $1.pem 2>/dev/null; }; cert a /CN=Quendris/O=Test; cert renewed"
      L" /CN=Quendris/O=Test; cert b /CN=Other/O=Test; sign() { osslsigncode"
      L" sign -certs $1.pem -key $1.key -in $2.exe -out $2_$1.exe >/dev/null; }; sign a"
      L" vskr_updater; sign a installer; sign renewed installer; sign b installer; cp"
      L" installer_a.exe installer_changed.exe; printf X | dd of=installer_changed.exe bs=1"
      L" seek=1100 conv=notrunc 2>/dev/null; rm -f *.key"));
  const std::wstring stick = kWork + L"\\stick", update = kWork + L"\\Update Folder";
  const wchar_t* const changed =
      L"its signature does not verify; signer \"CN=Quendris, O=Test\", verification result "
      L"0x80096010)";
  const struct {
    std::wstring folder, startedAs, updater, installer;
    const wchar_t* refusal;  // what the log tells; null: the installer runs
  } rows[] = {
      {stick, L"E:", L"vskr_updater", L"installer", nullptr},
      {update, L"c:\\VSKR_TESTS\\security\\update FOLDER", L"vskr_updater", L"installer", nullptr},
      {update, update, L"vskr_updater_a", L"installer_a", nullptr},
      {update, update, L"vskr_updater_a", L"installer_renewed", nullptr},
      {update, update, L"vskr_updater_a", L"installer_b",
       L"it is signed by another publisher than the updater; signer \"CN=Other, O=Test\", "
       L"verification result 0x00000000)"},
      {update, update, L"vskr_updater_a", L"installer",
       L"it is not signed, the updater is; signer none, verification result 0x800B0100)"},
      {update, update, L"vskr_updater_a", L"installer_changed", changed},
      {update, update, L"vskr_updater", L"installer_changed", changed},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(Narrow(row.startedAs + L" " + row.updater + L" " + row.installer));
    ResetStandInLog();
    InstallStandIn(L"standin_planted.exe", row.folder + L"\\tar.exe");
    InstallStandIn(L"standin_planted.exe", kWork + L"\\stick\\elsewhere\\tar.exe");
    CopyFileW((kWork + L"\\" + row.updater + L".exe").c_str(),
              (row.folder + L"\\vskr_updater.exe").c_str(), FALSE);
    CopyFileW((kWork + L"\\" + row.installer + L".exe").c_str(),
              (row.folder + L"\\" + kInstaller).c_str(), FALSE);
    WriteBytes(row.folder + L"\\vskr_update.zip", "PK\x05\x06");
    RunResult run = RunUpdater(row.startedAs + L"\\vskr_updater.exe", L"/quiet");
    EXPECT_EQ(row.refusal ? 577u : 0u, run.exitCode);
    EXPECT_EQ(row.refusal ? std::vector<Dialog>{kRefusal} : std::vector<Dialog>{}, run.dialogs);
    EXPECT_EQ(row.refusal ? L"" : kWholeRun, StartedPrograms());
    EXPECT_TRUE(PathExists(row.folder + L"\\" + kInstaller));
    if (!row.refusal) continue;
    // This run's block of the log: the file, its signer and the result, and
    // no preparation (the settings file's language is read there).
    std::wstring log = ReadText(CommonAppData() + L"\\Quendris\\QIRO\\Logs\\vskr_updater.log");
    log = log.substr(std::min(log.rfind(L"==== 2"), log.size()));
    EXPECT_EQ(std::wstring::npos, log.find(L"language of the settings file"));
    std::wstring refusal = L"installer refused, nothing is changed: \"" + update + L"\\" +
                           kInstaller + L"\" (" + row.refusal;
    EXPECT_NE(std::wstring::npos, log.find(refusal)) << Narrow(log);
  }
}

}  // namespace
