// Package runs whose package carries its own list of files (signed with
// openssl cms, certificates made for the test; no key is kept), by an
// updater signed by the list's publisher or not signed: each run replaces
// every listed installed file with the listed content or changes nothing,
// and the run log names what stopped it.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "platform/unique_handle.h"
#include "support/sandbox.h"

namespace {

using namespace testing_support;

const std::wstring kWork = L"C:\\vskr_tests\\verify";
const std::wstring kInstall = kWork + L"\\Veskaro", kUpdate = kWork + L"\\Update";
const std::wstring kPackage = kUpdate + L"\\vskr_update\\Veskaro\\";
// Installed files (below kInstall) and their package files (below kPackage).
const std::pair<const wchar_t*, const wchar_t*> kFiles[] = {
    {L"Root\\Sys2021\\Veskaro.exe", L"Sys2021\\Veskaro.exe"},
    {L"Root\\Init\\common.dll", L"Init\\common.dll"},
    {L"Data\\Data\\Config\\sub\\n\u00fc.txt", L"Config\\sub\\n\u00fc.txt"},
    {L"Data\\Data\\Reports\\report.txt", L"Reports\\report.txt"}};
// Shell functions of the rows, run in kUpdate: list (the list as the
// vendor's build writes it, with the version 4.2.0.1234) and sign PUBLISHER.
const std::wstring kListing =
    L"L=vskr_update/vskr_update.sha256; P=vskr_update/Veskaro; list() { (cd vskr_update; printf "
    L"'# vskr-package: 1\\n# version: 4.2.0.1234\\n'; find Veskaro -type f | LC_ALL=C sort | "
    L"xargs -d '\\n' sha256sum) > $L.new; mv $L.new $L; }; sign() { openssl cms -sign -binary "
    L"-md sha256 -outform DER -signer ../certs/$1.pem -inkey ../certs/$1.key -in $L -out $L.p7; "
    L"}; ";

// Each entry below `folder` (links not entered) with its attributes and,
// for a file, its last write time and bytes.
std::string Describe(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return "folder";
  uint64_t written =
      (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
  return std::to_string(data.dwFileAttributes) + " " + std::to_string(written) + " " +
         ReadBytes(path);
}
using Entries = std::map<std::wstring, std::string>;
void List(const std::wstring& folder, Entries& entries) {
  WIN32_FIND_DATAW found;
  vskr::UniqueFindHandle search(FindFirstFileW((folder + L"\\*").c_str(), &found));
  for (bool more = search.IsValid(); more; more = FindNextFileW(search.Get(), &found)) {
    const std::wstring name = found.cFileName, path = folder + L"\\" + name;
    if (name == L"." || name == L"..") continue;
    entries[path] = Describe(path);
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
      List(path, entries);
  }
}

std::string Text(const Entries& entries) {
  std::string text;
  for (const auto& [path, description] : entries) text += Narrow(path) + " " + description + "\n";
  return text;
}

class PackageVerify : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    ResetFolder(kWork + L"\\certs");
    InstallUpdater(kWork + L"\\certs");
    RunUnixTool(
        L"set -e; cd \\\"$1\\\"; cert() { openssl req -x509 -newkey rsa:2048 -nodes -days 2 "
        L"-subj $2 -keyout $1.key -out $1.pem 2>/dev/null; }; cert a /CN=Quendris/O=Test; cert b "
        L"/CN=Other/O=Test; osslsigncode sign -certs a.pem -key a.key -in vskr_updater.exe -out "
        L"vskr_updater_a.exe >/dev/null",
        {kWork + L"\\certs"});
  }
  static void TearDownTestSuite() { DeleteTreeNoFollow(kWork); }
  void SetUp() override {
    DeleteMachineKey(kProductKeyPath);
    SetProductText(L"ROOTPATH", kInstall + L"\\Root");
    SetProductText(L"EXECUTABLEPATH", kInstall + L"\\Root\\Sys2021");
    SetProductText(L"DATA_PATH", kInstall + L"\\Data");
    SetProductText(L"WORK_PATH", kInstall + L"\\Work");
    for (const std::wstring& folder : {kInstall, kUpdate}) ResetFolder(folder);
    for (const auto& [installed, source] : kFiles) {
      WriteText(kInstall + L"\\" + installed, L"old");
      WriteText(kPackage + source, L"new " + std::wstring(source));
    }
    WriteText(kInstall + L"\\Root\\Init\\Thumbs.db", L"the installation's");
  }
  void TearDown() override { DeleteMachineKey(kProductKeyPath); }
};

TEST_F(PackageVerify, EveryCopiedFileIsTheListedOneOrNothingChanges) {
  const std::wstring updaterA = kWork + L"\\certs\\vskr_updater_a.exe";
  const std::wstring unsigned_ = kWork + L"\\certs\\vskr_updater.exe";
  const std::wstring common = kPackage + L"Init\\common.dll";
  const std::wstring digestFailed = L"checking the digest of a copied package file failed for \"";
  const struct {
    const char* name;
    const std::wstring& updater;
    const wchar_t* script;     // after kListing
    const wchar_t* recorded;   // PackageVersion before the run (null: none)
    const wchar_t* arguments;  // after INSTALL_FROM_ZIP
    DWORD exit;                // 0, 3010: every file replaced; else nothing changed
    std::wstring logged;
    const wchar_t* version;  // PackageVersion after the run (null: none)
  } rows[] = {
      {"a valid list", updaterA, L"list; sign a", nullptr, L"", 0,
       L"package: the list is signed by the updater's publisher", L"4.2.0.1234"},
      {"the list changed after signing", updaterA, L"list; sign a; echo '# x' >> $L", nullptr, L"",
       577, L"the list's signature: verification result 0x80091007", nullptr},
      {"the list signed by another publisher", updaterA, L"list; sign b", L"4.0.0.0", L"", 577,
       L"signer \"CN=Other, O=Test\"", L"4.0.0.0"},
      {"no list", updaterA, L":", nullptr, L"", 577,
       L"the updater is signed, the package has no list", nullptr},
      {"a list without its signature", updaterA, L"list", nullptr, L"", 577,
       L"the updater is signed, the package list is not", nullptr},
      {"an invalid list", updaterA, L"list; echo $(printf %064d 0)'  Veskaro/../x' >> $L; sign a",
       nullptr, L"", 13, L"is invalid: line 7: a \".\" or \"..\" part", nullptr},
      {"a file changed", updaterA, L"list; sign a; printf X >> $P/Init/common.dll", nullptr, L"",
       577, digestFailed + common, nullptr},
      {"a file truncated", updaterA, L"list; sign a; truncate -s 2 $P/Init/common.dll", nullptr,
       L"", 577, digestFailed + common, nullptr},
      {"a listed file missing", updaterA, L"list; sign a; rm $P/Init/common.dll", nullptr, L"", 577,
       L"the listed file \"" + kUpdate + L"\\vskr_update\\Veskaro\\Init\\common.dll\" is not",
       nullptr},
      {"a file not on the list", updaterA, L"list; sign a; echo planted > $P/Init/Thumbs.db",
       nullptr, L"", 0, L"\"" + kPackage + L"Init\\Thumbs.db\" is not on the package list",
       L"4.2.0.1234"},
      {"a file replaced while the run copies", updaterA,
       L"mkdir $P/Init/many ../Veskaro/Root/Init/many; for i in $(seq 300); do echo new > "
       L"$P/Init/many/$i.dat; echo old > ../Veskaro/Root/Init/many/$i.dat; done; list; sign a",
       nullptr, L"", 577, digestFailed + kPackage + L"Reports\\report.txt", nullptr},
      {"an unsigned updater, a file changed", unsigned_, L"list; printf X >> $P/Init/common.dll",
       nullptr, L"", 577, digestFailed + common, nullptr},
      {"an unsigned updater, no list", unsigned_, L":", nullptr, L"", 0,
       L"not verified: the updater is not signed and the package has no list", nullptr},
      {"a lower version", updaterA, L"list; sign a", L"4.10.0.0", L"", 1638,
       L"its version 4.2.0.1234 is lower than the recorded 4.10.0.0", L"4.10.0.0"},
      {"a lower version, allowed", updaterA, L"list; sign a", L"4.10.0.0", L" ALLOW_DOWNGRADE", 0,
       L"lower than the recorded 4.10.0.0: applied, ALLOW_DOWNGRADE is given", L"4.2.0.1234"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    ASSERT_TRUE(RunUnixTool(L"cd \\\"$1\\\"; " + kListing + row.script, {kUpdate}));
    if (row.recorded) SetProductText(L"PackageVersion", row.recorded);
    ASSERT_TRUE(CopyFileW(row.updater.c_str(), (kUpdate + L"\\vskr_updater.exe").c_str(), FALSE));
    vskr::ChildProcess swap;
    if (std::string(row.name) == "a file replaced while the run copies") {
      std::wstring command = L"\"" + BuildBin() + L"\\standin_tool.exe\" swap-when \"" + kInstall +
                             L"\\Root\\Sys2021\\*.old\" \"" + kPackage + L"Reports\\report.txt\"";
      STARTUPINFOW startup{};
      startup.cb = sizeof startup;
      PROCESS_INFORMATION info{};
      ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &info));
      swap.Adopt(info);
    }
    Entries before, after, now;
    List(kInstall, before);
    after = before;
    for (const auto& [installed, source] : kFiles)
      after[kInstall + L"\\" + installed] = Describe(kPackage + source);
    const std::wstring log = CommonAppData() + L"\\Quendris\\QIRO\\Logs\\vskr_updater.log";
    DeleteFileW(log.c_str());
    RunResult run = RunUpdater(kUpdate + L"\\vskr_updater.exe",
                               L"INSTALL_FROM_ZIP" + std::wstring(row.arguments));
    if (swap.Process) TerminateProcess(swap.Process.Get(), 0);
    EXPECT_EQ(row.exit, run.exitCode);
    EXPECT_TRUE(run.dialogs.empty());
    List(kInstall, now);
    EXPECT_EQ(Text(row.exit == 0 ? after : before), Text(now));
    EXPECT_NE(std::wstring::npos, ReadText(log).find(row.logged)) << Narrow(ReadText(log));
    RegistryValue version = ReadMachineValue(kProductKeyPath, L"PackageVersion");
    EXPECT_EQ(row.version ? row.version : L"", version.Text());
    EXPECT_EQ(row.exit == 0 && row.version,
              ReadMachineValue(kProductKeyPath, L"PackageApplied").exists);
  }
}

}  // namespace
