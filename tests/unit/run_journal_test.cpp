// The run journal's record on its own: which journals may go, the record,
// values and plan files read strictly, when a run counts as ended, the exit
// code of a run's steps. The run log takes a
// second writer and survives a failed rotation.
#include "journal/journal_store.h"
#include "journal/run_journal.h"
#include "journal/run_outcome.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
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

// A whole record for the tables below: an update run that saved its backups.
JournalRecord SampleRecord() {
  JournalRecord record;
  record.id = L"20261207-101500-42";
  record.sequence = 9;
  record.program = L"C:\\Update 24\\vskr_updater.exe";
  record.phase = JournalRecord::Phase::Saved;
  record.language = L" Deutsch = de ";
  record.files.push_back({L"Modules.ini", L"C:\\Data \u00e4\\Modules.ini", true, L"00ff",
                          RecordedFile::Slot::Back, L"00ff", L"Modules.ini"});
  record.files.push_back({L"qiro.ini", L"", false, L"", RecordedFile::Slot::Free, L"", L""});
  return record;
}

std::wstring Cut(const std::wstring& text, size_t fifths) { return text.substr(0, text.size() * fifths / 5); }
std::wstring Without(std::wstring text, const std::wstring& part, const std::wstring& by = L"") {
  return text.replace(text.find(part), part.size(), by);
}

// What a power cut, a hand edit or another program leaves is no record: read
// strictly, a record, values or plan file missing any part is unreadable,
// never read with defaults; the form earlier versions wrote is still read.
TEST(RunJournal, RecordValuesAndPlanAreReadWholeOrNotAtAll) {
  const std::wstring record = RecordText(SampleRecord());
  const std::wstring earlier =
      L"[run]\r\nid=20240101-000000-1\r\nsequence=3\r\nstarted=x\r\nprocess=1\r\nmode=update\r\n"
      L"program=p\r\nstate=running\r\nphase=saved\r\npackage=staging\r\n";
  const std::wstring earlierFile = L"\r\n[file]\r\nname=Modules.ini\r\npath=C:\\M.ini\r\nexisted=yes\r\n"
                                   L"digest=01\r\nslot=held\r\nbackup digest=01\r\nbackup copy=Modules.ini\r\n";
  std::vector<RecordedValue> values(3);
  values[0] = {L"SOFTWARE\\Quendris\\VESKARO", L"PHI_LANGUAGE", true, REG_SZ, {'E', 0, 'n', 0}};
  values[1] = {L"SOFTWARE\\Quendris\\VESKARO", L"PROJECT_PATH", false, REG_NONE, {}};
  values[2] = {L"SYSTEM\\Env", L"VERSANT_DBID", true, REG_EXPAND_SZ, {'%', 0, 'X', 0, 0, 0}};
  const std::wstring reg = ValuesText(L"r", values);
  const std::vector<PackageReplacement> plan = {{L"C:\\P\\a.dll", L"C:\\P\\a.dll.new", L"C:\\P\\a.old"},
                                                {L"C:\\Q b\\c", L"d", L"e"}};
  const std::wstring planText = PlanText(plan);
  enum Kind { Record, Values, Plan };
  const std::tuple<const char*, Kind, std::wstring, bool> rows[] = {
      {"a whole record", Record, record, true},
      {"a record cut at two fifths", Record, Cut(record, 2), false},
      {"a record cut at three fifths", Record, Cut(record, 3), false},
      {"a record cut before its end line", Record, Without(record, L"[end]\r\n"), false},
      {"a record cut in its last line end", Record, record.substr(0, record.size() - 1), false},
      {"a record without existed=", Record, Without(record, L"existed=yes\r\n"), false},
      {"a record with an unknown key", Record, Without(record, L"[end]", L"extra=1\r\n[end]"), false},
      {"a record with a malformed number", Record, Without(record, L"sequence=9", L"sequence=9x"), false},
      {"a record counting more files", Record, Without(record, L"files=2", L"files=3"), false},
      {"a record of the earlier form", Record, earlier + earlierFile + earlierFile, true},
      {"a record of the earlier form with one file", Record, earlier + earlierFile, false},
      {"values whole", Values, reg, true},
      {"values cut at three fifths", Values, Cut(reg, 3), false},
      {"values with truncated hex", Values, Without(reg, L"58,00,00,00", L"5"), false},
      {"values with a trailing comma", Values, Without(reg, L"00,00,00"), false},
      {"values with a line of no form", Values, L"Windows Registry Editor Version 5.00\r\nx\r\n", false},
      {"a whole plan", Plan, planText, true},
      {"a plan without its end", Plan, Without(planText, L"[end]\r\n"), false},
      {"a plan line of two parts", Plan, L"C:\\P\\a.dll|only two\r\n[end]\r\n", false},
  };
  for (const auto& [situation, kind, text, readable] : rows) {
    SCOPED_TRACE(situation);
    JournalRecord read;
    std::vector<RecordedValue> valuesRead;
    std::vector<PackageReplacement> planRead;
    const bool parsed = kind == Record   ? ParseRecord(text, read)
                        : kind == Values ? ParseValuesText(text, valuesRead)
                                         : ParsePlanText(text, planRead);
    EXPECT_EQ(readable, parsed);
    if (!readable || (kind == Record && text != record)) continue;
    EXPECT_EQ(kind == Record ? text : kind == Plan ? planText : reg,
              kind == Record ? RecordText(read) : kind == Plan ? PlanText(planRead)
                                                                : ValuesText(L"r", valuesRead));
  }
}

// A run is recorded ended only once nothing it changed waits to be put back
// or released.
TEST(RunJournal, RunEndsOnlyWhenNothingWaits) {
  using Change = std::function<void(JournalRecord&)>;
  const std::pair<const char*, Change> unfinished[] = {
      {"a backup copy put back, not yet released", [](JournalRecord&) {}},
      {"a backup copy still held", [](JournalRecord& r) { r.files[0].slot = RecordedFile::Slot::Held; }},
      {"values not yet written back", [](JournalRecord& r) {
         r.files[0].slot = RecordedFile::Slot::Released;
         r.valuesBack = false;
       }},
      {"stopped early, a file not put back", [](JournalRecord& r) {
         r.phase = JournalRecord::Phase::Preparing;
         r.files[0].slot = RecordedFile::Slot::Free;
       }},
      {"a package switch not done", [](JournalRecord& r) {
         r.packageMode = true;
         r.files[0].slot = RecordedFile::Slot::Free;
         r.packageStage = PackageStage::Switched;
       }},
  };
  for (const auto& [situation, change] : unfinished) {
    SCOPED_TRACE(situation);
    JournalRecord record = SampleRecord();
    record.valuesBack = true;
    change(record);
    EXPECT_FALSE(LeftNothingToPutBack(record));
    record.files[0].slot = RecordedFile::Slot::Released;
    record.valuesBack = true;
    record.packageStage = PackageStage::Done;
    EXPECT_TRUE(LeftNothingToPutBack(record));  // once each is done
  }
}

// A failed step wins over a success code; the first failure stays.
TEST(RunJournal, FailureWinsOverSuccessCodes) {
  const DWORD rows[][3] = {{3010, 32, 32}, {0, 3010, 3010}, {3010, 0, 3010}, {0, 0, 0},
                           {1602, 32, 1602}, {0, 5, 5}, {1641, 2, 2}};
  for (const auto& row : rows) EXPECT_EQ(row[2], CombinedOutcome(row[0], row[1])) << row[0] << " " << row[1];
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
