// What one run's journal records, as plain data, and its text form (the
// journal's "run.ini"): written whole and read whole, so that a reader
// never sees half an update. The rules that look only at records (which
// journals may go, whether a run left anything to put back) are here too;
// they touch no file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A file the run protects (Modules.ini, the settings file).
struct RecordedFile {
  // Where the backup copy ("<path>.upd") stands.
  enum class Slot {
    Free,      // this run holds no backup copy of the file
    Making,    // this run is making it: what is there may be incomplete
    Held,      // this run's complete backup copy waits to be restored
    Back,      // the file is put back; the backup copy is still to be released
    Released,  // put back, and no backup copy of this run is left at the slot
  };

  std::wstring name;          // the name of its copy in the journal ("Modules.ini")
  std::wstring path;          // where it was at the start of the run
  bool existed = false;       // it existed then; the journal holds its copy
  std::wstring digest;        // of that copy
  Slot slot = Slot::Free;
  std::wstring backupDigest;  // of the backup copy, once held
  // The journal's own file with the backup copy's content: the copy above
  // when the two are the same, else "<name>.upd".
  std::wstring backupCopy;
};

// How far a package run's transaction went: nothing changed yet, the plan
// recorded and the switch begun, every file switched, done (one version).
enum class PackageStage { None, Switching, Switched, Done };

// One file of a package run's plan.
struct PackageReplacement {
  std::wstring installed;  // the installed file the package replaces
  std::wstring staged;     // a name beside it: where an undo moves a new file before removing it
  std::wstring aside;      // where the installed file is renamed aside during the switch
};

// The record's format: 2 is written; 1 (no "format" line) is the one
// earlier versions of this program wrote, still read.
constexpr int kRecordFormat = 2;

struct JournalRecord {
  // Update mode: backups not yet complete (a stop puts everything back as
  // it was), or complete (the installer may run; what is put back is the
  // backup copies and the values).
  enum class Phase { Preparing, Saved };

  int format = kRecordFormat;
  std::wstring id;             // the run id, also the journal folder's name
  uint64_t sequence = 0;       // one more than any journal before it: the order of runs
  std::wstring started;        // local time, for people
  unsigned long process = 0;
  bool packageMode = false;
  std::wstring program;
  bool ended = false;
  std::wstring endNote;        // "ended", "recovered by <id>", ...
  Phase phase = Phase::Preparing;
  std::wstring language;       // to write back after the installer (empty: none)
  bool valuesBack = false;     // the values due are written back (never again)
  std::vector<RecordedFile> files;
  PackageStage packageStage = PackageStage::None;
};

// The record as the text of run.ini (UTF-16 lines: "[run]" with its
// "format" line first, one "[file]" section for each of the "files" it
// counts, "[end]" last; "key=value" lines), and back. ParseRecord is strict:
// it returns false for a text with a key missing, repeated or unknown, a
// value that can't be, a section too many or too few, no "[end]" or no line
// end after it (a record cut anywhere). A record without a "format" line is
// read as earlier versions wrote it (two [file] sections, all their keys,
// "note" and "language" optional, no end) or not at all.
std::wstring RecordText(const JournalRecord& record);
bool ParseRecord(const std::wstring& text, JournalRecord& record);

// A package plan as text (one "installed|staged|aside" line a file, then
// "[end]"), and back; ParsePlanText returns false for a line that is not of
// that form or a plan without its end (with `format` 1, the earlier form
// without an end line is read).
std::wstring PlanText(const std::vector<PackageReplacement>& plan);
bool ParsePlanText(const std::wstring& text, std::vector<PackageReplacement>& plan,
                   int format = kRecordFormat);

// True when the run the record tells of has nothing left to put back or to
// release: every backup copy it held is released (or was never made), an
// update run has written its values back and, when it stopped before its
// backups were complete, put each of its files back; a package run's
// transaction has not begun or is done. Finish records a run ended only then.
bool LeftNothingToPutBack(const JournalRecord& record);

// One journal found under the journal root, for the choice of what goes.
struct JournalSummary {
  std::wstring id;        // the folder's name
  bool readable = false;  // its record could be read
  uint64_t sequence = 0;
  bool ended = false;
};

// The journals to remove: of the ended ones, all but the `kept` latest by
// their recorded sequence (never by folder names or times, which a clock
// set back or ahead would reorder). Never `running`, never a journal that
// has not ended (its backup copies may still wait, readable or not), never
// one whose record can't be read.
std::vector<std::wstring> JournalsToRemove(const std::vector<JournalSummary>& journals,
                                           const std::wstring& running, size_t kept);
