// What an elevated run starts: a program given by its bare name never comes
// from the updater's own folder, whatever form that folder is given in, and
// the installer runs only with a signature of the updater's publisher (files
// signed here with test certificates made for the run; no key is kept).
#include <gtest/gtest.h>

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

}  // namespace
