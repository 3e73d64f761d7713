// Earlier runs that did not end: found, read strictly, and put back as they
// would have been at their end.
#include <algorithm>

#include "journal/journal_store.h"
#include "journal/run_journal.h"
#include "platform/run_log.h"

bool RunJournal::ReadEarlierRun(const std::wstring& name, uint64_t& lastSequence) {
  folder_ = JournalFolderOf(name);
  if (!ReadRecordIn(folder_, record_)) {
    LogLine(L"a run journal whose record can't be read is left as it is: \"%s\"", folder_.c_str());
    return false;
  }
  lastSequence = std::max(lastSequence, record_.sequence);
  if (record_.ended) return false;
  // Earlier versions wrote values and plans without their end line.
  const bool current = record_.format == kRecordFormat;
  std::wstring text;
  if (!ReadUtf16File(PathInJournal(kValuesFile), text) ||
      !ParseValuesText(text, values_, current)) {
    LogLine(L"the recorded values of run journal \"%s\" can't be read: the journal is left as it "
            L"is", folder_.c_str());
    return false;
  }
  const bool planned = ReadUtf16File(PathInJournal(kPlanFile), text);
  if (planned ? !ParsePlanText(text, plan_, record_.format)
              : record_.packageStage != PackageStage::None &&
                    record_.packageStage != PackageStage::Done) {
    LogLine(L"the package plan of run journal \"%s\" can't be read: the journal is left as it is",
            folder_.c_str());
    return false;
  }
  return true;
}

std::vector<RunJournal> RunJournal::Unfinished(uint64_t& lastSequence) {
  lastSequence = 0;
  std::vector<RunJournal> journals;
  for (const std::wstring& name : JournalFolderNames()) {
    RunJournal journal;
    if (journal.ReadEarlierRun(name, lastSequence)) journals.push_back(std::move(journal));
  }
  std::sort(journals.begin(), journals.end(), [](const RunJournal& a, const RunJournal& b) {
    return a.record_.sequence < b.record_.sequence;
  });
  return journals;
}

DWORD RunJournal::Recover(const std::wstring& byRun) {
  LogLine(L"the unfinished run %s (started %s) is put back as it would have been at its end",
          record_.id.c_str(), record_.started.c_str());
  // Recorded first: whoever looks at the journal sees which run is at it.
  record_.endNote = L"being put back by " + byRun;
  DWORD recorded = WriteRecord();
  if (recorded != ERROR_SUCCESS) return recorded;
  DWORD error = record_.phase == JournalRecord::Phase::Saved ? PutBackAfterInstaller()
                                                              : PutBackAsAtStart();
  if (error == ERROR_SUCCESS) Finish(byRun);
  return error;
}
