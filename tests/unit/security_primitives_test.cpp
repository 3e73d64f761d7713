// The pieces an elevated run relies on: the updater's own folder told in
// every form it can be started from.
#include <gtest/gtest.h>

#include <string>

#include "platform/path_identity.h"
#include "support/sandbox.h"

namespace {

using namespace testing_support;

TEST(OwnFolder, EveryFormOfTheProgramPathGivesItsFolder) {
  const struct {
    const wchar_t* program;
    const wchar_t* folder;
  } rows[] = {
      {L"E:\\vskr_updater.exe", L"E:"},
      {L"\\\\?\\E:\\vskr_updater.exe", L"E:"},
      {L"\\\\server\\share\\vskr_updater.exe", L"\\\\server\\share"},
      {L"\\\\?\\UNC\\server\\share\\vskr_updater.exe", L"\\\\server\\share"},
      {L"C:\\Updates\\Update 3\\vskr_updater.exe", L"C:\\Updates\\Update 3"},
      {L"E:vskr_updater.exe", L""},  // relative: no folder, so nothing is searched there
      {L"vskr_updater.exe", L""},
  };
  for (const auto& row : rows)
    EXPECT_EQ(row.folder, ComparableFolderOf(row.program)) << Narrow(row.program);
}

}  // namespace
