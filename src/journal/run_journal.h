// The run journal: the one record of what a run protects and how far it
// got, in a folder of its own under
// "<common application data>\Quendris\QIRO\Journal\<run id>":
//   run.ini      the record (journal_record.h), rewritten whole at each step
//   values.reg   the values the run may write, as they were (recorded_values.h)
//   Modules.ini, qiro.ini   copies of the protected files as they were at
//                the start; "<name>.upd" where a backup copy differs from it
//   package.plan the files of a package run's transaction
// This class alone reads and writes these files and the backup copies
// ("<file>.upd") beside the protected files, with journal_store.h beneath it
// (where journals lie, a record read whole, an old journal removed, the
// lock); every put-back is driven from the record. Its steps live in files
// of their own: run_journal.cpp (the record, the journal's copies, the
// end), backup_slots.cpp (a backup copy made and its content kept in the
// journal, set aside, released),
// put_back.cpp (the two ways of putting back), recovery.cpp (earlier runs
// found and put back). While a run lasts it holds its journal's files open
// without delete sharing, so that an installer that removes the product's
// data folder can't take the copies with it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "journal/journal_record.h"
#include "journal/recorded_values.h"
#include "platform/unique_handle.h"
#include "text/tmk_string.h"

class RunJournal {
 public:
  RunJournal() = default;
  RunJournal(RunJournal&&) = default;
  RunJournal& operator=(RunJournal&&) = default;
  RunJournal(const RunJournal&) = delete;
  RunJournal& operator=(const RunJournal&) = delete;

  // A new run id, "YYYYMMDD-HHMMSS-<process id>".
  static std::wstring NewRunId();

  // Starts the journal of run `runId` before the run writes anything, as
  // the run after the one of `lastSequence` (what Unfinished found):
  // copies Modules.ini (under the product key's DATA_PATH) and the settings
  // file, records the values, writes the record ("running"), names the
  // folder in the run log. Returns
  // 0, or the system's error of what could not be recorded: the run must
  // then change nothing (what was made of the journal is removed again).
  [[nodiscard]] static DWORD Begin(const std::wstring& runId, uint64_t lastSequence,
                                   bool packageMode, RunJournal& journal);

  // The journals of earlier runs that have not ended (ended by a restart,
  // or a backup copy still waits), in the order they ran. A journal whose
  // record, values or plan can't be read (strictly: a field missing, cut or
  // malformed) is left as it is and logged. `lastSequence` receives the
  // highest sequence number of the journals whose record was read (0:
  // none), for Begin.
  static std::vector<RunJournal> Unfinished(uint64_t& lastSequence);

  const std::wstring& Id() const { return record_.id; }
  const std::wstring& Folder() const { return folder_; }
  bool IsPackageRun() const { return record_.packageMode; }

  // Update mode, before the installer: makes the backup copy of each
  // protected file that exists (an earlier copy at its name, which no
  // unfinished run holds any more, is set aside as "<file>.upd.<run id>",
  // or "<file>.upd.<run id>-2" and on when that name is taken; never
  // deleted), each compared with its original, and records the
  // language to write back after the installer. Returns 0 when the
  // installer may run, else the system's error (ERROR_DIRECTORY for a
  // folder at the backup's name, ERROR_INVALID_DATA for a copy that
  // differs); the caller then puts back what the run did (PutBackAsAtStart).
  [[nodiscard]] DWORD SaveBackups(const tmk_String& language);

  // Puts back what the run changed so far, for a run that stops before the
  // installer: each recorded value and file that differs from the record is
  // written back as it was at the start (a file that did not exist is
  // deleted), each recorded as back once it is; then the backup copies of
  // the files put back are released. What the record says is back already
  // is not written again. A file that could not be put back keeps its
  // backup copy and leaves the run unfinished, for the next run. Returns 0
  // or the first error; the run log tells each.
  [[nodiscard]] DWORD PutBackAsAtStart();

  // Puts back the configuration after the installer (or after it could not
  // start): the database variables the installer changed (only text values
  // that were set), the language into PHI_LANGUAGE, and each backed-up file
  // at the path recorded at the start, from its backup copy or, when that
  // is gone, changed or unreadable, from the journal's copy (the log says
  // which). The values are recorded as written back once they are, each file
  // as back once it is, before its backup copy is released; what the record
  // says is back is never written again. Returns 0 or the first error of the
  // values or of a file that could not be put back from either source (that
  // backup copy is kept, and the next run restores it). A backup copy that
  // can't be released is no error: it is logged and a later run releases it.
  [[nodiscard]] DWORD PutBackAfterInstaller();

  // For an unfinished earlier update run: puts back what its record says is
  // not back yet, as that run would have (as at its start when it stopped
  // before its backups were complete, else as after its installer),
  // releases the backup copies of what is back, and records it ended,
  // recovered by `byRun`, when nothing is left (Finish). Each file is
  // recorded as it is put back, so a run ended in the middle leaves the rest
  // to the next. Returns 0 or the first error of a put-back.
  [[nodiscard]] DWORD Recover(const std::wstring& byRun);

  // Records the run ended ("ended") when its record says it left nothing
  // to put back or release (LeftNothingToPutBack); otherwise the record
  // stays unfinished, for the next run, and the log says so. With `byRun`,
  // records that that run recovered it; without, removes the journals no
  // longer kept.
  void Finish(const std::wstring& byRun = std::wstring());

  // Package mode: the plan, before the first file is changed (stage
  // Switching), and each later stage. Return 0 or the system's error of the
  // record.
  [[nodiscard]] DWORD RecordPackagePlan(const std::vector<PackageReplacement>& plan);
  [[nodiscard]] DWORD RecordPackageStage(PackageStage stage);
  PackageStage PackageStageOf() const { return record_.packageStage; }
  const std::vector<PackageReplacement>& PackagePlan() const { return plan_; }

 private:
  // Writes run.ini beside itself, flushed, and renames it into place.
  [[nodiscard]] DWORD WriteRecord();
  // Copies a protected file into the journal and records it.
  [[nodiscard]] DWORD RecordFile(const wchar_t* name, const tmk_String& path);
  // Keeps the backup copy's content in the journal where it differs from
  // the copy of the start.
  [[nodiscard]] DWORD KeepBackupContent(RecordedFile& file, const std::wstring& digest);
  // Reads an earlier run's journal (record, values, plan) strictly; false
  // for one that can't be read (logged) or has ended.
  bool ReadEarlierRun(const std::wstring& name, uint64_t& lastSequence);
  [[nodiscard]] DWORD MakeBackup(RecordedFile& file);
  [[nodiscard]] DWORD ClearSlot(const std::wstring& slot);
  [[nodiscard]] DWORD PutBackValuesAsAtStart();
  [[nodiscard]] DWORD PutFileBackAsAtStart(const RecordedFile& file);
  [[nodiscard]] DWORD PutFileBackAfterInstaller(RecordedFile& file);
  [[nodiscard]] DWORD PutBackDatabaseVariables();
  [[nodiscard]] DWORD WriteBackLanguage();
  // Records the file put back: `back` while its slot still holds this run's
  // copy, `released` when it never held one. Returns the record's error.
  [[nodiscard]] DWORD RecordBack(RecordedFile& file);
  // For a file recorded back (or a copy still being made): removes the
  // backup copy when it holds this run's content, else sets it aside, and
  // records it released; a failure leaves it as it was, for a later run.
  // Never copies or writes a protected file.
  void ReleaseSlot(RecordedFile& file);
  void HoldOpen(const std::wstring& path);
  std::wstring PathInJournal(const std::wstring& name) const;

  std::wstring folder_;
  JournalRecord record_;
  std::vector<RecordedValue> values_;
  std::vector<PackageReplacement> plan_;
  std::vector<vskr::UniqueFileHandle> held_;
};
