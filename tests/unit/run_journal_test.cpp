// The run journal's record on its own: which journals may go, and the
// record, values and plan files read back as written. The run log takes a
// second writer and survives a failed rotation.
#include "journal/journal_store.h"
#include "journal/run_journal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/run_log.h"
#include "support/sandbox.h"

namespace {

using namespace testing_support;

// The running run and every journal that has not ended or can't be read
// stay, whatever their numbers say; of the ended ones the latest by their
// recorded sequence stay (a clock set back or ahead reorders the names).
TEST(RunJournal, OnlyEndedJournalsBeyondTheLatestGo) {
  struct Row {
    const char* situation;
    std::vector<JournalSummary> journals;  // id, readable, sequence, ended
    std::vector<std::wstring> removed;
  };
  const Row rows[] = {
      {"six ended and the running one",
       {{L"a", true, 1, true}, {L"b", true, 2, true}, {L"c", true, 3, true}, {L"d", true, 4, true},
        {L"e", true, 5, true}, {L"f", true, 6, true}, {L"now", true, 7, false}},
       {L"a"}},
      {"five ended dated ahead of the clock",
       {{L"29990101-1", true, 1, true}, {L"29990101-2", true, 2, true}, {L"29990101-3", true, 3, true},
        {L"29990101-4", true, 4, true}, {L"29990101-5", true, 5, true}, {L"20261207-1", true, 6, false}},
       {}},
      {"an old unfinished one whose backup waits, another unreadable",
       {{L"old", true, 1, false}, {L"junk", false, 0, false}, {L"b", true, 2, true},
        {L"c", true, 3, true}, {L"d", true, 4, true}, {L"e", true, 5, true}, {L"f", true, 6, true},
        {L"g", true, 7, true}, {L"now", true, 8, false}},
       {L"b"}},
      {"the running one is ended already", {{L"now", true, 1, true}}, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.situation);
    EXPECT_EQ(row.removed, JournalsToRemove(row.journals, L"now", kJournalsKept));
  }
}

TEST(RunJournal, RecordValuesAndPlanReadBackAsWritten) {
  JournalRecord record;
  record.id = L"20261207-101500-42";
  record.sequence = 9;
  record.packageMode = false;
  record.program = L"C:\\Update 24\\vskr_updater.exe";
  record.phase = JournalRecord::Phase::Saved;
  record.hasLanguage = true;
  record.language = L" Deutsch = de ";
  record.packageStage = PackageStage::Switching;
  record.files.push_back({L"Modules.ini", L"C:\\Data \u00e4\\Modules.ini", true, L"00ff", RecordedFile::Slot::Held,
                          L"00ff", L"Modules.ini"});
  record.files.push_back({L"qiro.ini", L"", false, L"", RecordedFile::Slot::Free, L"", L""});
  JournalRecord read;
  ASSERT_TRUE(ParseRecord(RecordText(record), read));
  EXPECT_EQ(RecordText(record), RecordText(read));
  EXPECT_FALSE(ParseRecord(L"[run]\r\nstate=backup kept\r\n", read));  // another program's record

  std::vector<RecordedValue> values(4);
  values[0] = {L"SOFTWARE\\Quendris\\VESKARO", L"PHI_LANGUAGE", true, REG_SZ, {'E', 0, 'n', 0}};
  values[1] = {L"SOFTWARE\\Quendris\\VESKARO", L"PROJECT_PATH", false, REG_NONE, {}};
  values[2] = {L"SYSTEM\\Env", L"VERSANT_DBID", true, REG_EXPAND_SZ, {'%', 0, 'X', 0, '%', 0, 0, 0}};
  values[3] = {L"SYSTEM\\Env", L"VERSANT_DB", true, REG_MULTI_SZ, {'a', 0, '\r', 0, 0, 0, 0, 0}};
  std::vector<RecordedValue> parsed = ParseValuesText(ValuesText(record.id, values));
  ASSERT_EQ(values.size(), parsed.size());
  for (size_t i = 0; i < values.size(); ++i) {
    EXPECT_TRUE(values[i].SameAs(parsed[i])) << i;
    EXPECT_EQ(values[i].key + values[i].name, parsed[i].key + parsed[i].name);
  }

  const std::vector<PackageReplacement> plan = {
      {L"C:\\P\\a.dll", L"C:\\P\\a.dll.new", L"C:\\P\\a.dll.old"}, {L"C:\\Q b\\c", L"d", L"e"}};
  std::vector<PackageReplacement> planRead;
  ASSERT_TRUE(ParsePlanText(PlanText(plan), planRead));
  EXPECT_EQ(PlanText(plan), PlanText(planRead));
  EXPECT_FALSE(ParsePlanText(L"C:\\P\\a.dll|only two\r\n", planRead));
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
