// The run journal keeps the last runs and any run whose backup copy still
// waits; the run log takes a second writer and survives a failed rotation.
#include "preserve/run_journal.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/run_log.h"
#include "support/sandbox.h"

namespace {

using namespace testing_support;

TEST(RunJournal, KeepsTheLastRunsAndEveryRunWhoseBackupWaits) {
  const std::wstring root = CommonAppData() + L"\\Quendris\\QIRO\\Journal";
  const std::wstring waiting = L"C:\\vskr_tests\\journal\\Modules.ini.upd";
  ResetFolder(root);
  WriteBytes(waiting, "original");
  const wchar_t* const runs[] = {L"20200101-000000-1", L"20200101-000000-2", L"20200101-000000-3",
                                 L"20200101-000000-4", L"20200101-000000-5", L"20200101-000000-6"};
  for (const wchar_t* run : runs) {
    WriteUtf16Text(root + L"\\" + run + L"\\run.ini", L"[run]\r\nstate=ended\r\n");
  }
  // The oldest run was ended by a restart while its backup copy waited.
  WriteUtf16Text(root + L"\\" + runs[0] + L"\\run.ini",
                 L"[run]\r\nstate=running\r\n[backups]\r\nModules.ini.upd=" + waiting +
                     L"\r\nModules.ini.upd digest=fbf0b22d501fc972\r\n");
  UpdateContext context;
  ASSERT_EQ(0u, BeginRunJournal(context, true));
  EXPECT_TRUE(PathExists(root + L"\\" + runs[0]));
  EXPECT_FALSE(PathExists(root + L"\\" + runs[1]));  // the sixth newest with this run's
  for (int i = 2; i <= 5; ++i) EXPECT_TRUE(PathExists(root + L"\\" + runs[i])) << i;
  EXPECT_TRUE(PathExists(context.JournalFolder.Text()));
  DeleteTreeNoFollow(L"C:\\vskr_tests\\journal");
  DeleteTreeNoFollow(root);
}

TEST(SharedRunLog, SecondWriterAppendsAndAFailedRotationKeepsLogging) {
  const std::wstring folder = L"C:\\vskr_tests\\shared log";
  ResetFolder(folder);
  RunLog first(tmk_String(folder.c_str()));
  ASSERT_TRUE(first.IsOpen());
  first.Write(std::wstring(RunLog::kLogRotateBytes, L'x').c_str());
  RunLog second(tmk_String(folder.c_str()));  // can't rotate: the first has the log open
  ASSERT_TRUE(second.IsOpen());
  second.Write(L"second");
  first.Write(L"first again");
  std::string log = ReadBytes(folder + L"\\vskr_updater.log");
  EXPECT_EQ(0u, log.find("xxx"));
  EXPECT_NE(std::string::npos, log.find("it goes on growing\r\nsecond\r\nfirst again\r\n"));
  DeleteTreeNoFollow(folder);
}

}  // namespace
