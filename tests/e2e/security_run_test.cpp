// What an elevated run starts: a program given by its bare name never comes
// from the updater's own folder, whatever form that folder is given in, and
// the installer runs only with a signature of the updater's publisher (files
// signed here with test certificates made for the run; no key is kept).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "support/sandbox.h"

namespace {

using namespace testing_support;

const wchar_t kInstaller[] = L"qiro_upd240046_win64.exe";
const std::wstring kWork = L"C:\\vskr_tests\\security";

std::wstring UnixPathOf(const std::wstring& path) {
  using ToUnix = char*(CDECL*)(LPCWSTR);
  auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* unixPath = toUnix ? toUnix(path.c_str()) : nullptr;
  std::wstring result = unixPath ? Widen(unixPath) : std::wstring();
  if (unixPath) HeapFree(GetProcessHeap(), 0, unixPath);
  return result;
}

// Runs `script` in the Linux system's shell with the Unix forms of `paths`
// as $1, $2 ... and waits until it has touched its marker: Wine can't wait
// for a Linux process.
bool RunShell(const std::wstring& script, const std::vector<std::wstring>& paths = {}) {
  const std::wstring file = kWork + L"\\script.sh", done = file + L".done";
  DeleteFileW(done.c_str());
  WriteText(file, script + L"\ntouch \"$0.done\"\n");
  std::wstring command = L"\\\\?\\unix\\bin\\sh \"" + UnixPathOf(file) + L"\"";
  for (const std::wstring& path : paths) command += L" \"" + UnixPathOf(path) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, kWork.c_str(),
                      &startup, &info))
    return false;
  CloseHandle(info.hProcess);
  CloseHandle(info.hThread);
  for (int i = 0; i < 3000 && !PathExists(done); ++i) Sleep(10);
  return PathExists(done);
}

size_t CallsOf(const std::wstring& program) {
  size_t count = 0;
  for (const StandInCall& call : ReadStandInLog()) count += call.program == program;
  return count;
}

class SecurityRun : public testing::Test {
 protected:
  void SetUp() override {
    DeleteMachineKey(kProductKeyPath);
    InstallStandIn(L"standin_tool.exe", SystemToolsFolder() + L"\\tar.exe");
    InstallRegistrationTool();
    CreateFolders(kWork);
  }
  void TearDown() override {
    RunShell(L"rm -f \"$WINEPREFIX/dosdevices/e:\"");
    DeleteTreeNoFollow(kWork);
  }
};

// The archive step makes the updater's folder the current one; a tar.exe
// planted there, or where the drive's own current folder points, never runs.
TEST_F(SecurityRun, PlantedTarNeverRunsWhateverFormTheUpdaterFolderHas) {
  const std::wstring stick = kWork + L"\\stick", update = kWork + L"\\Update Folder";
  CreateFolders(stick);
  CreateFolders(update);
  // Drive E: is the sandbox's folder "stick", like a USB stick's root.
  ASSERT_TRUE(RunShell(L"case \"$1\" in \"$WINEPREFIX\"/drive_c/*|\"$WINEPREFIX\"/dosdevices/c:/*)"
                       L" ln -sfn -- \"$1\" \"$WINEPREFIX/dosdevices/e:\";; esac",
                       {stick}));
  ASSERT_TRUE(PathExists(L"E:\\"));
  wchar_t shortForm[MAX_PATH] = {0};
  GetShortPathNameW(update.c_str(), shortForm, MAX_PATH);
  struct Row {
    std::wstring folder, startedAs, driveCurrent;
  } rows[] = {{stick, L"E:", L""},
              {stick, L"E:", L"E:\\elsewhere"},
              {update, shortForm, L""},
              {update, L"c:\\VSKR_TESTS\\security\\update FOLDER", L""}};
  for (const Row& row : rows) {
    SCOPED_TRACE(Narrow(row.startedAs + L" " + row.driveCurrent));
    ResetStandInLog();
    InstallUpdater(row.folder);
    InstallStandIn(L"standin_installer64.exe", row.folder + L"\\" + kInstaller);
    WriteBytes(row.folder + L"\\vskr_update.zip", "PK\x05\x06");
    InstallStandIn(L"standin_planted.exe", row.folder + L"\\tar.exe");
    InstallStandIn(L"standin_planted.exe", row.folder + L"\\elsewhere\\tar.exe");
    std::unique_ptr<ScopedVariable> driveCurrent;
    if (!row.driveCurrent.empty()) driveCurrent.reset(new ScopedVariable(L"=E:", row.driveCurrent));
    RunResult run = RunUpdater(row.startedAs + L"\\vskr_updater.exe", L"");
    EXPECT_TRUE(run.dialogs.empty());
    EXPECT_EQ(1u, CallsOf(L"tar.exe"));  // the system's
    EXPECT_EQ(1u, CallsOf(kInstaller));
    for (const StandInCall& call : ReadStandInLog())
      EXPECT_EQ(std::wstring::npos, call.program.find(L'\\')) << Narrow(call.program);
  }
}

// In `folder`: the updater and the installer stand-in unsigned, signed by
// publisher A ("_a"), by A's renewed certificate (same subject, new key) and
// by publisher B, and A's installer with one byte changed after signing.
bool MakeSignedFiles(const std::wstring& folder) {
  InstallUpdater(folder);
  InstallStandIn(L"standin_installer64.exe", folder + L"\\installer.exe");
  return RunShell(
      L"set -e; cd \"$1\"\n"
      L"cert() { openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj \"$2\" -keyout $1.key "
      L"-out $1.pem 2>/dev/null; }\n"
      L"cert a '/CN=Publisher A/O=Quendris Test'; cert renewed '/CN=Publisher A/O=Quendris Test'\n"
      L"cert b '/CN=Publisher B/O=Other Test'\n"
      L"sign() { osslsigncode sign -certs $1.pem -key $1.key -in $2.exe -out $2_$1.exe"
      L" >/dev/null; }\n"
      L"sign a vskr_updater; sign a installer; sign renewed installer; sign b installer\n"
      L"cp installer_a.exe installer_changed.exe\n"
      L"printf X | dd of=installer_changed.exe bs=1 seek=1100 conv=notrunc 2>/dev/null\n"
      L"rm -f *.key",
      {folder});
}

TEST_F(SecurityRun, InstallerRunsOnlyWithASignatureOfTheUpdatersPublisher) {
  const std::wstring signing = kWork + L"\\signing", update = kWork + L"\\Update";
  ASSERT_TRUE(MakeSignedFiles(signing));
  const std::wstring log = CommonAppData() + L"\\Quendris\\QIRO\\Logs\\vskr_updater.log";
  const wchar_t* const changed =
      L"signer \"CN=Publisher A, O=Quendris Test\", verification result 0x80096010";
  const struct {
    const wchar_t *updater, *installer, *refusal;  // refusal: what the log tells, or null: runs
  } rows[] = {
      {L"vskr_updater", L"installer", nullptr},
      {L"vskr_updater_a", L"installer_a", nullptr},
      {L"vskr_updater_a", L"installer_renewed", nullptr},
      {L"vskr_updater_a", L"installer_b",
       L"signer \"CN=Publisher B, O=Other Test\", verification result 0x00000000"},
      {L"vskr_updater_a", L"installer", L"signer none, verification result 0x800B0100"},
      {L"vskr_updater_a", L"installer_changed", changed},
      {L"vskr_updater", L"installer_changed", changed},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(Narrow(std::wstring(row.updater) + L" " + row.installer));
    ResetFolder(update);
    ResetStandInLog();
    CopyFileW((signing + L"\\" + row.updater + L".exe").c_str(),
              (update + L"\\vskr_updater.exe").c_str(), FALSE);
    CopyFileW((signing + L"\\" + row.installer + L".exe").c_str(),
              (update + L"\\" + kInstaller).c_str(), FALSE);
    WriteBytes(update + L"\\vskr_update.zip", "PK\x05\x06");
    RunResult run = RunUpdater(update + L"\\vskr_updater.exe", L"/quiet");
    std::wstring block = ReadText(log);
    block = block.substr(std::min(block.rfind(L"==== 2"), block.size()));
    if (!row.refusal) {
      EXPECT_TRUE(run.dialogs.empty());
      EXPECT_EQ(1u, CallsOf(kInstaller));
      continue;
    }
    EXPECT_EQ(577u, run.exitCode);
    EXPECT_EQ((std::vector<Dialog>{{L"QIRO Update",
                                    L"The update file is not signed by the publisher of this "
                                    L"program.",
                                    false, true}}),
              run.dialogs);
    EXPECT_TRUE(ReadStandInLog().empty());  // no tar, no installer, nothing
    EXPECT_TRUE(PathExists(update + L"\\" + kInstaller));
    EXPECT_TRUE(PathExists(update + L"\\vskr_update.zip"));
    EXPECT_EQ(std::wstring::npos, block.find(L"language of the settings file"));  // not prepared
    EXPECT_NE(std::wstring::npos, block.find(L"installer refused, nothing is changed: \"" + update +
                                             L"\\" + kInstaller))
        << Narrow(block);
    EXPECT_NE(std::wstring::npos, block.find(row.refusal)) << Narrow(block);
  }
}

}  // namespace
