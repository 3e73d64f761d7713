// The run log on the faults an elevated writer must survive: missing
// folders, planted links in place of the folder or the file, a log that
// grows without bound.
#include <gtest/gtest.h>

#include <string>

#include "platform/run_log.h"
#include "support/sandbox.h"

namespace {

using namespace testing_support;

class RunLogFile : public testing::Test {
 protected:
  void SetUp() override { ResetFolder(root_); }
  void TearDown() override { DeleteTreeNoFollow(root_); }

  std::wstring root_ = L"C:\\vskr_tests\\log \u00e4";
  std::wstring folder_ = root_ + L"\\Quendris\\QIRO\\Logs";
  std::wstring file_ = folder_ + L"\\vskr_updater.log";
};

TEST_F(RunLogFile, CreatesMissingFoldersAndAppends) {
  {
    RunLog log(folder_.c_str());
    ASSERT_TRUE(log.IsOpen());
    ScopedRunLog installed(log);
    LogLine(L"first %s", L"Prozeßschema");
  }
  {
    RunLog log(folder_.c_str());
    ScopedRunLog installed(log);
    LogLine(L"second %d", 2);
  }
  LogLine(L"no log installed: %s", L"dropped");
  EXPECT_EQ(L"first Prozeßschema\r\nsecond 2\r\n", ReadText(file_));
}

TEST_F(RunLogFile, FailureNamesOperationSubjectAndSystemMessage) {
  RunLog log(folder_.c_str());
  ScopedRunLog installed(log);
  LogFailure(L"CopyFileW", L"C:\\x\\Modules.ini", ERROR_SHARING_VIOLATION);
  std::wstring text = ReadText(file_);
  EXPECT_EQ(0u, text.find(L"CopyFileW failed for \"C:\\x\\Modules.ini\": error 32 ("));
  EXPECT_GT(text.size(), 50u);
}

TEST_F(RunLogFile, GrownLogIsKeptAsOneOldGeneration) {
  CreateFolders(folder_);
  WriteBytes(folder_ + L"\\vskr_updater.old.log", "oldest");
  WriteBytes(file_, std::string(RunLog::kLogRotateBytes + 10, 'x'));
  {
    RunLog log(folder_.c_str());
    ScopedRunLog installed(log);
    LogLine(L"fresh");
  }
  EXPECT_EQ(L"fresh\r\n", ReadText(file_));
  EXPECT_EQ(RunLog::kLogRotateBytes + 10, ReadBytes(folder_ + L"\\vskr_updater.old.log").size());
}

TEST_F(RunLogFile, LinkedFolderIsNotWrittenThrough) {
  std::wstring target = root_ + L"\\elsewhere";
  CreateFolders(target);
  CreateFolders(root_ + L"\\Quendris\\QIRO");
  ASSERT_TRUE(MakeLink(folder_, target));
  RunLog log(folder_.c_str());
  EXPECT_FALSE(log.IsOpen());
  ScopedRunLog installed(log);
  LogLine(L"must not appear");
  EXPECT_FALSE(PathExists(target + L"\\vskr_updater.log"));
}

TEST_F(RunLogFile, LinkedFileIsNotWrittenThrough) {
  std::wstring victim = root_ + L"\\victim.txt";
  WriteBytes(victim, "keep me");
  CreateFolders(folder_);
  ASSERT_TRUE(MakeLink(file_, victim));
  RunLog log(folder_.c_str());
  EXPECT_FALSE(log.IsOpen());
  ScopedRunLog installed(log);
  LogLine(L"must not appear");
  EXPECT_EQ("keep me", ReadBytes(victim));
}

TEST_F(RunLogFile, HardLinkedFileIsNotWrittenThrough) {
  std::wstring victim = root_ + L"\\victim.txt";
  WriteBytes(victim, "keep me");
  CreateFolders(folder_);
  ASSERT_TRUE(MakeHardLink(file_, victim));
  RunLog log(folder_.c_str());
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ("keep me", ReadBytes(victim));
}

TEST_F(RunLogFile, UnusableFolderLeavesTheLogClosed) {
  WriteBytes(root_ + L"\\Quendris", "a file where a folder belongs");
  RunLog log(folder_.c_str());
  EXPECT_FALSE(log.IsOpen());
  RunLog none(tmk_String(L""));
  EXPECT_FALSE(none.IsOpen());
}

}  // namespace

namespace {

TEST_F(RunLogFile, DanglingLinkCreatesNothingAtItsTarget) {
  std::wstring victim = root_ + L"\\planted.txt";
  CreateFolders(folder_);
  ASSERT_TRUE(MakeLink(file_, victim));  // the link dangles: Win32 calls can't see it
  RunLog log(folder_.c_str());
  EXPECT_FALSE(log.IsOpen());
  EXPECT_FALSE(PathExists(victim));
}

}  // namespace
